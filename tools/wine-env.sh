# Sourced by the scripts that run Windows programs. Chooses which Windows
# build the tests run: the 32-bit product's, where this machine runs 32-bit
# x86 code; otherwise a 64-bit build of the same sources under 64-bit Wine,
# since some virtual machines cannot run 32-bit code at all. Sets
#   test_arch   i686 or x86_64 (MODLAUNCHER_TEST_ARCH chooses by hand)
#   test_build  the build folder of that build (build/ or build-x64/)
#   test_toolchain  its CMake toolchain file
#   WINELOADER, WINEARCH, WINEPREFIX (the build's own prefix), WINEDEBUG
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
test_arch=${MODLAUNCHER_TEST_ARCH:-}
if [ -z "$test_arch" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then test_arch=i686; else test_arch=x86_64; fi
fi
if [ "$test_arch" = i686 ]; then
  test_build="$root/build"
  test_toolchain="$root/cmake/mingw-i686.cmake"
  export WINELOADER=/usr/lib/wine/wine WINEARCH=win32
else
  test_build="$root/build-x64"
  test_toolchain="$root/cmake/mingw-x86_64.cmake"
  export WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
fi
export WINEPREFIX="${WINEPREFIX:-$test_build/wineprefix}" WINEDEBUG=-all
