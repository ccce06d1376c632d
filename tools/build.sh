#!/usr/bin/env bash
# Installs what is missing, then builds the program, its tests and the
# stand-in game in build/. Leaves the program at dist/ModLauncher.exe. Where
# this machine runs no 32-bit x86 code, also builds the native helpers that
# the tests run beside the 32-bit programs (the stand-in game, the end-to-end
# driver, the demo's kill helper) in build-x64/ (tools/wine-env.sh).
#
#   tools/build.sh          everything
#   tools/build.sh --demo   only what tools/demo.sh runs
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
program_targets=(all)
helper_targets=(standin_game e2e_tests kill_mid_game enumeration_tests)
if [ "${1:-}" = --demo ]; then
  program_targets=(ModLauncher)
  helper_targets=(standin_game kill_mid_game)
fi
"$root/tools/install-deps.sh"
native_tools=""
if [ "$tools_build" != "$program_build" ]; then
  native_tools=$tools_build
  cmake -S "$root" -B "$tools_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tools_toolchain" >/dev/null
  cmake --build "$tools_build" --target "${helper_targets[@]}"
else
  program_targets+=("${helper_targets[@]}")
fi
# The compile commands are for the static analysis (tools/lint.sh).
cmake -S "$root" -B "$program_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DMODLAUNCHER_NATIVE_TOOLS="$native_tools" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build "$program_build" --target "${program_targets[@]}"
