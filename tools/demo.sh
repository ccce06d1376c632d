#!/usr/bin/env bash
# The main job: builds the launcher and the stand-in game, then runs the
# launcher under Wine in a sample game installation and shows what the game
# received and what became of the shader archives; then a run whose launcher
# is killed while the game runs, and the next run that puts everything right.
#
#   tools/demo.sh [--quiet]
#
# --quiet (and CI=true) prints one line a run. Either way the demo checks what
# it shows, and exits non-zero when a check failed: above all, right after the
# kill the marker must be there and the mod's archive live.
#
# The demo ends no process by name: the kill is made by kill_mid_game.exe,
# which starts the launcher itself and ends it by the handle it holds.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The release's own dist/ModLauncher.exe; where this machine runs no 32-bit
# x86 code, under qemu-i386 beside a native stand-in game (tools/wine-env.sh).
# shellcheck source=wine-env.sh
source "$root/tools/wine-env.sh"
build="$program_build"
release="$root/dist/ModLauncher.exe"
quiet=0
case "${1:-}" in
  --quiet) quiet=1 ;;
  "") ;;
  *)
    echo "usage: $0 [--quiet]" >&2
    exit 2
    ;;
esac
[ "${CI:-}" = true ] && quiet=1

if [ -z "${MODLAUNCHER_DEMO_BUILT:-}" ]; then
  mkdir -p "$build"
  log="$build/demo-build.log"
  [ "$quiet" = 1 ] || echo "Building the launcher and the stand-in game (output in $log)"
  if ! "$root/tools/build.sh" --demo >"$log" 2>&1; then
    cat "$log"
    echo "demo: the build failed (output above, also in $log)" >&2
    exit 1
  fi
  export MODLAUNCHER_DEMO_BUILT=1
  # The launcher makes a (hidden) window, so Wine needs an X display.
  [ -n "${DISPLAY:-}" ] || exec xvfb-run -a "$0" "$@"
fi
if ! "$root/tools/wine-prefix.sh"; then
  echo "demo: FAILED: the Wine prefix $WINEPREFIX could not be made" >&2
  exit 1
fi

game="$build/demo/Game"
mod="$game/mods/mymod"
live="$game/mods/bf2/Shaders_client.zip"
marker="$game/mods/bf2/Backup/Shaders_client.zip.swapped"
report="$game/standin-report.txt"
game_text="the game's own shaders"
mod_text="the mod's shaders"
rm -rf "$build/demo"
mkdir -p "$mod" "$game/mods/bf2"
cp "$tools_build/standin/BF2.exe" "$game/BF2.exe"
cp "$release" "$mod/ModLauncher.exe"
printf '%s' "$game_text" >"$live"
printf '%s' "$mod_text" >"$mod/Shaders_client.zip"

failures=0
failures_before=0
say() { [ "$quiet" = 1 ] || echo "$@"; }
# The quiet form's line for a run: what it showed, or that a check failed.
run_line() { # run, what it showed
  [ "$quiet" = 1 ] || return 0
  if [ "$failures" = "$failures_before" ]; then
    echo "demo: run $1: $2"
  else
    echo "demo: run $1: FAILED (above)"
  fi
  failures_before=$failures
}
fail() {
  echo "demo: FAILED: $*" >&2
  failures=$((failures + 1))
}
# What a file holds, in words.
holds() {
  if [ ! -f "$1" ]; then
    echo "(no file)"
  else
    case "$(tr -d '\r\n' <"$1")" in
      "$game_text") echo "the game's own archive" ;;
      "$mod_text") echo "the mod's archive" ;;
      *) echo "unexpected bytes: $(head -c 60 "$1" | tr -d '\r\n')" ;;
    esac
  fi
}
expect_holds() { # file, expected words, when
  local got
  got=$(holds "$1")
  [ "$got" = "$2" ] || fail "$3: ${1#"$game"/} holds $got, expected $2"
}
expect_marker() { # present|absent, when
  if [ -f "$marker" ]; then
    [ "$1" = present ] || fail "$2: the marker ${marker#"$game"/} is there"
  else
    [ "$1" = absent ] || fail "$2: the marker ${marker#"$game"/} is missing"
  fi
}
show_archives() {
  [ "$quiet" = 1 ] && return
  (cd "$game" && find . -name 'Shaders_client.zip*' | sort | while read -r f; do
    if [ "${f##*.}" = swapped ]; then
      printf '  %-46s %s\n' "$f" "(the marker: the mod's archive is live)"
    else
      printf '  %-46s %s\n' "$f" "$(holds "$f")"
    fi
  done)
}
report_value() { sed -n "s/^$1=//p" "$report" | tr -d '\r'; }
game_report() {
  [ "$quiet" = 1 ] && return
  echo "  the game was started with:  $(report_value commandline)"
  echo "  in the folder:              $(report_value folder)"
  if [ "$(report_value archive)" = "$mod_text" ]; then
    echo "  its live shader archive:    the mod's"
  else
    echo "  its live shader archive:    $(report_value archive)"
  fi
}

