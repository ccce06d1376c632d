#!/usr/bin/env python3
"""Start of the launcher to start of the game, the archive work within it,
and the game's end to the launcher's exit: launchers side by side (the
current one, an earlier release, and the floor: the smallest launcher with a
shell), on the same game tree, taking turns.

    bench-release.py STANDIN.exe FLOOR.exe STARTS SIZES TREES NAME=LAUNCHER.exe... REFERENCE=LAUNCHER.exe

SIZES   the archives' sizes in MiB, comma-separated (4,64,1024)
TREES   which trees, comma-separated: "real", as an ordinary run leaves it
        (each backup with its archive's bytes and last-write time, as a copy
        keeps it), and "copy", each backup written after its archive, with a
        later time, so that a launcher that trusts the times copies again

The ratios are against the last launcher named, and against the floor.

The tree is made once for each size and kept: every launcher's ordinary run
leaves it as it found it (the game's archive live, both backups, the lock
file, no marker), and the benchmark stops when one does not. Before each
start the backups' times are set for the tree, the launcher is copied in,
the game's report is removed, everything is synced to the disk, and Wine's
own processes are given 0.3 s to settle; the files stay in the page cache,
as for a player's second start. The stand-in
game ends at once.

The game's start is the moment its process appears: with this process made
the reaper of orphans, Wine's new processes become its children, and the
game's is found among them without scanning all of /proc. The archive work
is timed from the first event on a file of the game's or the mod's folders
and their backup folders (an open, a creation, a rename, a removal: inotify),
whatever file the launcher touches first, to the game's start. The way back
is timed from the moment the game's process has ended (a zombie, or gone) to
the launcher's exit (0 where the launcher was gone first). Two rounds, each the median of the starts of each
launcher. Prints figures; asserts nothing about them. Run it through
tools/bench-release.sh, which builds the launchers and provides Wine and a
display.
"""
import ctypes
import os
import platform
import shutil
import statistics
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("MODLAUNCHER_BUILD", os.path.join(ROOT, "build-x64"))
GAME = os.path.join(BUILD, "bench-release-game", "Game")
MOD = os.path.join(GAME, "mods", "benchmod")
CONTENT = os.path.join(GAME, "mods", "bf2")
ARCHIVE = "Shaders_client.zip"
LOCK = "ModLauncher.lock"
PROGRAM = "ModLauncher.exe"
REPORT = os.path.join(GAME, "standin-report.txt")
LIVE = os.path.join(CONTENT, ARCHIVE)
GAME_BACKUP = os.path.join(CONTENT, "Backup", ARCHIVE)
MOD_ARCHIVE = os.path.join(MOD, ARCHIVE)
MOD_BACKUP = os.path.join(MOD, "Backup", ARCHIVE)
# What each file of the tree holds, by the tag that opens it: the tags tell
# in the game's report which archive was live.
GAME_TAG = b"GAME-ARCHIVE----"
MOD_TAG = b"MOD-ARCHIVE-----"
HOLDS = {LIVE: GAME_TAG, GAME_BACKUP: GAME_TAG, MOD_ARCHIVE: MOD_TAG, MOD_BACKUP: MOD_TAG}
# Every file the tree's folders may hold after an ordinary run.
ALLOWED = {
    CONTENT: {ARCHIVE, "Backup"},
    os.path.join(CONTENT, "Backup"): {ARCHIVE, LOCK},
    MOD: {ARCHIVE, "Backup", PROGRAM},
    os.path.join(MOD, "Backup"): {ARCHIVE},
}
ROUNDS = 2
SETTLE_SECONDS = 0.3
FLOOR = "floor"
PR_SET_CHILD_SUBREAPER = 36
MIB = 1024 * 1024


def make_reaper():
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit(f"prctl(PR_SET_CHILD_SUBREAPER) failed: {os.strerror(ctypes.get_errno())}")


def children():
    found = []
    for task in os.listdir("/proc/self/task"):
        try:
            with open(f"/proc/self/task/{task}/children") as f:
                found += f.read().split()
        except OSError:
            pass
    return found


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read()
    except OSError:
        return b""


def is_game(command):
    """The stand-in started from this tree, by whatever spelling of its path."""
    return b"\\bench-release-game\\Game\\" in command and b"BF2.exe" in command


def reap():
    """Wine's processes that ended after they came to this process."""
    try:
        while os.waitpid(-1, os.WNOHANG)[0]:
            pass
    except ChildProcessError:
        pass


