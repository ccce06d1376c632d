#!/usr/bin/env bash
# Two launchers for one game, started from two Wine prefixes (two front-ends,
# say): sharing modes hold only inside one prefix, the lock on the lock file's
# first byte holds across them. The second is refused while the first one's
# game runs, changes nothing, and is let through once the first has ended.
#
#   two_prefixes_test.sh LAUNCHER_EXE STANDIN_EXE WORK_FOLDER SECOND_PREFIX
#
# The first prefix is the work tree's (tools/wine-env.sh); the second one is
# made when missing.
set -euo pipefail
launcher=$1 standin=$2 work=$3 second_prefix=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/wine-env.sh
source "$here/../../tools/wine-env.sh"
"$here/../../tools/wine-prefix.sh"
first_prefix=$WINEPREFIX
WINEPREFIX=$second_prefix "$here/../../tools/wine-prefix.sh"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

root="$work/two-prefixes"
rm -rf "$root"
mkdir -p "$root/mods/bf2" "$root/mods/mymod"
cp "$standin" "$root/BF2.exe"
cp "$launcher" "$root/mods/mymod/ModLauncher.exe"
printf 'the game own archive' >"$root/mods/bf2/Shaders_client.zip"
printf 'the mod archive' >"$root/mods/mymod/Shaders_client.zip"

# run PREFIX OUTPUT: one launcher in the mod's folder, its output to a file.
run() {
  (cd "$root/mods/mymod" && WINEPREFIX=$1 exec "$WINELOADER" ModLauncher.exe >"$2" 2>/dev/null)
}

# The first launcher's game runs until quit.txt appears.
STANDIN_RUN_UNTIL=quit.txt run "$first_prefix" "$root/first.txt" &
first=$!
trap 'touch "$root/quit.txt"; wait "$first" 2>/dev/null || true' EXIT
for _ in $(seq 600); do
  [ -f "$root/standin-report.txt" ] && break
  kill -0 "$first" 2>/dev/null || fail "the first launcher ended before its game started"
  sleep 0.1
done
[ -f "$root/standin-report.txt" ] || fail "the first launcher's game did not start in 60 s"
cmp -s "$root/mods/bf2/Shaders_client.zip" "$root/mods/mymod/Shaders_client.zip" ||
  fail "the mod's archive is not live while the first game runs"

code=0
run "$second_prefix" "$root/second.txt" || code=$?
[ "$code" = 3 ] || fail "the launcher in the second prefix ended with $code, not 3: $(cat "$root/second.txt")"
grep -q '^Error: A launcher is already running for the game in ' "$root/second.txt" ||
  fail "the second launcher said: $(cat "$root/second.txt")"
cmp -s "$root/mods/bf2/Shaders_client.zip" "$root/mods/mymod/Shaders_client.zip" ||
  fail "the second launcher changed the live archive"

touch "$root/quit.txt"
code=0
wait "$first" || code=$?
trap - EXIT
[ "$code" = 0 ] || fail "the first launcher ended with $code: $(cat "$root/first.txt")"
[ "$(cat "$root/mods/bf2/Shaders_client.zip")" = 'the game own archive' ] ||
  fail "the game's archive is not back after the first launcher"

# Its lock went with the first launcher: the second prefix gets through now.
rm -f "$root/quit.txt" "$root/standin-report.txt"
code=0
run "$second_prefix" "$root/second.txt" || code=$?
[ "$code" = 0 ] || fail "the launcher in the second prefix, alone, ended with $code: $(cat "$root/second.txt")"
grep -q 'the mod archive' "$root/standin-report.txt" ||
  fail "the second prefix's game did not see the mod's archive"
[ "$(cat "$root/mods/bf2/Shaders_client.zip")" = 'the game own archive' ] ||
  fail "the game's archive is not back after the second launcher"
[ "$(cat "$root/mods/bf2/Backup/Shaders_client.zip")" = 'the game own archive' ] ||
  fail "the game's backup does not hold its archive"
[ ! -e "$root/mods/bf2/Backup/Shaders_client.zip.swapped" ] || fail "a marker was left"
WINEPREFIX=$second_prefix wineserver -k 2>/dev/null || true
echo "two prefixes: the second launcher was refused with 3 while the first ran, and let through after it"
