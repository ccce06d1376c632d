#!/usr/bin/env bash
# Installs what is missing, then builds the program, its tests and the
# stand-in game. Leaves the program at dist/ModLauncher.exe.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$root/build"
