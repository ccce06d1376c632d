#!/usr/bin/env bash
# Benchmarks, under Wine in a virtual display. Prints figures; asserts nothing.
#
#   tools/bench.sh [game-ms] [runs]
#
# Always on a native build: the product's 32-bit build where this machine runs
# 32-bit code, else the 64-bit build of the same sources in build-x64/
# (emulated code tells nothing about speed).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
if [ "$native32" = yes ]; then
  "$root/tools/build.sh" >/dev/null
  echo "bench: the 32-bit build in ${program_build#"$root"/}/ (the release's own program)"
else
  "$root/tools/install-deps.sh"
  cmake -S "$root" -B "$tools_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tools_toolchain" >/dev/null
  cmake --build "$tools_build" --target ModLauncher standin_game minimal_launcher >/dev/null
  echo "bench: this machine runs no 32-bit code: the 64-bit build in ${tools_build#"$root"/}/, natively"
fi
"$root/tools/wine-prefix.sh"
MODLAUNCHER_BUILD="$tools_build" xvfb-run -a python3 "$root/tools/bench.py" "$@"
