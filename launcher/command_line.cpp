#include "launcher/command_line.h"

#include "launcher/platform.h"

Text ReadToken(const char16_t*& position) {
    const char16_t*& p = position;
    // Blanks and pairs of adjacent quotes between tokens vanish together.
    for (;;) {
        if (IsBlank(*p)) {
            ++p;
        } else if (p[0] == u'"' && p[1] == u'"') {
            p += 2;
        } else {
            break;
        }
    }
    Text token;
    while (*p != 0 && !IsBlank(*p)) {
        if (*p == u'"') {
            ++p;
            while (*p != 0 && *p != u'"') token += *p++;
            if (*p == u'"') ++p;
        } else {
            token += *p++;
        }
    }
    return token;
}

std::vector<Text> CommandLineArguments(const char16_t* commandLine) {
    const char16_t* position = commandLine;
    ReadToken(position);  // the program's own name, as the caller wrote it
    std::vector<Text> arguments;
    for (;;) {
        Text token = ReadToken(position);
        if (token.empty()) break;  // only the end of the line gives an empty token
        arguments.push_back(std::move(token));
    }
    return arguments;
}

Text FormBaseFolder() {
    // 260 characters and the zero suffice for most folders; a deeper one is
    // read whole with the room the platform says it needs.
    std::u16string buffer(261, u'\0');
    for (;;) {
        std::uint32_t needed =
            Inputs().CurrentDirectory(static_cast<std::uint32_t>(buffer.size()), buffer.data());
        if (needed <= buffer.size()) break;
        buffer.assign(needed, u'\0');
    }
    Text folder = buffer.substr(0, buffer.find(u'\0'));  // up to the first zero unit
    folder += u'\\';
    return folder;
}

Text ForwardedArgsOf(const char16_t* commandLine) {
    Text forwarded;
    for (const Text& argument : CommandLineArguments(commandLine)) {
        forwarded += u' ';
        forwarded += argument;
    }
    return forwarded;
}

Text FormForwardedArgs() { return ForwardedArgsOf(Inputs().CommandLine()); }
