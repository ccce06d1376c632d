#!/usr/bin/env bash
# Every test, inside a virtual X display: the build, then ctest's suites (the
# labels unit, enumerations, shell, e2e, program_file), the demo in its quiet form, the
# reproducible-build check and the static analysis. Ends with a summary and a
# last line "N passed, N failed" (each ctest test and each other step counts
# once); the exit code is 0 exactly when everything passed.
#
#   tools/test.sh              everything
#   tools/test.sh unit e2e     the build, then only what is named: unit enumerations shell
#                              e2e program_file demo reproducible analysis
#
# Root writes through a read-only file on Linux, and so would Wine: the tests
# run without that capability, as an ordinary Windows user would.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
suites=(unit enumerations shell e2e program_file)
steps=(demo reproducible analysis)
for wanted in "$@"; do
  case " ${suites[*]} ${steps[*]} " in
    *" $wanted "*) ;;
    *)
      echo "usage: $0 [name...]; the names: ${suites[*]} ${steps[*]}" >&2
      exit 2
      ;;
  esac
done
wanted() { [ -z "$WANTED" ] || [[ " $WANTED " == *" $1 "* ]]; }
WANTED="$*"

if [ -z "${MODLAUNCHER_TEST_DISPLAY:-}" ]; then
  "$root/tools/install-deps.sh"
  export MODLAUNCHER_TEST_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
build=$program_build
caps=-dac_override,-dac_read_search

lines=()
passed=0
failed=0
# result NAME OUTCOME [NOTE]: one line of the summary.
result() {
  lines+=("$(printf '  %-20s %s' "$1" "$2${3:+: $3}")")
  case "$2" in
    passed*) passed=$((passed + 1)) ;;
    *) failed=$((failed + 1)) ;;
  esac
}
summary() {
  echo
  echo "== Summary"
  printf '%s\n' "${lines[@]}"
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
# step NAME COMMAND...: runs the command, timed, into the summary.
step() {
  local name=$1 started=$SECONDS
  shift
  echo "== $name"
  if "$@"; then
    result "$name" "passed ($((SECONDS - started)) s)" "${note:-}"
  else
    result "$name" "FAILED ($((SECONDS - started)) s)"
  fi
  note=""
}

log="$build/test-build.log"
mkdir -p "$build"
echo "== build"
started=$SECONDS
if ! "$root/tools/build.sh" >"$log" 2>&1; then
  cat "$log"
  result build "FAILED ($((SECONDS - started)) s)"
  summary
  exit 1
fi
if [ "$native32" = yes ]; then
  note="output in ${log#"$root"/}"
else
  note="this machine runs no 32-bit code: 32-bit programs under qemu-i386, native helpers from ${tools_build#"$root"/}/; output in ${log#"$root"/}"
fi
result build "passed ($((SECONDS - started)) s)" "$note"
note=""

# Nothing of an earlier run may meet this one: its prefix's processes (this
# prefix only, the work tree's own), and the trees failed tests kept.
wineserver -k 2>/dev/null || true
rm -rf "$build/e2e-work"
prefix_ok=1
if ! "$root/tools/wine-prefix.sh"; then
  echo "the Wine prefix $WINEPREFIX could not be made: the tests under Wine fail"
  prefix_ok=0
fi

labels=()
for suite in "${suites[@]}"; do
  if wanted "$suite"; then labels+=("$suite"); fi
done
if ((${#labels[@]})); then
  echo "== ctest: ${labels[*]}"
  regex="^($(
    IFS='|'
    echo "${labels[*]}"
  ))\$"
  ctest_log="$build/ctest.log"
  # ctest does the timing; its lines "n/N Test #i: name ... Passed 1.2 sec" go
  # into the summary. Without a prefix only the program file checks can run.
  [ "$prefix_ok" = 1 ] || regex='^program_file$'
  setpriv --inh-caps="$caps" --bounding-set="$caps" -- \
    ctest --test-dir "$build" -L "$regex" --output-on-failure --timeout 900 2>&1 |
    tee "$ctest_log" || true
  for suite in "${labels[@]}"; do
    line=$(grep -E "Test +#[0-9]+: $suite " "$ctest_log" || true)
    outcome=$(echo "$line" | sed -E 's/.* \.+ *\**//; s/ +/ /g')
    case "$outcome" in
      "") result "$suite" "FAILED (did not run)" ;;
      Passed*) result "$suite" "passed (${outcome#Passed })" ;;
      Failed*) result "$suite" "FAILED (${outcome#Failed })" ;;
      *) result "$suite" "FAILED ($outcome)" ;;
    esac
    # What the end-to-end tests ran, as their release test found it.
    ran="$build/e2e-work/launcher-under-test.txt"
    if [ "$suite" = e2e ] && [ -f "$ran" ]; then lines+=("      they ran $(cat "$ran")"); fi
  done
fi
# Ends whatever the tests left in this work tree's prefix.
wineserver -k 2>/dev/null || true

# The demo checks that the launcher it ran is the release's 32-bit program.
if wanted demo; then
  note="ran dist/ModLauncher.exe"
  [ "$native32" = yes ] || note+=", 32-bit, under qemu-i386"
  step demo "$root/tools/demo.sh" --quiet
fi
if wanted reproducible; then step reproducible "$root/tools/repro-check.sh"; fi
if wanted analysis; then step analysis "$root/tools/lint.sh" "$build"; fi
summary
