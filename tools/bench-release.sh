#!/usr/bin/env bash
# Start-up, the archive work, and the way back after the game, against an
# earlier commit and the floor (the smallest launcher with a shell), side by
# side, under 64-bit Wine in a virtual display. Prints figures; asserts
# nothing.
#
#   tools/bench-release.sh [--sizes MiB,...] [--trees real,copy] [ref] [starts]
#
# --sizes  the archives' sizes in MiB (default 4,64,1024)
# --trees  real: as an ordinary run leaves the tree, each backup with its
#          archive's time; copy: each backup with a later time (default both)
# ref      the earlier commit (default d470fbc^, release 1.1.0)
# starts   starts of each launcher per round (default 9); two rounds are run
#
# The launchers are 64-bit builds, native under 64-bit Wine on both kinds of
# host: the current one from build-x64/, the earlier one from `git archive
# <ref>` unpacked and built under build-x64/bench-release/. The earlier
# sources are patched here for 64-bit (the window procedure and the class
# icon set through the pointer-wide calls), never in git.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sizes=4,64,1024
trees=real,copy
while [ $# -gt 0 ]; do
  case "$1" in
    --sizes) sizes=$2; shift 2 ;;
    --trees) trees=$2; shift 2 ;;
    *) break ;;
  esac
done
ref=${1:-d470fbc^}
starts=${2:-9}

# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
toolchain="$root/cmake/mingw-x86_64.cmake"
test_build="$root/build-x64"
# 64-bit programs want 64-bit Wine: where 32-bit code runs natively the tests'
# prefix is a 32-bit one, so these get one of their own.
if [ "$native32" = yes ]; then
  export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64 WINEPREFIX="$test_build/wineprefix"
fi

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$test_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$test_build" --target ModLauncher standin_game minimal_launcher >/dev/null

release="$test_build/bench-release"
commit=$(git -C "$root" rev-parse --verify "$ref^{commit}")
# Unpacked afresh when the commit changes; the patch is applied once.
if [ "$(cat "$release/commit" 2>/dev/null)" != "$commit" ]; then
  rm -rf "$release"
  mkdir -p "$release/src"
  git -C "$root" archive "$commit" | tar -x -C "$release/src"
  shell="$release/src/shell/app_shell.cpp"
  # A LONG holds no pointer in 64-bit code: the pointer-wide setters, and no
  # narrowing cast before them.
  sed -i -e 's/SetWindowLongW(/SetWindowLongPtrW(/; s/GWL_WNDPROC/GWLP_WNDPROC/' \
    -e 's/SetClassLongW(/SetClassLongPtrW(/; s/GCL_HICON/GCLP_HICON/' \
    -e 's/static_cast<LONG>(reinterpret_cast<LONG_PTR>(\([^()]*\)))/reinterpret_cast<LONG_PTR>(\1)/' \
    "$shell"
  # Code lines only: a comment may name the narrow calls.
  if grep -n -v '^ *//' "$shell" | grep 'SetWindowLongW(\|SetClassLongW(\|static_cast<LONG>'; then
    echo "bench-release.sh: the 64-bit patch did not apply to $shell" >&2
    exit 1
  fi
  echo "$commit" >"$release/commit"
fi
cmake -S "$release/src" -B "$release/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DMODLAUNCHER_TESTS=OFF >/dev/null
cmake --build "$release/build" --target ModLauncher >/dev/null

# The version: in the resource script of early releases, else CMake's project version.
version=$(sed -n 's/^ *VALUE "ProductVersion", "\(.*\)"$/\1/p' "$release/src/shell/ModLauncher.rc")
[ -n "$version" ] || version=$(sed -n 's/^project(ModLauncher VERSION \([0-9.]*\).*/\1/p' "$release/src/CMakeLists.txt")
echo "earlier launcher: $ref = ${commit:0:7}, version record $version"
echo "current launcher: $(git -C "$root" rev-parse --short HEAD)$(
  git -C "$root" diff --quiet HEAD -- launcher platform shell || echo ' with changes not committed')"

"$root/tools/wine-prefix.sh"
BENCH_HOST_RUNS_32BIT=$native32 xvfb-run -a python3 "$root/tools/bench-release.py" \
  "$test_build/standin/BF2.exe" "$test_build/minimal/minimal_launcher.exe" "$starts" "$sizes" "$trees" \
  current="$test_build/ModLauncher.exe" "$version@${commit:0:7}"="$release/build/ModLauncher.exe"
