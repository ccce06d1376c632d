#!/usr/bin/env bash
# Every test: installs what is missing, then inside a virtual X display builds
# (tools/build.sh) and runs ctest in build/, every test or those with the
# labels named. Ends with a summary, each test with its time, and a last line
# "N passed, N failed", one count per ctest test, read from ctest's JUnit
# report; the exit code is 0 exactly when everything passed.
#
#   tools/test.sh              everything
#   tools/test.sh unit e2e     the build, then only the tests labelled so; the
#                              labels: unit enumerations shell e2e program_file
#                              demo reproducible analysis
#
# Root writes through a read-only file on Linux, and so would Wine: the tests
# run without that capability, as an ordinary Windows user would.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
if [ -z "${MODLAUNCHER_TEST_DISPLAY:-}" ]; then
  # What is installed is installed first, while root may write anywhere: the
  # packages, and where this machine runs no 32-bit code the qemu route.
  "$root/tools/install-deps.sh"
  [ -z "$wine_route" ] || "$root/tools/wine-route.sh" "$wine_route"
  export MODLAUNCHER_TEST_DISPLAY=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
build=$program_build
log="$build/test-build.log"
junit="$build/ctest-junit.xml"
caps=-dac_override,-dac_read_search

mkdir -p "$build"
echo "== build (output in ${log#"$root"/})"
started=$SECONDS
if ! "$root/tools/build.sh" >"$log" 2>&1; then
  cat "$log"
  echo "the build failed after $((SECONDS - started)) s: no test ran"
  echo "0 passed, 1 failed"
  exit 1
fi
built="the build took $((SECONDS - started)) s"

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

echo "== ctest${*:+ -L $*}"
rm -f "$junit"
ctest_status=0
setpriv --inh-caps="$caps" --bounding-set="$caps" -- \
  ctest --test-dir "$build" "${selection[@]}" --output-on-failure --timeout 900 \
  --output-junit "$junit" || ctest_status=$?
# Ends whatever the tests left in this work tree's prefix.
wineserver -k 2>/dev/null || true

echo
echo "== Summary"
if [ "$native32" = yes ]; then
  echo "$built"
else
  echo "$built; this machine runs no 32-bit code: the 32-bit programs ran under qemu-i386," \
    "the native helpers came from ${tools_build#"$root"/}/"
fi
# What the end-to-end tests ran, as their release test found it.
ran="$build/e2e-work/launcher-under-test.txt"
python3 - "$junit" "$ran" "$ctest_status" <<'EOF'
import os, sys
import xml.etree.ElementTree as ET

junit, ran, ctest_status = sys.argv[1:4]
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
    print(f"  {name:<20} {outcome:<12} {float(case.get('time') or 0):7.1f} s")
    if name == "e2e" and os.path.isfile(ran):
        with open(ran, encoding="utf-8", errors="replace") as text:
            print(f"      they ran {text.read().strip()}")
if failed == 0 and ctest_status != "0":
    print(f"ctest ended with {ctest_status} although every test it reported passed")
print(f"{passed} passed, {failed} failed")
sys.exit(0 if cases and failed == 0 and ctest_status == "0" else 1)
EOF
