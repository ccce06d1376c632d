// The launcher's command line read into the arguments handed to the game.
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

Text ForwardedArgsOf(const char16_t* commandLine) {
    Text forwarded;
    for (const Text& argument : CommandLineArguments(commandLine)) {
        forwarded += u' ';
        forwarded += argument;
    }
    return forwarded;
}

Text FormForwardedArgs() { return ForwardedArgsOf(Inputs().CommandLine()); }
