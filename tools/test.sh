#!/usr/bin/env bash
# Every test: installs what is missing, then inside a virtual X display builds
# (tools/build.sh) and runs ctest in build/, every test or those with the
# labels named. Ends with a summary: the time of the installation, of the
# qemu route and the Wine prefixes, of the build, of each test and of the
# whole, and a last line "N passed, N failed", one count per ctest test, read
# from ctest's JUnit report; the exit code is 0 exactly when everything passed.
#
#   tools/test.sh              everything
#   tools/test.sh unit e2e     the build, then only the tests labelled so; the
#                              labels: unit enumerations shell e2e program_file
#                              demo reproducible analysis bundle workflow
#
# Root writes through a read-only file on Linux, and so would Wine: the tests
# run without that capability, as an ordinary Windows user would.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
if [ -z "${MODLAUNCHER_TEST_DISPLAY:-}" ]; then
  # The packages are installed first, while root may write anywhere.
  MODLAUNCHER_TEST_STARTED=$(date +%s)
  "$root/tools/install-deps.sh"
  MODLAUNCHER_TEST_APT=$(($(date +%s) - MODLAUNCHER_TEST_STARTED))
  export MODLAUNCHER_TEST_DISPLAY=1 MODLAUNCHER_TEST_STARTED MODLAUNCHER_TEST_APT
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
build=$program_build
log="$build/test-build.log"
setup_log="$build/test-wine-setup.log"
junit="$build/ctest-junit.xml"
caps=-dac_override,-dac_read_search

labels_wanted=" $* "
mkdir -p "$build"
# Where 32-bit code cannot run, the qemu route (its fetch waits on the
# network), then the two Wine prefixes the tests use (tools/wine-prefix.sh;
# much of it waits on Wine's services), made while the build keeps the
# processor busy. The tests wine_prefix and wine_prefix_2 then find them made.
# Only when a test under Wine is chosen.
setup_pid=""
wine_setup="no"
if [ "$labels_wanted" = "  " ] || [[ "$labels_wanted" =~ \ (unit|enumerations|shell|e2e|demo|bundle)\  ]]; then
  wine_setup="yes"
  (
    started=$SECONDS
    [ -z "$wine_route" ] || "$root/tools/wine-route.sh" "$wine_route"
    echo "route $((SECONDS - started))"
    "$root/tools/wine-prefix.sh"
    WINEPREFIX="$build/e2e-2/wineprefix" "$root/tools/wine-prefix.sh"
    echo "prefixes $((SECONDS - started))"
  ) >"$setup_log" 2>&1 &
  setup_pid=$!
fi

echo "== build (output in ${log#"$root"/})"
started=$SECONDS
if ! "$root/tools/build.sh" >"$log" 2>&1; then
  cat "$log"
  echo "the build failed after $((SECONDS - started)) s: no test ran"
  echo "0 passed, 1 failed"
  [ -z "$setup_pid" ] || wait "$setup_pid" || true
  exit 1
fi
build_time=$((SECONDS - started))
if [ -n "$setup_pid" ] && ! wait "$setup_pid"; then
  cat "$setup_log"
  echo "the qemu route or the Wine prefixes could not be made (output above): no test ran"
  echo "0 passed, 1 failed"
  exit 1
fi

labels=$(ctest --test-dir "$build" --print-labels | sed -n 's/^  //p')
for wanted in "$@"; do
  if ! grep -qxF -- "$wanted" <<<"$labels"; then
    echo "usage: $0 [label...]; the labels: $(paste -sd' ' <<<"$labels")" >&2
    exit 2
  fi
done
selection=()
if (($#)); then selection=(-L "^($(
  IFS='|'
  echo "$*"
))\$"); fi

# One test more than there are cores: the tests under Wine wait on emulated
# programs for much of their time, and each holds its prefix's lock, so at
# most two of them run at once.
jobs=$(($(nproc) + 1))
echo "== ctest -j$jobs${*:+ -L $*}"
rm -f "$junit"
ctest_status=0
started=$SECONDS
setpriv --inh-caps="$caps" --bounding-set="$caps" -- \
  ctest --test-dir "$build" "${selection[@]}" -j "$jobs" --output-on-failure --timeout 900 \
  --output-junit "$junit" || ctest_status=$?
ctest_time=$((SECONDS - started))
# Ends whatever the tests left in this work tree's prefixes.
wineserver -k 2>/dev/null || true
WINEPREFIX="$build/e2e-2/wineprefix" wineserver -k 2>/dev/null || true

echo
echo "== Summary"
echo "  installing packages  $(printf '%7d' "$MODLAUNCHER_TEST_APT") s  (tools/install-deps.sh)"
if [ "$wine_setup" = yes ]; then
  route=$(sed -n 's/^route //p' "$setup_log")
  prefixes=$(sed -n 's/^prefixes //p' "$setup_log")
  if [ -n "$wine_route" ]; then
    echo "  qemu route           $(printf '%7d' "$route") s  (beside the build)"
  fi
  echo "  Wine prefixes        $(printf '%7d' "$((prefixes - route))") s  (beside the build)"
fi
echo "  build                $(printf '%7d' "$build_time") s"
if [ "$native32" = no ]; then
  echo "      this machine runs no 32-bit code: the 32-bit programs ran under qemu-i386," \
    "the native helpers came from ${tools_build#"$root"/}/"
fi
echo "  ctest, $jobs at a time  $(printf '%5d' "$ctest_time") s; each test:"
# What the end-to-end tests ran, as their release test found it (in one half).
ran=$(cat "$build/e2e-work/launcher-under-test.txt" "$build/e2e-2/e2e-work/launcher-under-test.txt" 2>/dev/null || true)
python3 - "$junit" "$ran" "$ctest_status" "$(($(date +%s) - MODLAUNCHER_TEST_STARTED))" <<'EOF'
import sys
import xml.etree.ElementTree as ET

junit, ran, ctest_status, total = sys.argv[1:5]
try:
    cases = list(ET.parse(junit).getroot().iter("testcase"))
except (OSError, ET.ParseError) as error:
    print(f"ctest left no readable report ({error})")
    print("0 passed, 1 failed")
    sys.exit(1)
passed = failed = 0
for case in cases:
    name, status = case.get("name"), case.get("status")
    ok = status == "run" and case.find("failure") is None
    if ok:
        passed += 1
    else:
        failed += 1
    outcome = "passed" if ok else ("did not run" if status == "notrun" else "FAILED")
    print(f"    {name:<22} {outcome:<12} {float(case.get('time') or 0):7.1f} s")
# Only when the end-to-end tests ran now: the file may be from an earlier run.
if ran.strip() and any(case.get("name").startswith("e2e_") for case in cases):
    print(f"      the end-to-end tests ran {ran.strip()}")
print(f"  the whole test command {int(total):5d} s")
if failed == 0 and ctest_status != "0":
    print(f"ctest ended with {ctest_status} although every test it reported passed")
print(f"{passed} passed, {failed} failed")
sys.exit(0 if cases and failed == 0 and ctest_status == "0" else 1)
EOF
