#!/usr/bin/env python3
"""Start of the launcher to start of the game, and the game's end to the
launcher's exit: launchers side by side (the current one and an earlier
release), with 64 MiB archives, taking turns.

    bench-release.py STANDIN.exe STARTS NAME=LAUNCHER.exe... REFERENCE=LAUNCHER.exe

The ratios are against the last launcher named.

Each start begins from a fresh game tree as an ordinary run leaves it: the
game's archive live, the game's and the mod's backups in place (the same
bytes as their archives), no marker, the lock file there. The tree is on
the disk before the launcher starts. The stand-in game ends at once.

The game's start is the moment its process appears: with this process made
the reaper of orphans, Wine's new processes become its children, and the
game's is found among them without scanning all of /proc. The archive work
alone is timed too: from the first open of the game's archive (inotify),
where its backup begins, to the game's start. The way back is timed from the
moment the game's process has ended (a zombie, or gone) to the launcher's
exit. Two rounds, each the median
of the starts of each launcher, and cp three times with the game's backup
synced, for reference. Prints figures; asserts nothing about
them. Run it through tools/bench-release.sh, which builds both launchers and
provides Wine and a display.
"""
import ctypes
import os
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
ARCHIVE_BYTES = 64 * 1024 * 1024
# The tags that open each archive tell in the game's report which was live.
GAME_TAG = b"GAME-ARCHIVE----"
MOD_TAG = b"MOD-ARCHIVE-----"
ROUNDS = 2
LAUNCHERS = []  # (name, program file), from the command line
STANDIN = None
PR_SET_CHILD_SUBREAPER = 36


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


class OpenWatch:
    """The moments files of one folder are opened, by any process: inotify."""

    IN_OPEN, IN_NONBLOCK, IN_CLOEXEC = 0x20, 0o4000, 0o2000000
    HEADER = struct.Struct("iIII")

    def __init__(self, folder):
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(self.IN_NONBLOCK | self.IN_CLOEXEC)
        if self.fd < 0 or libc.inotify_add_watch(self.fd, folder.encode(), self.IN_OPEN) < 0:
            sys.exit(f"inotify on {folder} failed: {os.strerror(ctypes.get_errno())}")

    def opened(self, name):
        """Whether the file was opened since the last call."""
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
                found |= events[at:at + length].rstrip(b"\0") == name.encode()
                at += length

    def close(self):
        os.close(self.fd)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def lay_out(launcher, game_bytes, mod_bytes):
    """The tree after an ordinary run, all of it on the disk."""
    shutil.rmtree(os.path.dirname(GAME), ignore_errors=True)
    os.makedirs(os.path.join(MOD, "Backup"))
    os.makedirs(os.path.join(CONTENT, "Backup"))
    shutil.copy(STANDIN, os.path.join(GAME, "BF2.exe"))
    shutil.copy(launcher, os.path.join(MOD, "ModLauncher.exe"))
    write(os.path.join(CONTENT, ARCHIVE), game_bytes)
    write(os.path.join(CONTENT, "Backup", ARCHIVE), game_bytes)
    write(os.path.join(CONTENT, "Backup", "ModLauncher.lock"), b"")
    write(os.path.join(MOD, ARCHIVE), mod_bytes)
    write(os.path.join(MOD, "Backup", ARCHIVE), mod_bytes)
    os.sync()


def starts_with(path, tag):
    try:
        with open(path, "rb") as f:
            return f.read(len(tag)) == tag
    except OSError:
        return False


def has_ended(pid):
    """The process has ended: gone, or a zombie not yet reaped."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            state = f.read().rsplit(b")", 1)[1].split()[0]
    except (OSError, IndexError):
        return True
    return state in (b"Z", b"X")


def time_to_game_start(launcher, game_bytes, mod_bytes):
    """Seconds from the launcher's start to the game's process start, from
    the first open of the game's archive (the start of its backup) to the
    game's start, and from the game's end to the launcher's exit."""
    lay_out(launcher, game_bytes, mod_bytes)
    env = dict(os.environ, STANDIN_RUN_MS="0")
    known = set(children())
    watch = OpenWatch(CONTENT)
    started = time.monotonic()
    process = subprocess.Popen([os.environ["WINELOADER"], "ModLauncher.exe"], cwd=MOD, env=env)
    archive_opened = game_started = game = None
    while game_started is None:
        if archive_opened is None and watch.opened(ARCHIVE):
            archive_opened = time.monotonic()
        for pid in children():
            if pid not in known and is_game(command_line(pid)):
                game_started = time.monotonic()
                game = pid
                break
        else:
            if process.poll() is not None:
                sys.exit(f"{launcher} ended (exit code {process.returncode}) before the game started")
            time.sleep(0.0005)
    game_ended = None
    while process.poll() is None:
        if game_ended is None and has_ended(game):
            game_ended = time.monotonic()
        time.sleep(0.0005)
    launcher_exited = time.monotonic()
    code = process.returncode
    if game_ended is None:
        sys.exit(f"{launcher} ended before its game")
    watch.close()
    reap()
    # A run that did not swap, or did not put the game's archive back,
    # measured something else: no figure from it.
    report = os.path.join(GAME, "standin-report.txt")
    with open(report, "rb") as f:
        for line in f:
            if line.startswith(b"archive="):
                if not line[len(b"archive="):].startswith(MOD_TAG):
                    sys.exit(f"{launcher}: the game did not find the mod's archive live ({report})")
                break
        else:
            sys.exit(f"{launcher}: no archive line in {report}")
    live = os.path.join(CONTENT, ARCHIVE)
    if not starts_with(live, GAME_TAG):
        sys.exit(f"{launcher}: the game's archive was not put back in {live}")
    if code != 0:
        sys.exit(f"{launcher} ended with exit code {code}")
    if archive_opened is None:
        sys.exit(f"{launcher}: the game started before its archive was seen opened")
    return game_started - started, game_started - archive_opened, launcher_exited - game_ended