class FileWatch:
    """The first moment a file of some folders is touched, by any process:
    opened, made, renamed or removed (inotify)."""

    IN_OPEN, IN_MOVED_FROM, IN_MOVED_TO, IN_CREATE, IN_DELETE = 0x20, 0x40, 0x80, 0x100, 0x200
    IN_NONBLOCK, IN_CLOEXEC = 0o4000, 0o2000000
    HEADER = struct.Struct("iIII")

    def __init__(self, folders, ignored):
        libc = ctypes.CDLL(None, use_errno=True)
        self.ignored = ignored
        self.fd = libc.inotify_init1(self.IN_NONBLOCK | self.IN_CLOEXEC)
        mask = self.IN_OPEN | self.IN_MOVED_FROM | self.IN_MOVED_TO | self.IN_CREATE | self.IN_DELETE
        for folder in folders:
            if self.fd < 0 or libc.inotify_add_watch(self.fd, folder.encode(), mask) < 0:
                sys.exit(f"inotify on {folder} failed: {os.strerror(ctypes.get_errno())}")

    def touched(self):
        """Whether a file other than the ignored ones was touched since the
        last call. The folders' own events (no name) are not counted."""
        found = False
        while True:
            try:
                events = os.read(self.fd, 65536)
            except BlockingIOError:
                return found
            at = 0
            while at < len(events):
                _, _, _, length = self.HEADER.unpack_from(events, at)
                at += self.HEADER.size
                name = events[at:at + length].rstrip(b"\0")
                found |= bool(name) and name not in self.ignored
                at += length

    def close(self):
        os.close(self.fd)


def write_archive(path, tag, size):
    """An archive of random bytes opened by its tag, written in parts."""
    part = 64 * MIB
    with open(path, "wb") as f:
        f.write(tag)
        left = size - len(tag)
        while left:
            f.write(os.urandom(min(part, left)))
            left -= min(part, left)


def make_tree(size):
    shutil.rmtree(os.path.dirname(GAME), ignore_errors=True)
    os.makedirs(os.path.join(MOD, "Backup"))
    os.makedirs(os.path.join(CONTENT, "Backup"))
    write_archive(LIVE, GAME_TAG, size)
    write_archive(MOD_ARCHIVE, MOD_TAG, size)
    shutil.copy2(LIVE, GAME_BACKUP)
    shutil.copy2(MOD_ARCHIVE, MOD_BACKUP)
    open(os.path.join(CONTENT, "Backup", LOCK), "wb").close()
    os.sync()


def starts_with(path, tag):
    try:
        with open(path, "rb") as f:
            return f.read(len(tag)) == tag
    except OSError:
        return False


def check_tree(after, size):
    """The tree as an ordinary run leaves it; the benchmark stops where not."""
    for folder, allowed in ALLOWED.items():
        extra = sorted(set(os.listdir(folder)) - allowed)
        if extra:
            sys.exit(f"after {after}: {folder} holds {', '.join(extra)}, which an ordinary run leaves not")
    for path, tag in HOLDS.items():
        if not starts_with(path, tag) or os.path.getsize(path) != size:
            sys.exit(f"after {after}: {path} does not hold the {tag.decode().rstrip('-')} of {size} bytes")


def set_times(tree):
    """Each backup's last-write time: its archive's (real), or a second later (copy)."""
    for archive, backup in ((LIVE, GAME_BACKUP), (MOD_ARCHIVE, MOD_BACKUP)):
        written = os.stat(archive).st_mtime_ns
        later = 0 if tree == "real" else 1_000_000_000
        os.utime(backup, ns=(written + later, written + later))


