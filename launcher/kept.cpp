// The versions kept aside: listing them, and keeping one more.
#include "launcher/kept.h"

#include "launcher/fault_hook.h"
#include "launcher/file_steps.h"
#include "launcher/file_system.h"
#include "launcher/platform.h"

namespace {

constexpr const char16_t* kKeepAsideAction = u"keep aside";

}  // namespace

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

KeptSummary SumUpKept(const GameLayout& paths) {
    KeptSummary summary;
    std::uint64_t oldestTime = 0;
    for (const Text& path : KeptVersions(paths)) {
        ++summary.count;
        FileStamp stamp;
        if (!Files().ReadFileStamp(path, stamp)) continue;
        summary.bytes += stamp.size;
        if (summary.oldest.empty() || stamp.lastWrite < oldestTime) {
            summary.oldest = GameLayout::ToldKeptPath(path);
            oldestTime = stamp.lastWrite;
        }
    }
    return summary;
}

Kept KeepAside(const GameLayout& paths, const Text& path) {
    // A stamp that cannot be read names the version by the earliest time;
    // the name stays free of any other all the same.
    FileStamp stamp;
    (void)Files().ReadFileStamp(path, stamp);
    OsResult moved{false, kErrorAlreadyExists};
    for (unsigned number = 0; number < 100; ++number) {
        // Untold until the player has read its name: a kill before that
        // leaves it to be told by the next run.
        const Text told = paths.KeptVersion(GameLayout::KeptName(stamp.lastWrite, number));
        if (IsExistingFile(told)) continue;
        const Text as = GameLayout::UntoldKeptPath(told);
        ClearBlockingAttributes(path);
        moved = MoveToFree(path, as);
        if (moved) {
            FaultPoint("kept");  // a run stopped between keeping and telling
            return {as, std::nullopt};
        }
        if (!IsNameTaken(moved.error)) break;
    }
    return {{}, StepFailure{kKeepAsideAction, path, moved.error}};
}

std::vector<Text> UntoldKeptVersions(const GameLayout& paths) {
    std::vector<Text> untold;
    std::vector<FolderEntry> entries;
    if (!Files().ListFolder(paths.UntoldKeptPattern(), entries)) return untold;
    for (const FolderEntry& entry : entries) {
        if (!entry.isFolder && GameLayout::IsUntoldKeptName(entry.name))
            untold.push_back(paths.KeptVersion(entry.name));
    }
    return untold;
}

bool NameToldKeptVersion(const Text& untold) {
    const Text told = GameLayout::ToldKeptPath(untold);
    // A virus scanner looks at a new file for a moment: tried again like
    // every other change, so that a version told is not said to be untold.
    return told != untold && WithRetries([&] { return MoveToFree(untold, told); }).ok;
}