# What runs is the program that ships: a 32-bit x86 Windows program.
kind=$(file -b "$mod/ModLauncher.exe")
case "$kind" in
  "PE32 executable (GUI) Intel 80386"*) ;;
  *) fail "the launcher the demo runs, a copy of ${release#"$root"/}, is not a 32-bit x86 program: $kind" ;;
esac
[ "$quiet" = 1 ] && echo "demo: the launcher: ${release#"$root"/}, ${kind%%,*}"
say "== A sample installation: $game"
say "   the launcher: ${release#"$root"/}, $kind"

show_archives
say
say "== Run 1: ModLauncher.exe +difficulty hard \"two words\", from mods/mymod"
code=0
(cd "$mod" && STANDIN_RUN_MS=1000 "$WINELOADER" ModLauncher.exe +difficulty hard "two words") || code=$?
say "the launcher's exit code: $code"
[ "$code" = 0 ] || fail "run 1: the launcher's exit code is $code"
if [ -f "$report" ]; then
  say "what the game received and saw:"
  game_report
  [ "$(report_value archive)" = "$mod_text" ] || fail "run 1: the game did not see the mod's archive live"
  received=$(report_value commandline)
  case "$received" in
    *" +menu 1 +fullscreen 1 +modPath mods/mymod +difficulty hard two words") ;;
    *) fail "run 1: the game was started with: $received" ;;
  esac
else
  fail "run 1: the game did not start (no ${report#"$game"/})"
fi
say "the archives afterwards:"
show_archives
expect_holds "$live" "the game's own archive" "after run 1"
expect_marker absent "after run 1"
run_line 1 "the game got: ${received:-}; the mod's archive was live; afterwards the game's own archive is live again"

say
say "== Run 2: the launcher is killed while the game runs"
kill_line=""
if kill_line=$(cd "$mod" && STANDIN_RUN_UNTIL=quit-game.txt \
  "$WINELOADER" "$tools_build/demo-tools/kill_mid_game.exe" ModLauncher.exe '..\..\standin-report.txt'); then
  say "$kill_line, as the Task Manager would; the game went on:"
  game_report
else
  fail "run 2: ${kill_line:-kill_mid_game.exe failed}"
fi
say "the archives right after the kill:"
show_archives
expect_marker present "right after the kill"
expect_holds "$live" "the mod's archive" "right after the kill"
# The player quits the game; it writes ended into its report as it ends.
: >"$game/quit-game.txt"
for _ in $(seq 2400); do
  grep -qx ended "$report" 2>/dev/null && break
  sleep 0.05
done
grep -qx ended "$report" 2>/dev/null || fail "run 2: the game did not end when told to"
rm -f "$game/quit-game.txt"
run_line 2 "${kill_line:-no kill}; right after it the marker was there and the mod's archive live"

say
say "== Run 3: an ordinary run after that"
code=0
(cd "$mod" && "$WINELOADER" ModLauncher.exe) || code=$?
say "the launcher's exit code: $code"
[ "$code" = 0 ] || fail "run 3: the launcher's exit code is $code"
say "the archives afterwards: the game's own archive is live and backed up"
show_archives
expect_holds "$live" "the game's own archive" "after run 3"
expect_holds "$game/mods/bf2/Backup/Shaders_client.zip" "the game's own archive" "after run 3"
expect_marker absent "after run 3"
run_line 3 "the next run put the game's own archive back and removed the marker"

# Everything the demo started has ended or is ending; wait for the prefix's
# Wine server to go, so that nothing of the demo outlives it.
wineserver -w
if [ "$failures" != 0 ]; then
  echo "demo: $failures check(s) failed"
  exit 1
fi
say
echo "demo: every check passed"
