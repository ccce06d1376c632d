# Sourced by the scripts that build or run Windows programs. The programs
# that are tested are always the product's 32-bit build in build/: the
# release's own ModLauncher.exe and the 32-bit test programs. Where this
# machine runs no 32-bit x86 code (some virtual machines), Wine's 32-bit half
# runs under qemu-i386 (tools/wine-route.sh), and the native helpers (the
# stand-in game, the test drivers, the demo's kill helper, the benchmarks)
# come from a 64-bit build of the same sources in build-x64/. Sets
#   native32        yes or no: this machine runs 32-bit x86 code itself
#   program_build   build/, the 32-bit build
#   tools_build     the build of the native helpers: build/ or build-x64/
#   tools_toolchain its CMake toolchain file
#   wine_route      the qemu route's folder (empty where 32-bit code runs)
#   WINELOADER, WINEARCH, WINEPREFIX (build/wineprefix), WINEDEBUG
# A loader, architecture or prefix already in the environment is kept: a
# script that wants 64-bit Wine (the benchmarks) sets them before it calls
# another that sources this one again.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
program_build="$root/build"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  native32=yes
  tools_build="$program_build"
  tools_toolchain="$root/cmake/mingw-i686.cmake"
  wine_route=""
  export WINELOADER="${WINELOADER:-/usr/lib/wine/wine}" WINEARCH="${WINEARCH:-win32}"
else
  native32=no
  tools_build="$root/build-x64"
  tools_toolchain="$root/cmake/mingw-x86_64.cmake"
  wine_route="$program_build/wine-route"
  # A 64-bit prefix: its 64-bit programs run natively, its 32-bit ones
  # through the route's wine-preloader.
  export WINELOADER="${WINELOADER:-$wine_route/usr/lib/wine/wine64}" WINEARCH="${WINEARCH:-win64}"
fi
export WINEPREFIX="${WINEPREFIX:-$program_build/wineprefix}" WINEDEBUG=-all
