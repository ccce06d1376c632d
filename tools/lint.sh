#!/usr/bin/env bash
# Static analysis of the project's own code, and of nothing else (not
# GoogleTest, not build/): clang-tidy (the checked-in .clang-tidy) on every
# source of the Windows build, one file at a time on each core, then cppcheck
# on all cores. Exits non-zero on any finding. Needs the test build
# (tools/build.sh), build/ or the folder given.
#
# The test sources have a lighter set of checks of their own
# (tests/.clang-tidy: no path-sensitive analyzer); the program keeps every
# check. The files go largest first, so that the short ones fill in the gaps
# at the end: the longest by far is the program's archive logic, which the
# analyzer searches for about 17 s here, against 1 to 5 s for any other file.
#
#   tools/lint.sh [--without-include-check] [BUILD_FOLDER]
#
# ctest's test analysis passes --without-include-check: there the include
# check is the test includes, labelled analysis too.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
include_check=yes
if [ "${1:-}" = --without-include-check ]; then
  include_check=no
  shift
fi
build="${1:-$root/build}"
cd "$root"
[ "$include_check" = no ] || "$root/tools/check-includes.sh"
# The test build's own compile commands (tools/build.sh has CMake write them)
# and its cross compiler, whose headers clang sees for the same target: the
# compiler's search list, less its own intrinsics' folders (clang has its own).
[ -f "$build/compile_commands.json" ] || {
  echo "lint.sh: no $build/compile_commands.json: build first (tools/build.sh)" >&2
  exit 1
}
compiler=$(sed -n 's/^ *"command": "\([^ ]*g++[^ ]*\) .*/\1/p' "$build/compile_commands.json" | head -1)
target=$("$compiler" -dumpmachine)
includes=()
while read -r dir; do
  dir=$(realpath -m "$dir")
  case "$dir" in
    /usr/lib/gcc/*/include | /usr/lib/gcc/*/include-fixed) ;;
    *) includes+=(--extra-arg=-isystem"$dir") ;;
  esac
done < <("$compiler" -E -x c++ -v - </dev/null 2>&1 |
  sed -n '/^#include <...> search starts here:/,/^End of search list/{/^ /s/^ //p}')
sources=$({
  # tests/compile/ holds files built only to fail to compile.
  git ls-files 'tests/*.cpp' | grep -vE '^tests/(fuzz|compile)/'
  git ls-files 'launcher/*.cpp' 'platform/*.cpp' 'shell/*.cpp' 'tools/*.cpp'
} | xargs -d '\n' stat -c '%s %n' | sort -rn | cut -d' ' -f2-)
# The compile commands, each file once in the program's configuration. The
# test build compiles launcher/ and the shell a second time with the fault
# hook's switch; only the files whose includes reach launcher/fault_hook.h
# (the one header that reads it) differ by it, so only they are analysed in
# that configuration too, and every other file's second command is left out:
# clang-tidy runs every command a file has. Needs GoogleTest's headers as
# they are: no precompiled header of the build.
commands=$(mktemp -d)
report=$(mktemp)
trap 'rm -rf "$commands" "$report"' EXIT
configurations=$(python3 "$root/tools/lint_commands.py" "$root" "$build/compile_commands.json" \
  "$commands/compile_commands.json")
echo "clang-tidy on $(echo "$sources" | wc -l) files ($configurations configurations), $(nproc) at a time"
status=0
printf '%s\n' $sources | xargs -P "$(nproc)" -n 1 clang-tidy --quiet -p "$commands" \
  --extra-arg-before=--target="$target" "${includes[@]}" >"$report" 2>&1 || status=1
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed [0-9]+ warnings|^Use -header-filter|^$' "$report" || true
[ "$status" = 0 ] || { echo "clang-tidy found faults"; exit 1; }
echo "cppcheck"
cppcheck --quiet -j "$(nproc)" --error-exitcode=1 --enable=warning,performance,portability \
  --inline-suppr --std=c++17 --language=c++ -I "$root" \
  --suppress=missingIncludeSystem --suppress=unmatchedSuppression \
  launcher platform shell tests/standin tools/minimal tools/demo
echo "static analysis clean"
