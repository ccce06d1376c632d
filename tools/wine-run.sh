#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the prefix of the build
# that holds it (32-bit or 64-bit, as tools/wine-env.sh chooses).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
case "$1" in
  */build-x64/*) export MODLAUNCHER_TEST_ARCH=x86_64 ;;
  */build/*) export MODLAUNCHER_TEST_ARCH=i686 ;;
esac
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
"$here/wine-prefix.sh"
if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run.sh: no X display: programs that make windows (the shell and end-to-end" \
    "tests, the launcher) fail; run under xvfb-run -a, as tools/test.sh does" >&2
fi
exec "$WINELOADER" "$@"
