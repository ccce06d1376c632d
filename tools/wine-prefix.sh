#!/usr/bin/env bash
# Makes the Wine prefix the tests run in, once: 32-bit, or where this machine
# runs no 32-bit code 64-bit with the qemu route for its 32-bit programs
# (tools/wine-env.sh, tools/wine-route.sh), no debugger started
# for an unhandled exception (so the platform behaves as a Windows without
# one), no wait for a window manager, and a drive R: on a folder of its own.
set -euo pipefail
# shellcheck source=wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
# The route only where the loader is the route's own.
case "$WINELOADER" in
  "$wine_route"/* ) [ -z "$wine_route" ] || "$(dirname "${BASH_SOURCE[0]}")/wine-route.sh" "$wine_route" ;;
esac
ready="$WINEPREFIX/.modlauncher-ready"
[ -f "$ready" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$ready" ] && exit 0
export WINEDLLOVERRIDES="mscoree,mshtml="
"$WINELOADER" wineboot -i >/dev/null 2>&1
# A 64-bit prefix keeps a second view of the key for its 32-bit programs.
views=("")
[ "$WINEARCH" = win32 ] || views=(/reg:32 /reg:64)
for view in "${views[@]}"; do
  "$WINELOADER" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /d 'C:\no-such-debugger.exe' /f ${view:+"$view"} >/dev/null 2>&1
done
"$WINELOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
wineserver -w
drive="$(dirname "$WINEPREFIX")/drive-r"
mkdir -p "$drive"
ln -sfn "$drive" "$WINEPREFIX/dosdevices/r:"
touch "$ready"
