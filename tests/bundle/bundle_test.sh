#!/usr/bin/env bash
# The test bundle as a maintainer gets it, run here under Wine: its sums
# check, its programs carry the asInvoker manifest and names that Windows
# does not take for installers; unpacked into an empty folder, its
# run-tests.cmd under Wine's cmd runs every test where this machine runs
# 32-bit code itself, and the smoke set (one test of each program, the tests
# of the last-resort box and of the file system's behaviour) where it runs
# them through qemu, against the bundle's own ModLauncher.exe. It must exit
# 0, and its report must tie itself to the release: the commit, the tested
# program's SHA-256 equal to dist/SHA256SUMS's line, the date, the system
# ("Wine x.y, not Windows"), the account, each test folder's file system "as
# Wine reports it", the crash debugger, and every skip with its reason; the
# tests that passed must leave no folder behind.
#
#   bundle_test.sh BUNDLE_ZIP RUN_FOLDER              in a test prefix of its own,
#                                                     RUN_FOLDER/wineprefix, made as
#                                                     tools/wine-prefix.sh makes the
#                                                     project's (no crash debugger
#                                                     can start); then, with
#                                                     MODLAUNCHER_BUNDLE_FAIL set, it
#                                                     must exit non-zero and the report
#                                                     give the release test's failure
#                                                     whole, in words
#   bundle_test.sh BUNDLE_ZIP RUN_FOLDER --default-prefix
#                                                     in a Wine prefix made afresh with
#                                                     Wine's defaults, where Wine's own
#                                                     crash debugger is registered: the
#                                                     tests of the last-resort box skip,
#                                                     saying why and what to change
#
# MODLAUNCHER_BUNDLE_SET=smoke or full chooses the set by hand.
set -euo pipefail
bundle=$1 run=$2 kind=${3:-test}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
tools="$root/tools"
# shellcheck source=../../tools/wine-env.sh
source "$tools/wine-env.sh"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ -f "$bundle" ] || fail "no bundle at $bundle (tools/build.sh makes it)"
dist=$(dirname "$bundle")
(cd "$dist" && sha256sum --quiet -c SHA256SUMS-tests) ||
  fail "the bundle does not match dist/SHA256SUMS-tests"

set_wanted=${MODLAUNCHER_BUNDLE_SET:-$([ "$native32" = yes ] && echo full || echo smoke)}
set_flag=()
[ "$set_wanted" = full ] || set_flag=(--smoke)

# The prefix: made here, and its Wine server ended when the test ends.
export WINEPREFIX="$run/wineprefix"
trap 'wineserver -k 2>/dev/null || true' EXIT
wine=("$WINELOADER")
if [ "$kind" = --default-prefix ]; then
  wineserver -k 2>/dev/null || true
  rm -rf "$run"
  mkdir -p "$run"
  if [ -z "$wine_route" ]; then
    # Debian's own wine, as a maintainer types it: it makes a 64-bit prefix
    # where it can.
    unset WINEARCH WINELOADER
    wine=(wine)
  else
    "$tools/wine-route.sh" "$wine_route"
  fi
  # Wine's defaults, but for the question whether to fetch Mono and Gecko,
  # which nobody is there to answer.
  WINEDLLOVERRIDES="mscoree,mshtml=" "${wine[@]}" wineboot -i >/dev/null 2>&1
  wineserver -w
else
  mkdir -p "$run"
  find "$run" -mindepth 1 -maxdepth 1 ! -name 'wineprefix*' ! -name drive-r -exec rm -rf {} +
  "$tools/wine-prefix.sh"
fi

unpacked="$run/bundle"
rm -rf "$unpacked"
mkdir -p "$unpacked"
python3 -m zipfile -e "$bundle" "$unpacked"
echo "unpacked: $(cd "$unpacked" && ls | paste -sd' ')"
for name in run-tests.cmd RunTests.exe README.txt ModLauncher.exe release-SHA256SUMS \
  ModLauncherFaults.exe BF2.exe unit_tests.exe shell_tests.exe e2e_tests.exe; do
  [ -f "$unpacked/$name" ] || fail "the bundle holds no $name"
done
cmp -s "$unpacked/ModLauncher.exe" "$dist/ModLauncher.exe" ||
  fail "the bundle's ModLauncher.exe is not dist/ModLauncher.exe"
cmp -s "$unpacked/release-SHA256SUMS" "$dist/SHA256SUMS" ||
  fail "the bundle's release-SHA256SUMS is not dist/SHA256SUMS"
