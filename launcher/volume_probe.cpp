// The volume's behaviour, measured on a probe file of the launcher's own.
#include "launcher/volume_probe.h"

#include <map>

#include "launcher/gate.h"
#include "launcher/layout.h"
#include "launcher/platform.h"

namespace {

// The pauses between tries, in milliseconds: past a tick of any clock that
// stamps files (4 or 10 ms on Linux, 15.6 ms on Windows, 10 ms on exFAT),
// and a little more for a share's clock; the launcher waits no longer.
constexpr std::uint32_t kPausesMs[] = {1, 1, 2, 4, 8, 16, 32, 64};
constexpr std::uint64_t kDay = std::uint64_t{24} * 60 * 60 * 10000000;  // in file-time units

// What each folder's volume was seen to do in this run: whether its change
// times prove anything. Every look of the gate asks, and the gate's look is
// a free function with no run to carry it; the verdicts belong to the
// installed platform (the files they were measured through), and are
// forgotten when a platform is installed (ForgetVolumeVerdicts).
std::map<Text, bool>& Verdicts() {
    static std::map<Text, bool> verdicts;
    return verdicts;
}

// A time well before the last write; never 0, which would set nothing.
std::uint64_t TimeBefore(std::uint64_t lastWrite) {
    return lastWrite > 2 * kDay ? lastWrite - kDay : lastWrite / 2;
}

// Sets the probe's last-write time back, again after growing pauses, until
// its change time is past `than`. False when the change time went back
// with the last-write time (it follows it and proves nothing), or does not
// get past within the pauses.
bool ChangeTimeMovesPast(const Text& probe, const FileLook& made, std::uint64_t than) {
    const std::uint64_t back = TimeBefore(made.stamp.lastWrite);
    if (back == 0) return false;
    for (std::size_t tries = 0;; ++tries) {
        FileLook now;
        if (!Files().SetLastWriteTime(probe, back) || !Files().ReadFileLook(probe, now) ||
            now.identity != made.identity || now.changeTime < made.changeTime) {
            return false;
        }
        if (now.changeTime > than) return true;
        if (tries == std::size(kPausesMs)) return false;
        Files().Pause(kPausesMs[tries]);
    }
}

// What the probe file in the folder shows; `measure` reads it, made a moment
// ago. The file is made and removed through the gate, and not in a
// destructor: a removal is a call like any other, which may fail or be the
// last the process makes. One that stays is removed by the next probe of
// its folder.
template <typename Measure>
bool WithProbeFile(const Text& folder, OsResult& made, Measure measure) {
    const Text probe = GameLayout::ProbeIn(folder);
    made = MakeProbeFile(probe);
    if (!made) return false;
    FileLook look;
    const bool shown = Files().ReadFileLook(probe, look) && measure(probe, look);
    (void)RemoveProbeFile(probe);  // not checked: see above
    return shown;
}

}  // namespace

Text FolderOf(const Text& path) {
    const std::size_t last = path.find_last_of(u'\\');
    return last == Text::npos ? Text() : path.substr(0, last);
}

bool ChangeTimesProveIn(const Text& folder) {
    const auto known = Verdicts().find(folder);
    if (known != Verdicts().end()) return known->second;
    // Right after a write the two times may be equal: only a last-write
    // time set back tells a change time that follows it from one that moves.
    OsResult made;
    const bool proves = WithProbeFile(folder, made, [](const Text& probe, const FileLook& look) {
        return look.changeTime != 0 && ChangeTimeMovesPast(probe, look, look.changeTime);
    });
    // A folder not there yet (made later in the run) is asked again then.
    if (made || made.error != kErrorPathNotFound) Verdicts()[folder] = proves;
    return proves;
}

bool ChangeTimePassedIn(const Text& folder, std::uint64_t changeTime) {
    if (changeTime == 0) return false;
    OsResult made;
    return WithProbeFile(folder, made, [&](const Text& probe, const FileLook& look) {
        return look.changeTime > changeTime || ChangeTimeMovesPast(probe, look, changeTime);
    });
}

void RemoveProbesLeft(const GameLayout& paths) {
    for (const Text& file : {paths.LiveArchive(), paths.GameArchiveBackup(), paths.ModArchive(),
                             paths.ModArchiveBackup()}) {
        // Not checked: one that stays is removed by the next probe there.
        (void)RemoveProbeFile(GameLayout::ProbeIn(FolderOf(file)));
    }
}

void ForgetVolumeVerdicts() { Verdicts().clear(); }
