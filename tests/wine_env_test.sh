#!/usr/bin/env bash
# The Wine scripts keep the loader, architecture and prefix they are given:
# a script that wants 64-bit Wine sets them and calls another that sources
# tools/wine-env.sh again. Runs on any host, with a stand-in loader and
# server that only record how they were called.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

mkdir -p "$scratch/bin"
# The stand-in loader: one line a call, the architecture it ran with, then
# its arguments; wineboot makes the prefix's drive folder, as Wine does.
cat >"$scratch/bin/fake-wine" <<'LOADER'
#!/usr/bin/env bash
echo "$WINEARCH $WINEPREFIX $*" >>"$CALLS"
[ "${1:-}" != wineboot ] || mkdir -p "$WINEPREFIX/dosdevices"
LOADER
printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/wineserver"
chmod +x "$scratch/bin/fake-wine" "$scratch/bin/wineserver"
export PATH="$scratch/bin:$PATH" CALLS="$scratch/calls"

# Sourced with values given, twice over: each kept.
(
  export WINELOADER="$scratch/bin/fake-wine" WINEARCH=win64 WINEPREFIX="$scratch/p64"
  # shellcheck source=../tools/wine-env.sh
  source "$root/tools/wine-env.sh"
  source "$root/tools/wine-env.sh"
  [ "$WINELOADER" = "$scratch/bin/fake-wine" ] || fail "wine-env.sh replaced the loader given with $WINELOADER"
  [ "$WINEARCH" = win64 ] || fail "wine-env.sh replaced the architecture win64 with $WINEARCH"
  [ "$WINEPREFIX" = "$scratch/p64" ] || fail "wine-env.sh replaced the prefix given with $WINEPREFIX"
  ((failures == 0))
) || fail "sourcing wine-env.sh with values given failed"

# Sourced with none given: the host's own, the 32-bit one where 32-bit code runs.
(
  unset WINELOADER WINEARCH WINEPREFIX
  source "$root/tools/wine-env.sh"
  expected=win64
  [ "$native32" = no ] || expected=win32
  [ "$WINEARCH" = "$expected" ] || fail "with nothing given, WINEARCH is '$WINEARCH', not $expected (native32=$native32)"
  [ -n "$WINELOADER" ] || fail "with nothing given, no WINELOADER"
  ((failures == 0))
) || fail "sourcing wine-env.sh with nothing given failed"

# The prefix script, called from a script that chose 64-bit Wine: every call
# of the loader runs with win64 in the prefix given, both registry views set.
WINELOADER="$scratch/bin/fake-wine" WINEARCH=win64 WINEPREFIX="$scratch/p64" \
  "$root/tools/wine-prefix.sh" || fail "wine-prefix.sh failed with the stand-in loader"
if [ ! -s "$CALLS" ]; then
  fail "wine-prefix.sh never called the loader it was given"
else
  while read -r arch prefix rest; do
    [ "$arch" = win64 ] || fail "wine-prefix.sh ran '$rest' with WINEARCH=$arch, not win64"
    [ "$prefix" = "$scratch/p64" ] || fail "wine-prefix.sh ran '$rest' in $prefix, not $scratch/p64"
  done <"$CALLS"
  grep -q '/reg:64' "$CALLS" || fail "wine-prefix.sh set no 64-bit registry view in a win64 prefix: $(cat "$CALLS")"
fi
[ -f "$scratch/p64/.modlauncher-ready" ] || fail "wine-prefix.sh did not mark $scratch/p64 ready"

if ((failures)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "the Wine scripts keep the loader, architecture and prefix given"
