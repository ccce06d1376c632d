#!/usr/bin/env bash
# The program file as a player's Windows machine gets it: a 32-bit GUI
# program that needs no DLL beyond Windows' own.
set -euo pipefail
exe=$1
status=0
kind=$(file -b "$exe")
echo "$exe: $kind"
case "$kind" in
  "PE32 executable (GUI) Intel 80386"*) ;;
  *) echo "FAIL: not a 32-bit GUI program"; status=1 ;;
esac
dlls=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
echo "imports: $(echo $dlls)"
for dll in $dlls; do
  case "$dll" in
    kernel32.dll | ntdll.dll | user32.dll | shell32.dll | ole32.dll | advapi32.dll | msvcrt.dll | gdi32.dll) ;;
    *) echo "FAIL: $dll does not ship with Windows"; status=1 ;;
  esac
done
[ "$status" = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
