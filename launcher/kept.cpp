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

bool KeptListFull(const GameLayout& paths) { return KeptVersions(paths).size() >= kKeptAtMost; }

StepFailure NoRoomToKeep(const Text& path) {
    return {kKeepAsideAction, path, 0, StepFailure::Why::NoRoomToKeep};
}

bool IsNoRoom(const std::optional<StepFailure>& failed) {
    return failed && failed->why == StepFailure::Why::NoRoomToKeep;
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
    return told != untold && MoveToFree(untold, told).ok;
}