def time_cp_three_times(game_bytes, mod_bytes):
    """cp of the same three copies in the same tree, the game's backup synced."""
    lay_out(LAUNCHERS[-1][1], game_bytes, mod_bytes)
    live = os.path.join(CONTENT, ARCHIVE)
    game_backup = os.path.join(CONTENT, "Backup", ARCHIVE)
    mod_archive = os.path.join(MOD, ARCHIVE)
    started = time.monotonic()
    subprocess.run(["cp", live, game_backup], check=True)
    subprocess.run(["sync", game_backup], check=True)
    subprocess.run(["cp", mod_archive, os.path.join(MOD, "Backup", ARCHIVE)], check=True)
    subprocess.run(["cp", mod_archive, live], check=True)
    return time.monotonic() - started


def ms(seconds):
    return f"{seconds * 1000:.1f} ms"


def main():
    global STANDIN
    if len(sys.argv) < 5 or not sys.argv[2].isdigit() or "=" not in "".join(sys.argv[3:]):
        sys.exit(__doc__)
    STANDIN, starts = sys.argv[1], int(sys.argv[2])
    LAUNCHERS[:] = [tuple(argument.split("=", 1)) for argument in sys.argv[3:]]
    reference = LAUNCHERS[-1][0]
    make_reaper()
    # Different bytes in the two archives, so that the game's report tells them apart.
    game_bytes = GAME_TAG + os.urandom(ARCHIVE_BYTES - len(GAME_TAG))
    mod_bytes = MOD_TAG + os.urandom(ARCHIVE_BYTES - len(MOD_TAG))
    # Wine's own services, started by the first program of a session, stay
    # for the whole measurement: the server of this build's prefix waits 30 s
    # after its last program before it ends, so nothing here has to end it.
    if subprocess.run(["wineserver", "-p30"]).returncode != 0:
        print("(a wineserver already ran in this prefix: it stays by its own rule)")
    try:
        print(f"{ARCHIVE_BYTES >> 20} MiB archives, median of {starts} starts of each launcher,"
              f" the launchers taking turns; ratios against {reference}")
        for round_number in range(1, ROUNDS + 1):
            for _, path in LAUNCHERS:
                time_to_game_start(path, game_bytes, mod_bytes)  # warm the caches first
            whole = {name: [] for name, _ in LAUNCHERS}
            copies = {name: [] for name, _ in LAUNCHERS}
            back = {name: [] for name, _ in LAUNCHERS}
            for start in range(starts):
                # The order turns round every start, so that none always
                # follows the same other's after-effects.
                turn = start % len(LAUNCHERS)
                for name, path in LAUNCHERS[turn:] + LAUNCHERS[:turn]:
                    to_game, from_archive, way_back = time_to_game_start(
                        path, game_bytes, mod_bytes)
                    whole[name].append(to_game)
                    copies[name].append(from_archive)
                    back[name].append(way_back)
            cp = statistics.median(time_cp_three_times(game_bytes, mod_bytes)
                                   for _ in range(starts))
            print(f"round {round_number}:")
            for name, _ in LAUNCHERS:
                to_game = statistics.median(whole[name])
                from_archive = statistics.median(copies[name])
                print(f"  {name}: launcher start to game start {ms(to_game)}"
                      f" ({to_game / statistics.median(whole[reference]):.3f} times);"
                      f" first open of the game's archive to game start {ms(from_archive)}"
                      f" ({from_archive / statistics.median(copies[reference]):.3f} times)")
                way_back = statistics.median(back[name])
                print(f"    the game's end to the launcher's exit {ms(way_back)}"
                      f" ({way_back / statistics.median(back[reference]):.3f} times)")
                print("    each start (ms): " +
                      " ".join(f"{t * 1000:.0f}" for t in sorted(whole[name])))
                print("    each way back (ms): " +
                      " ".join(f"{t * 1000:.0f}" for t in sorted(back[name])))
            print(f"  cp three times with the game's backup synced: {ms(cp)}")
    finally:
        shutil.rmtree(os.path.dirname(GAME), ignore_errors=True)


if __name__ == "__main__":
    main()
