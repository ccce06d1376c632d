#!/usr/bin/env bash
# Checks that the release does not depend on where it is built: builds the
# program once more from the work tree's files in a scratch folder whose path
# is of another length than the work tree's (so that a path written into the
# program would show), and compares every file of the release that the build
# in build/ (or the folder given) left in dist/ (the program, the release zip
# and SHA256SUMS) with the scratch build's, byte for byte. Exits non-zero,
# naming the file and the first byte that differs, when they are not identical.
#
#   tools/repro-check.sh [BUILD_FOLDER]
#
# Needs that build configured (tools/build.sh); it brings its program up to
# date first, so the comparison is with the work tree as it is now.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${1:-$root/build}"
"$root/tools/install-deps.sh"
[ -f "$build/build.ninja" ] || {
  echo "repro-check: $build is not configured: build first (tools/build.sh)" >&2
  exit 1
}
if ! out=$(cmake --build "$build" --target ModLauncher 2>&1); then
  echo "$out"
  echo "repro-check: the program in ${build#"$root"/} could not be built"
  exit 1
fi
dist="$root/dist"
[ -f "$dist/SHA256SUMS" ] || {
  echo "repro-check: no $dist/SHA256SUMS: the build left no release"
  exit 1
}

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
copy="$scratch/src"
# Another length than the work tree's path, whatever mktemp chose.
while [ "${#copy}" = "${#root}" ]; do copy+=x; done
mkdir -p "$copy"
# The files git knows, as they are in the work tree now.
(cd "$root" && git ls-files -z | xargs -0 tar cf -) | tar xf - -C "$copy"
if ! {
  cmake -S "$copy" -B "$copy/build" -G Ninja -DMODLAUNCHER_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/mingw-i686.cmake" &&
    cmake --build "$copy/build" --target ModLauncher
} >"$scratch/build.log" 2>&1; then
  cat "$scratch/build.log"
  echo "repro-check: the build in $copy failed"
  exit 1
fi

# The release is what SHA256SUMS names, and the sums themselves: dist/ in the
# work tree may also hold files of earlier versions. The scratch build must
# leave exactly those.
release=$({
  sed 's/^[0-9a-f]* [ *]//' "$dist/SHA256SUMS"
  echo SHA256SUMS
} | sort)
scratch_files=$(find "$copy/dist" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort)
if [ "$release" != "$scratch_files" ]; then
  echo "repro-check: the builds left different releases: $(paste -sd' ' <<<"$release")" \
    "against $(paste -sd' ' <<<"$scratch_files")"
  exit 1
fi
status=0
for file in $release; do
  if difference=$(cmp "$dist/$file" "$copy/dist/$file" 2>&1); then
    echo "repro-check: $file identical in both builds"
  else
    echo "repro-check: $file differs: $difference"
    status=1
  fi
done
[ "$status" = 0 ] && sed 's/^/  /' "$dist/SHA256SUMS"
exit $status
