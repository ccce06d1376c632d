#!/usr/bin/env python3
"""What the launcher costs, under Wine, each figure beside its limit.

1. Before the game: the time from the launcher's start to the game's start,
   with no archives to copy, against the smallest possible launcher.
2. The three copies before the game with 64 MiB archives, against cp of the
   same bytes on the same disk three times.
3. While the game runs: the launcher's own processor time per second of a
   5 s game, and the delay between the game's end and the launcher's exit.

Both processes are watched from Linux through /proc. Run it through
tools/bench.sh, which builds, chooses the native build (MODLAUNCHER_BUILD)
and its Wine loader (WINELOADER), and provides a display.
"""
import os
import statistics
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("MODLAUNCHER_BUILD", os.path.join(ROOT, "build"))
WINE = os.environ.get("WINELOADER", "wine")


def find_pid(names):
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmdline = f.read()
                if all(name.encode() in cmdline for name in names):
                    return int(pid)
        except OSError:
            pass
    return None


def cpu_seconds(pid):
    """Processor time of every thread of the process, from the scheduler's
    nanosecond counts."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
    except OSError:
        return None
    return total / 1e9


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split()[2] != "Z"
    except OSError:
        return False


GAME = os.path.join(BUILD, "bench", "Game")
LAUNCHERS = {
    "ModLauncher.exe": os.path.join(BUILD, "ModLauncher.exe"),
    "minimal_launcher.exe": os.path.join(BUILD, "minimal", "minimal_launcher.exe"),
}
ARCHIVE_BYTES = 64 * 1024 * 1024
# How the stand-in game started from the bench's own mod folder shows in its
# command line, so that other games running meanwhile are not taken for it.
GAME_PROCESS = ("\\bench\\Game\\", "BF2.exe")


def lay_out(archive_bytes=0):
    shutil.rmtree(GAME, ignore_errors=True)
    mod = os.path.join(GAME, "mods", "benchmod")
    os.makedirs(mod)
    os.makedirs(os.path.join(GAME, "mods", "bf2"))
    shutil.copy(os.path.join(BUILD, "standin", "BF2.exe"), os.path.join(GAME, "BF2.exe"))
    for path in LAUNCHERS.values():
        shutil.copy(path, mod)
    if archive_bytes:
        for folder, fill in (("bf2", b"G"), ("benchmod", b"M")):
            with open(os.path.join(GAME, "mods", folder, "Shaders_client.zip"), "wb") as f:
                f.write(fill * archive_bytes)
    return mod


def time_to_game_start(launcher_name, archive_bytes=0, arguments=()):
    """Seconds from the launcher's start to the game's process start."""
    mod = lay_out(archive_bytes)
    env = dict(os.environ, STANDIN_RUN_MS="300")  # long enough to be seen
    started = time.monotonic()
    launcher = subprocess.Popen([WINE, launcher_name, *arguments], cwd=mod, env=env)
    while find_pid(GAME_PROCESS) is None:
        if launcher.poll() is not None:
            sys.exit(f"{launcher_name} ended before the game started")
    game_started = time.monotonic()
    launcher.wait()
    return game_started - started


def median_times_to_game_start(configs, runs, archive_bytes=0):
    """Median time to game start of each (launcher, arguments) config, the
    configs taking turns so that the machine's drift falls on all alike."""
    for name, arguments in configs:
        time_to_game_start(name, archive_bytes, arguments)  # warm the caches first
    times = {config: [] for config in configs}
    for _ in range(runs):
        for name, arguments in configs:
            times[(name, arguments)].append(time_to_game_start(name, archive_bytes, arguments))
    return [statistics.median(times[config]) for config in configs]


