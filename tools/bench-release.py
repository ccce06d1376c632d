#!/usr/bin/env python3
"""Start of the launcher to start of the game: the current launcher against
an earlier release, with 64 MiB archives, the two taking turns.

    bench-release.py CURRENT.exe EARLIER.exe STANDIN.exe [starts]

Each start begins from a fresh game tree as an ordinary run leaves it: the
game's archive live, the game's and the mod's backups in place (the same
bytes as their archives), no marker, the lock file there. The tree is on
the disk before the launcher starts. The stand-in game ends at once.

The game's start is the moment its process appears: with this process made
the reaper of orphans, Wine's new processes become its children, and the
game's is found among them without scanning all of /proc. Two rounds, each
the median of the starts of each launcher, and cp three times with the
game's backup synced, for reference. Prints figures; asserts nothing about
them. Run it through tools/bench-release.sh, which builds both launchers and
provides Wine and a display.
"""
import ctypes
import os
import shutil
import statistics
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


def time_to_game_start(launcher, game_bytes, mod_bytes):
    """Seconds from the launcher's start to the game's process start."""
    lay_out(launcher, game_bytes, mod_bytes)
    env = dict(os.environ, STANDIN_RUN_MS="0")
    known = set(children())
    started = time.monotonic()
    process = subprocess.Popen([os.environ["WINELOADER"], "ModLauncher.exe"], cwd=MOD, env=env)
    game_started = None
    while game_started is None:
        for pid in children():
            if pid not in known and is_game(command_line(pid)):
                game_started = time.monotonic()
                break
        else:
            if process.poll() is not None:
                sys.exit(f"{launcher} ended (exit code {process.returncode}) before the game started")
            time.sleep(0.0005)
    code = process.wait()
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
    return game_started - started


def time_cp_three_times(game_bytes, mod_bytes):
    """cp of the same three copies in the same tree, the game's backup synced."""
    lay_out(LAUNCHERS[0][1], game_bytes, mod_bytes)
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
    global STANDIN, LAUNCHERS
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    current, earlier, STANDIN = sys.argv[1:4]
    starts = int(sys.argv[4]) if len(sys.argv) > 4 else 9
    LAUNCHERS = [("current", current), ("earlier", earlier)]
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
        print(f"start of the launcher to start of the game, {ARCHIVE_BYTES >> 20} MiB archives,"
              f" median of {starts} starts each, the launchers taking turns")
        for round_number in range(1, ROUNDS + 1):
            for _, path in LAUNCHERS:
                time_to_game_start(path, game_bytes, mod_bytes)  # warm the caches first
            times = {name: [] for name, _ in LAUNCHERS}
            for start in range(starts):
                # Each goes first in every other pair, so that neither always
                # follows the other's after-effects.
                order = LAUNCHERS if start % 2 == 0 else LAUNCHERS[::-1]
                for name, path in order:
                    times[name].append(time_to_game_start(path, game_bytes, mod_bytes))
            cp = statistics.median(time_cp_three_times(game_bytes, mod_bytes)
                                   for _ in range(starts))
            now = statistics.median(times["current"])
            then = statistics.median(times["earlier"])
            print(f"round {round_number}: current {ms(now)}, earlier release {ms(then)}:"
                  f" {now / then:.3f} times; cp three times with the game's backup synced {ms(cp)}")
            for name, _ in LAUNCHERS:
                print(f"  {name} starts (ms): " +
                      " ".join(f"{t * 1000:.0f}" for t in sorted(times[name])))
    finally:
        shutil.rmtree(os.path.dirname(GAME), ignore_errors=True)


if __name__ == "__main__":
    main()
