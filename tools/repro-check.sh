#!/usr/bin/env bash
# Checks that two builds of the same sources give the same release: copies the
# project's files twice, into folders with names of different lengths, builds
# the program in each (no tests) and compares every file it leaves in dist/
# (the program, the release zip and SHA256SUMS) byte for byte. Exits non-zero,
# naming the file and the first byte that differs, when they are not identical.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-deps.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for copy in a/one b/second-build-folder; do
  mkdir -p "$scratch/$copy"
  # The files git knows, as they are in the work tree now.
  (cd "$root" && git ls-files -z | xargs -0 tar cf -) | tar xf - -C "$scratch/$copy"
  if ! {
    cmake -S "$scratch/$copy" -B "$scratch/$copy/build" -G Ninja -DMODLAUNCHER_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$scratch/$copy/cmake/mingw-i686.cmake" &&
      cmake --build "$scratch/$copy/build" --target ModLauncher
  } >"$scratch/$(dirname "$copy").log" 2>&1; then
    cat "$scratch/$(dirname "$copy").log"
    echo "repro-check: the build in $copy failed"
    exit 1
  fi
done

# Whatever the build put in dist/ (the program, the release zip, whatever its
# name, and the sums), in both.
first=$(cd "$scratch/a/one/dist" && ls)
second=$(cd "$scratch/b/second-build-folder/dist" && ls)
if [ -z "$first" ] || [ "$first" != "$second" ]; then
  echo "repro-check: the builds left different files in dist/: $(echo $first) against $(echo $second)"
  exit 1
fi
status=0
for file in $first; do
  if difference=$(cmp "$scratch/a/one/dist/$file" "$scratch/b/second-build-folder/dist/$file" 2>&1); then
    echo "repro-check: $file identical in both builds"
  else
    echo "repro-check: $file differs: $difference"
    status=1
  fi
done
[ "$status" = 0 ] && sed 's/^/  /' "$scratch/a/one/dist/SHA256SUMS"
exit $status
