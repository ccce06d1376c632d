#!/usr/bin/env bash
# The test bundle as a maintainer gets it, run here under Wine: its sums
# check, its programs carry the asInvoker manifest and names that Windows
# does not take for installers; unpacked into an empty folder, its
# run-tests.cmd under Wine's 64-bit cmd runs the smoke set (one test of each
# program) against the bundle's own ModLauncher.exe, prints the report with
# "Wine x.y, not Windows" and exits 0; with MODLAUNCHER_BUNDLE_FAIL set, it
# exits non-zero and the report names the release test as failed.
#
#   bundle_test.sh BUNDLE_ZIP RUN_FOLDER
set -euo pipefail
bundle=$1 run=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tools="$here/../../tools"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ -f "$bundle" ] || fail "no bundle at $bundle (tools/build.sh makes it)"
(cd "$(dirname "$bundle")" && sha256sum --quiet -c SHA256SUMS-tests) ||
  fail "the bundle does not match dist/SHA256SUMS-tests"

rm -rf "$run"
mkdir -p "$run"
python3 -m zipfile -e "$bundle" "$run"
echo "unpacked: $(cd "$run" && ls | paste -sd' ')"
for name in run-tests.cmd RunTests.exe README.txt ModLauncher.exe ModLauncherFaults.exe BF2.exe \
  unit_tests.exe shell_tests.exe e2e_tests.exe; do
  [ -f "$run/$name" ] || fail "the bundle holds no $name"
done
cmp -s "$run/ModLauncher.exe" "$(dirname "$bundle")/ModLauncher.exe" ||
  fail "the bundle's ModLauncher.exe is not dist/ModLauncher.exe"
for exe in "$run"/*.exe; do
  name=$(basename "$exe")
  # Windows starts a program whose name holds such a word elevated unless
  # its manifest says otherwise.
  if grep -qiE 'setup|install|update|patch|upgrade' <<<"$name"; then
    fail "$name has a name Windows takes for an installer's"
  fi
  grep -qa 'level="asInvoker"' "$exe" || fail "$name carries no asInvoker manifest"
done

# Runs run-tests.cmd as a maintainer would, under the work tree's Wine.
# Prints its output; sets status and output.
run_bundle() {
  status=0
  output=$(cd "$run" && "$tools/wine-run.sh" cmd /c "Z:${run//\//\\}\\run-tests.cmd" --smoke 2>&1) ||
    status=$?
  output=${output//$'\r'/}
  printf '%s\n' "$output"
}

echo "== the smoke run"
run_bundle
[ "$status" = 0 ] || fail "run-tests.cmd --smoke exited with $status"
grep -qE '^System: +Wine [0-9][^ ]*, not Windows' <<<"$output" ||
  fail "the report does not say \"Wine x.y, not Windows\""
grep -qE '^Work folder: .*, on [A-Za-z0-9]+' <<<"$output" || fail "the report names no file system"
for program in unit_tests.exe shell_tests.exe e2e_tests.exe; do
  # Each program's section lists at least one test that passed.
  awk -v p="$program:" '$0 == p { on = 1; next } /^[^ ]/ { on = 0 } on && /^  passed /' \
    <<<"$output" | grep -q . || fail "no test of $program passed in the report"
done
grep -q '^  passed  ReleaseUnderTest\.' <<<"$output" || fail "the release test did not pass"
grep -qE '^  skipped .*: only Windows shows this \(Wine ' <<<"$output" ||
  fail "no Windows-only test skipped with its reason"
tr -d '\r' <"$run/report.txt" | grep -q ' 0 failed, .*nothing failed' ||
  fail "report.txt does not end in a run where nothing failed"

echo "== the deliberate failure (MODLAUNCHER_BUNDLE_FAIL=1)"
export MODLAUNCHER_BUNDLE_FAIL=1
run_bundle
[ "$status" != 0 ] || fail "with MODLAUNCHER_BUNDLE_FAIL set, run-tests.cmd exited with 0"
grep -q '^  FAILED  ReleaseUnderTest\.LauncherThatRunsIsTheReleaseAs32BitProcess' <<<"$output" ||
  fail "the report does not name the release test as failed"
echo "the deliberate failure exited with $status and named the release test"
