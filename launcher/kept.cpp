#include "launcher/kept.h"

#include "launcher/file_steps.h"
#include "launcher/file_system.h"
#include "launcher/platform.h"

namespace {

// A time of the file system (100 ns steps since 1601, UTC) as
// "YYYY-MM-DD-hhmmss".
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

constexpr const char16_t* kKeepAsideAction = u"keep aside";

}  // namespace

Text KeptName(std::uint64_t lastWrite, unsigned number) {
    Text name = GameLayout::kKeptPrefix + TimeName(lastWrite);
    if (number > 0) name += u"-" + DecimalText(number + 1);
    return name + GameLayout::kKeptSuffix;
}

std::vector<Text> KeptVersions(const GameLayout& paths) {
    std::vector<Text> kept;
    if (IsExistingFile(paths.OldKeptVersion())) kept.push_back(paths.OldKeptVersion());
    std::vector<FolderEntry> entries;
    if (!Files().ListFolder(paths.KeptVersionsPattern(), entries)) return kept;
    for (const FolderEntry& entry : entries) {
        if (!entry.isFolder) kept.push_back(paths.KeptVersion(entry.name));
    }
    return kept;
}

StepFailure NoRoomToKeep(const Text& path) { return {kKeepAsideAction, path, 0}; }

bool IsNoRoom(const std::optional<StepFailure>& failed) {
    return failed && failed->action == kKeepAsideAction && failed->error == 0;
}

Kept KeepAside(const GameLayout& paths, const Text& path) {
    if (KeptVersions(paths).size() >= kKeptAtMost) return {{}, NoRoomToKeep(path)};
    // A stamp that cannot be read names the version by the earliest time;
    // the name stays free of any other all the same.
    FileStamp stamp;
    Files().ReadFileStamp(path, stamp);
    OsResult moved;
    for (unsigned number = 0; number < 100; ++number) {
        const Text as = paths.KeptVersion(KeptName(stamp.lastWrite, number));
        ClearBlockingAttributes(path);
        moved = MoveToFree(path, as);
        if (moved) return {as, std::nullopt};
        if (!IsNameTaken(moved.error)) break;
    }
    return {{}, StepFailure{kKeepAsideAction, path, moved.error}};
}