def time_cp_three_times(sync):
    mod = lay_out(ARCHIVE_BYTES)
    game_archive = os.path.join(GAME, "mods", "bf2", "Shaders_client.zip")
    mod_archive = os.path.join(mod, "Shaders_client.zip")
    os.makedirs(os.path.join(GAME, "mods", "bf2", "Backup"))
    os.makedirs(os.path.join(mod, "Backup"))
    started = time.monotonic()
    subprocess.run(["cp", game_archive, os.path.join(GAME, "mods", "bf2", "Backup")], check=True)
    if sync:
        subprocess.run(["sync", os.path.join(GAME, "mods", "bf2", "Backup", "Shaders_client.zip")], check=True)
    subprocess.run(["cp", mod_archive, os.path.join(mod, "Backup")], check=True)
    subprocess.run(["cp", mod_archive, game_archive], check=True)
    return time.monotonic() - started


def run_once(game_ms):
    mod = lay_out()
    env = dict(os.environ, STANDIN_RUN_MS=str(game_ms))
    launcher = subprocess.Popen([WINE, "ModLauncher.exe"], cwd=mod, env=env)
    game_pid = None
    while game_pid is None:
        game_pid = find_pid(GAME_PROCESS)
        if launcher.poll() is not None:
            sys.exit("the launcher ended before the game started")
    launcher_pid = launcher.pid  # wine becomes the program's own process
    started = time.monotonic()
    cpu_at_start = cpu_seconds(launcher_pid)
    cpu_at_end = cpu_at_start
    while alive(game_pid):
        cpu = cpu_seconds(launcher_pid)
        if cpu is not None:
            cpu_at_end = cpu
        time.sleep(0.001)
    game_ended = time.monotonic()
    while alive(launcher_pid):
        time.sleep(0.0005)
    launcher_ended = time.monotonic()
    launcher.wait()
    life = game_ended - started
    return (cpu_at_end - cpu_at_start) / life, (launcher_ended - game_ended) * 1000, life


def main():
    game_ms = int(sys.argv[1]) if len(sys.argv) > 1 else 5000
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    starts = runs * 3

    print(f"1. launcher start to game start, no archives (median of {starts} runs each, taking turns)")
    ours, minimal, with_shell = median_times_to_game_start(
        [("ModLauncher.exe", ()), ("minimal_launcher.exe", ()),
         ("minimal_launcher.exe", ("--with-shell",))], starts)
    print(f"  ModLauncher.exe {ours * 1000:.1f} ms, smallest launcher {minimal * 1000:.1f} ms:"
          f" {ours / minimal:.2f} times (target at most 1.2)")
    print(f"  the smallest launcher with OLE and a hidden window {with_shell * 1000:.1f} ms:"
          f" ModLauncher.exe is {ours / with_shell:.2f} times that")

    print(f"2. the three copies of a {ARCHIVE_BYTES >> 20} MiB archive before the game"
          f" (median of {runs} runs)")
    with_archives, = median_times_to_game_start([("ModLauncher.exe", ())], runs, ARCHIVE_BYTES)
    copies = with_archives - ours
    cp = statistics.median(time_cp_three_times(False) for _ in range(runs))
    cp_sync = statistics.median(time_cp_three_times(True) for _ in range(runs))
    print(f"  launcher's copies {copies * 1000:.1f} ms (the game's backup flushed to disk);"
          f" cp three times {cp * 1000:.1f} ms: {copies / cp:.2f} times (target within 1.5);"
          f" cp three times with the backup synced {cp_sync * 1000:.1f} ms:"
          f" {copies / cp_sync:.2f} times")

    print(f"3. while a {game_ms} ms game runs ({runs} runs)")
    results = [run_once(game_ms) for _ in range(runs)]
    for share, delay, life in results:
        print(f"  launcher CPU {share * 100:.3f} % of one core over {life:.2f} s of the game;"
              f" exit {delay:.1f} ms after the game's end")
    worst_share = max(r[0] for r in results)
    worst_delay = max(r[1] for r in results)
    print(f"worst: {worst_share * 100:.3f} % of one core (target below 1 %),"
          f" {worst_delay:.1f} ms exit delay (target below 50 ms)")


if __name__ == "__main__":
    main()