for exe in "$unpacked"/*.exe; do
  name=$(basename "$exe")
  # Windows starts a program whose name holds such a word elevated unless
  # its manifest says otherwise.
  if grep -qiE 'setup|install|update|patch|upgrade' <<<"$name"; then
    fail "$name has a name Windows takes for an installer's"
  fi
  grep -qa 'level="asInvoker"' "$exe" || fail "$name carries no asInvoker manifest"
done

# Runs run-tests.cmd as a maintainer would, with cmd /c. Prints its output;
# sets status and output, and report to report.txt's lines.
run_bundle() {
  status=0
  output=$(cd "$unpacked" && "${wine[@]}" cmd /c "Z:${unpacked//\//\\}\\run-tests.cmd" "$@" 2>&1) ||
    status=$?
  output=${output//$'\r'/}
  printf '%s\n' "$output"
  report=$(tr -d '\r' <"$unpacked/report.txt")
}

# The line of the report that begins so, or a failure naming what is missing.
report_line() {
  grep -m1 -E "^$1" <<<"$report" || fail "the report has no line \"$1...\""
}

# The outcome of one test in the report ("passed", "FAILED" or "skipped"),
# and its reason when it skipped.
test_line() {
  grep -m1 -E "^  (passed |FAILED |skipped) $1 " <<<"$report" ||
    fail "the report does not name $1"
}

echo "== the $set_wanted run in the $([ "$kind" = --default-prefix ] && echo "fresh default" || echo test) prefix"
run_bundle "${set_flag[@]}"
[ "$status" = 0 ] || fail "run-tests.cmd ${set_flag[*]} exited with $status"
grep -q '0 failed, .*nothing failed' <<<"$(tail -n1 <<<"$report")" ||
  fail "report.txt does not end in a run where nothing failed"

# What ties the report to the release and the machine.
if commit=$(git -C "$root" rev-parse HEAD 2>/dev/null); then
  grep -qE "^Commit: +$commit" <<<"$report" ||
    fail "the report names another commit than HEAD $commit (was the bundle built before the" \
      "last commit? tools/build.sh builds it again): $(report_line 'Commit:')"
fi
release_sum=$(awk '$2 == "ModLauncher.exe" { print $1 }' "$dist/SHA256SUMS")
report_line "SHA-256: +$release_sum, the release's" >/dev/null
report_line 'Started: +[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} UTC' >/dev/null
report_line 'System: +Wine [0-9][^ ]*, not Windows \(it answers as a (workstation|server), build ' >/dev/null
report_line 'Account: +.*, as Wine reports it$' >/dev/null
[ "$(grep -c ': NTFS, as Wine reports it' <<<"$report")" -ge 3 ] ||
  fail "the report does not give each test folder's file system as Wine reports it"

# The crash debugger, and what it means for the tests of the last-resort box.
boxes=(ReportTest.NoStandardOutputShowsTheFailureInTheLastResortBox
  ReportTest.StartupFailureShowsErrorBoxAndChangesNothing)
if [ "$kind" = --default-prefix ]; then
  report_line 'Crash debugger: .*winedbg.*; the tests of the last-resort box skip$' >/dev/null
  for test in "${boxes[@]}"; do
    test_line "$test" | grep -q '^  skipped .*: a crash debugger is registered .*To run this test, ' ||
      fail "$test did not skip saying that a crash debugger is registered and what to change"
  done
else
  report_line 'Crash debugger: .*no-such-debugger.*, but its program is not there$' >/dev/null
  for test in "${boxes[@]}"; do
    test_line "$test" | grep -q '^  passed ' || fail "$test did not pass"
  done
fi

# The file system's behaviour: what Wine shows runs, the rest skips saying so.
for test in WindowsFileSystem.WriteThroughAHandleStillOpenMovesChangeTimeOrTheHoldOnWritersFails \
  WindowsFileSystem/ChangeTimeMoves.With/SettingTheLastWriteTimeBack \
  WindowsFileSystem/ChangeTimeMoves.With/ARename \
  WindowsFileSystem.WriteOnceTheLaunchersTickWaitEndsMovesChangeTime \
  WindowsFileSystem.WritersAreKeptOutByTheLaunchersSharing; do
  test_line "$test" | grep -q '^  passed ' || fail "$test did not pass under Wine"
done
for test in WindowsFileSystem.RangeLockedReadIsRefusedNeverShort \
  WindowsFileSystem.VolumeProbeAnswersNoOnFatAndExFat \
  WindowsFileSystem/KnownLimit.WriteNotShownByChangeTime/ChangeTimeSetBack \
  WindowsFileSystem/KnownLimit.WriteNotShownByChangeTime/ChangeTimeSuspended; do
  test_line "$test" | grep -q '^  skipped .*: only Windows shows this (Wine ' ||
    fail "$test did not skip with its reason under Wine"
done
test_line 'ReleaseUnderTest\.[A-Za-z0-9]+' | grep -q '^  passed ' || fail "the release test did not pass"

# Every skip is listed at the end with its reason.
skipped=$(grep -c '^  skipped ' <<<"$report" || true)
report_line "Skipped, and why \\($skipped\\):$" >/dev/null
listed=$(sed -n '/^Skipped, and why/,/^$/p' <<<"$report" | grep -c '^  [a-z0-9_]*\.exe ' || true)
[ "$listed" = "$skipped" ] || fail "$skipped tests skipped, $listed listed with their reasons"
! grep -q '(no reason given)' <<<"$report" || fail "a test skipped without a reason"

# Tests that passed leave nothing behind.
left=$(find "$unpacked/work/e2e" "$unpacked/work/temp" -mindepth 1 -maxdepth 1 \
  ! -name launcher-under-test.txt)
[ -z "$left" ] || fail "the passing tests left: $left"
echo "the report ties itself to the release and names every skip's reason"

[ "$kind" = --default-prefix ] && exit 0

echo "== the deliberate failure (MODLAUNCHER_BUNDLE_FAIL=1)"
export MODLAUNCHER_BUNDLE_FAIL=1
run_bundle --smoke
[ "$status" != 0 ] || fail "with MODLAUNCHER_BUNDLE_FAIL set, run-tests.cmd exited with 0"
# The failed test, then its whole message on the lines below it.
message=$(sed -n '/^  FAILED  ReleaseUnderTest\.LauncherThatRunsIsTheReleaseAs32BitProcess/,/^  [a-zA-Z]/p' \
  <<<"$report" | grep '^      ' || true)
[ -n "$message" ] || fail "the report does not give the release test's failure and its message"
grep -q "^      the launcher that ran is not the release .*the running launcher's program file" \
  <<<"$message" ||
  fail "the release test's message does not say what differs: $message"
! grep -qE '\.cpp:[0-9]+' <<<"$report" ||
  fail "the report points into the sources, which the bundle does not hold"
echo "the deliberate failure exited with $status; its message reads:"
printf '%s\n' "$message"
