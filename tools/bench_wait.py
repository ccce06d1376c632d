#!/usr/bin/env python3
"""What the launcher costs while the game runs, under Wine.

Starts the launcher in a sample installation whose stand-in game runs for a
fixed time, watches both Linux processes through /proc, and prints the
launcher's own processor time per second of the game's life and the delay
between the game's end and the launcher's exit.

Run it through tools/bench.sh, which builds and provides Wine and a display.
"""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("MODLAUNCHER_BUILD", os.path.join(ROOT, "build"))


def find_pid(name):
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if name.encode() in f.read():
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


def lay_out(game):
    shutil.rmtree(game, ignore_errors=True)
    mod = os.path.join(game, "mods", "benchmod")
    os.makedirs(mod)
    os.makedirs(os.path.join(game, "mods", "bf2"))
    shutil.copy(os.path.join(BUILD, "standin", "BF2.exe"), os.path.join(game, "BF2.exe"))
    shutil.copy(os.path.join(ROOT, "dist", "ModLauncher.exe"), mod)
    return mod


def run_once(game_ms):
    game = os.path.join(BUILD, "bench", "Game")
    mod = lay_out(game)
    env = dict(os.environ, STANDIN_RUN_MS=str(game_ms))
    launcher = subprocess.Popen(["wine", "ModLauncher.exe"], cwd=mod, env=env)
    game_pid = None
    while game_pid is None:
        game_pid = find_pid("BF2.exe")
        if launcher.poll() is not None:
            sys.exit("the launcher ended before the game started")
    launcher_pid = find_pid("ModLauncher.exe")
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
    print(f"stand-in game running {game_ms} ms, {runs} runs")
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
