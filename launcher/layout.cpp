// The working folder the layout is built from, a path's last name, and the
// kept versions' names.
#include "launcher/layout.h"

#include "launcher/platform.h"

Text TimeName(std::uint64_t fileTime) {
    std::uint64_t seconds = fileTime / 10000000;
    const unsigned secondOfDay = static_cast<unsigned>(seconds % 86400);
    // Days since 1601-01-01 to a civil date, by 400-year eras from 0000-03-01.
    std::int64_t days = static_cast<std::int64_t>(seconds / 86400) + 584694;
    const std::int64_t era = days / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const unsigned day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const unsigned month =
        static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    auto two = [](unsigned value) {
        return Text{static_cast<char16_t>(u'0' + value / 10),
                    static_cast<char16_t>(u'0' + value % 10)};
    };
    return DecimalText(year) + u"-" + two(month) + u"-" + two(day) + u"-" +
           two(secondOfDay / 3600) + two(secondOfDay / 60 % 60) + two(secondOfDay % 60);
}

namespace {

bool IsDigits(TextView text) {
    for (char16_t unit : text) {
        if (unit < u'0' || unit > u'9') return false;
    }
    return !text.empty();
}

}  // namespace

Text ReadWorkingFolder() {
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

Text ReadProgramFolder() {
    const Text program = Inputs().ProgramPath();
    const std::size_t cut = program.rfind(u'\\');
    return cut == Text::npos ? Text() : program.substr(0, cut + 1);
}

TextView LastName(TextView path) {
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    const std::size_t cut = path.rfind(u'\\');
    return cut == TextView::npos ? path : path.substr(cut + 1);
}

Text GameLayout::KeptName(std::uint64_t lastWrite, unsigned number) {
    Text name = GameLayout::kKeptPrefix + TimeName(lastWrite);
    if (number > 0) name += u"-" + DecimalText(number + 1);
    return name + GameLayout::kKeptSuffix;
}

bool GameLayout::IsKeptName(TextView name) {
    const TextView prefix = kKeptPrefix;
    const TextView suffix = kKeptSuffix;
    if (name.size() < prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - suffix.size()) != suffix) {
        return false;
    }
    if (IsUntoldKeptName(name)) name.remove_suffix(TextView(kUntoldMark).size());
    // "YYYY-MM-DD-hhmmss", then "-N" for a name that was taken.
    TextView time = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::size_t numbered = time.size() > 17 ? 17 : TextView::npos;
    if (numbered != TextView::npos) {
        if (time[numbered] != u'-' || !IsDigits(time.substr(numbered + 1))) return false;
        time = time.substr(0, numbered);
    }
    return time.size() == 17 && IsDigits(time.substr(0, 4)) && time[4] == u'-' &&
           IsDigits(time.substr(5, 2)) && time[7] == u'-' && IsDigits(time.substr(8, 2)) &&
           time[10] == u'-' && IsDigits(time.substr(11, 6));
}

bool GameLayout::IsUntoldKeptName(TextView name) {
    const Text untold = Text(kUntoldMark) + kKeptSuffix;
    return name.size() > untold.size() && name.substr(name.size() - untold.size()) == untold;
}

Text GameLayout::UntoldKeptPath(const Text& keptPath) {
    const TextView suffix = kKeptSuffix;
    return keptPath.substr(0, keptPath.size() - suffix.size()) + kUntoldMark + kKeptSuffix;
}

Text GameLayout::ToldKeptPath(const Text& keptPath) {
    if (!IsUntoldKeptName(LastName(keptPath))) return keptPath;
    const Text untold = Text(kUntoldMark) + kKeptSuffix;
    return keptPath.substr(0, keptPath.size() - untold.size()) + kKeptSuffix;
}

bool GameLayout::IsProbe(TextView path) { return LastName(path) == kProbeName; }
