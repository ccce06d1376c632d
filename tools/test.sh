#!/usr/bin/env bash
# Every test, in stages, inside a virtual X display: the build, the unit, shell
# and end-to-end tests under Wine, the checks of the program file, the demo in
# its quiet form, the reproducible-build check and the static analysis. Ends
# with a summary naming each stage and whether it passed; the exit code is 0
# exactly when every stage that ran passed.
#
#   tools/test.sh              every stage
#   tools/test.sh unit e2e     the build, then only the stages named: build
#                              unit shell e2e program_file demo reproducible
#                              analysis
#
# Root writes through a read-only file on Linux, and so would Wine: the tests
# run without that capability, as an ordinary Windows user would.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
all=(build unit shell e2e program_file demo reproducible analysis)
for wanted in "$@"; do
  case " ${all[*]} " in
    *" $wanted "*) ;;
    *)
      echo "usage: $0 [stage...]; the stages: ${all[*]}" >&2
      exit 2
      ;;
  esac
done

if [ -z "${MODLAUNCHER_TEST_DISPLAY:-}" ]; then
  "$root/tools/install-deps.sh"
  export MODLAUNCHER_TEST_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

build="$root/build"
# The tests run the product's 32-bit build where this machine runs 32-bit
# code, else a 64-bit build of the same sources (tools/wine-env.sh).
# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
caps=-dac_override,-dac_read_search

WANTED="$*"
names=()
results=()
# stage TITLE NAME COMMAND...: runs the command as the stage, unless it was
# not asked for or the build failed.
stage() {
  local title=$1 name=$2
  shift 2
  if [ -n "$WANTED" ] && [ "$name" != build ] && [[ " $WANTED " != *" $name "* ]]; then
    return
  fi
  names+=("$title")
  if [ "$name" != build ] && [ "${build_failed:-0}" = 1 ]; then
    results+=("SKIPPED (the build failed)")
    return
  fi
  echo "== $title"
  local started=$SECONDS
  if "$@"; then
    results+=("PASS ($((SECONDS - started)) s)")
  else
    results+=("FAIL ($((SECONDS - started)) s)")
    [ "$name" = build ] && build_failed=1
  fi
  return 0
}

build_all() {
  local log="$build/test-build.log"
  mkdir -p "$build"
  if "$root/tools/build.sh" >"$log" 2>&1 && {
    [ "$test_build" = "$build" ] || {
      echo "This machine runs no 32-bit x86 code: the tests run a 64-bit build of the same sources."
      cmake -S "$root" -B "$test_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$test_toolchain" &&
        cmake --build "$test_build"
    } >>"$log" 2>&1
  }; then
    echo "built (output in $log)"
    [ "$test_build" = "$build" ] ||
      echo "this machine runs no 32-bit x86 code: the tests run a 64-bit build of the same sources, in $test_build"
  else
    cat "$log"
    return 1
  fi
}
# One ctest test (unit, shell, e2e, program_file), without root's power over
# read-only files.
suite() {
  [ "$1" = program_file ] || [ "${prefix_failed:-0}" = 0 ] || return 1
  # The program file checked is always the product's.
  local dir="$test_build"
  [ "$1" = program_file ] && dir="$build"
  setpriv --inh-caps="$caps" --bounding-set="$caps" -- \
    ctest --test-dir "$dir" -R "^$1\$" --output-on-failure --timeout 900
}

stage build build build_all
if [ "${build_failed:-0}" = 0 ]; then
  # Nothing of an earlier run may meet this one: its prefix's processes (this
  # prefix only, the work tree's own), and the trees failed tests kept.
  wineserver -k 2>/dev/null || true
  rm -rf "$test_build/e2e-work"
  if ! "$root/tools/wine-prefix.sh"; then
    echo "the Wine prefix $WINEPREFIX could not be made: the stages under Wine fail"
    prefix_failed=1
  fi
fi
stage "unit" unit suite unit
stage "shell" shell suite shell
stage "end to end" e2e suite e2e
stage "program file" program_file suite program_file
# Ends whatever the tests left in this work tree's prefix.
wineserver -k 2>/dev/null || true
stage "demo (quiet)" demo "$root/tools/demo.sh" --quiet
stage "reproducible build" reproducible "$root/tools/repro-check.sh"
stage "static analysis" analysis "$root/tools/lint.sh" "$build"

echo
echo "== Summary"
passed=0
failed=0
skipped=0
for i in "${!names[@]}"; do
  printf '  %-20s %s\n' "${names[$i]}" "${results[$i]}"
  case "${results[$i]}" in
    PASS*) passed=$((passed + 1)) ;;
    FAIL*) failed=$((failed + 1)) ;;
    *) skipped=$((skipped + 1)) ;;
  esac
done
if [ "$skipped" = 0 ]; then
  echo "stages: $passed passed, $failed failed"
else
  echo "stages: $passed passed, $failed failed, $skipped skipped"
fi
[ "$failed" = 0 ] && [ "$skipped" = 0 ]