def has_ended(pid):
    """The process has ended: gone, or a zombie not yet reaped."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            state = f.read().rsplit(b")", 1)[1].split()[0]
    except (OSError, IndexError):
        return True
    return state in (b"Z", b"X")


def one_start(name, program, arguments, tree, size):
    """Seconds from the launcher's start to the game's process start, from
    the archive work's first file event to the game's start (None for the
    floor, which does none), and from the game's end to the launcher's exit."""
    shutil.copy(program, os.path.join(MOD, PROGRAM))
    set_times(tree)
    if os.path.exists(REPORT):
        os.remove(REPORT)
    os.sync()
    # What the last start set going in Wine's own processes settles first:
    # without this pause the small archives' starts scatter by half.
    time.sleep(SETTLE_SECONDS)
    env = dict(os.environ, STANDIN_RUN_MS="0")
    known = set(children())
    watch = FileWatch(list(ALLOWED), {PROGRAM.encode()})
    watch.touched()  # what the preparation did
    started = time.monotonic()
    process = subprocess.Popen([os.environ["WINELOADER"], PROGRAM, *arguments], cwd=MOD, env=env)
    work_began = game_started = game = None
    while game_started is None:
        if work_began is None and watch.touched():
            work_began = time.monotonic()
        for pid in children():
            if pid not in known and is_game(command_line(pid)):
                game_started = time.monotonic()
                game = pid
                break
        else:
            if process.poll() is not None:
                sys.exit(f"{name} ended (exit code {process.returncode}) before the game started")
            time.sleep(0.0005)
    game_ended = None
    while process.poll() is None:
        if game_ended is None and has_ended(game):
            game_ended = time.monotonic()
        time.sleep(0.0005)
    launcher_exited = time.monotonic()
    watch.close()
    reap()
    if game_ended is None:
        # Both ended within one look, or the launcher saw the game end
        # before its Linux process was gone: no time after the game's end.
        game_ended = launcher_exited
    if process.returncode != 0:
        sys.exit(f"{name} ended with exit code {process.returncode}")
    # A run that did not swap, or did not put the game's archive back,
    # measured something else: no figure from it.
    live_tag = MOD_TAG if name != FLOOR else GAME_TAG
    with open(REPORT, "rb") as f:
        for line in f:
            if line.startswith(b"archive="):
                if not line[len(b"archive="):].startswith(live_tag):
                    sys.exit(f"{name}: the game found {line[8:24]!r} live, not {live_tag!r} ({REPORT})")
                break
        else:
            sys.exit(f"{name}: no archive line in {REPORT}")
    check_tree(name, size)
    if name == FLOOR:
        work = None
    elif work_began is None:
        sys.exit(f"{name}: the game started before the launcher touched a file of the game's folders")
    else:
        work = game_started - work_began
    return game_started - started, work, launcher_exited - game_ended


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


def host_line():
    model = "unknown processor"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    runs32 = os.environ.get("BENCH_HOST_RUNS_32BIT", "unknown")
    kind = {"yes": "a host that runs 32-bit x86 code", "no": "a host that runs no 32-bit x86 code"}
    return (f"{time.strftime('%Y-%m-%d %H:%M %Z')}; {kind.get(runs32, 'host kind unknown')};"
            f" {model}, {os.cpu_count()} cores; Linux {platform.release()};"
            f" load {' '.join(f'{x:.2f}' for x in os.getloadavg())}")


def measure(launchers, reference, starts, size, tree):
    print(f"\n{size // MIB} MiB archives, the {tree} tree: median of {starts} starts of each"
          f" launcher, taking turns; ratios against {reference} and the floor")
    names = [name for name, _, _ in launchers]
    for round_number in range(1, ROUNDS + 1):
        for name, program, arguments in launchers:
            one_start(name, program, arguments, tree, size)  # warm the caches first
        whole = {name: [] for name in names}
        work = {name: [] for name in names}
        back = {name: [] for name in names}
        for start in range(starts):
            # The order turns round every start, so that none always
            # follows the same other's after-effects.
            turn = start % len(launchers)
            for name, program, arguments in launchers[turn:] + launchers[:turn]:
                to_game, archive_work, way_back = one_start(name, program, arguments, tree, size)
                whole[name].append(to_game)
                work[name].append(archive_work)
                back[name].append(way_back)
        median = {name: statistics.median(whole[name]) for name in names}
        back_median = {name: statistics.median(back[name]) for name in names}
        print(f"round {round_number}:")
        for name in names:
            line = (f"  {name}: start {ms(median[name])}"
                    f" ({median[name] / median[reference]:.3f} x {reference},"
                    f" {median[name] / median[FLOOR]:.3f} x floor)")
            if name != FLOOR:
                line += f"; archive work {ms(statistics.median(work[name]))}"
            line += (f"; way back {ms(back_median[name])}"
                     f" ({back_median[name] / back_median[reference]:.3f} x {reference},"
                     f" {(back_median[name] - back_median[FLOOR]) * 1000:+.1f} ms on the floor)")
            print(line)
            print("    each start (ms): " + " ".join(f"{t * 1000:.0f}" for t in sorted(whole[name])))
            print("    each way back (ms): " + " ".join(f"{t * 1000:.0f}" for t in sorted(back[name])))


def main():
    if len(sys.argv) < 8 or not sys.argv[3].isdigit() or "=" not in "".join(sys.argv[6:]):
        sys.exit(__doc__)
    standin, floor, starts = sys.argv[1], sys.argv[2], int(sys.argv[3])
    sizes = [int(mib) * MIB for mib in sys.argv[4].split(",")]
    trees = sys.argv[5].split(",")
    if any(tree not in ("real", "copy") for tree in trees):
        sys.exit(f"trees are real or copy, not {sys.argv[5]}")
    launchers = [(name, path, ()) for name, path in
                 (argument.split("=", 1) for argument in sys.argv[6:])]
    reference = launchers[-1][0]
    launchers.append((FLOOR, floor, ("--with-shell",)))
    make_reaper()
    print(host_line())
    # Wine's own services, started by the first program of a session, stay
    # for the whole measurement: the server of this build's prefix waits 30 s
    # after its last program before it ends, so nothing here has to end it.
    if subprocess.run(["wineserver", "-p30"]).returncode != 0:
        print("(a wineserver already ran in this prefix: it stays by its own rule)")
    try:
        for size in sizes:
            make_tree(size)
            shutil.copy(standin, os.path.join(GAME, "BF2.exe"))
            for tree in trees:
                measure(launchers, reference, starts, size, tree)
    finally:
        shutil.rmtree(os.path.dirname(GAME), ignore_errors=True)


if __name__ == "__main__":
    main()
