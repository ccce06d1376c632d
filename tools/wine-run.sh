#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the build's own prefix.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/../build/wineprefix}"
export WINEDEBUG=-all
"$here/wine-prefix.sh"
if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run.sh: no X display: programs that make windows (the shell and end-to-end" \
    "tests, the launcher) fail; run under xvfb-run -a, as tools/test.sh does" >&2
fi
exec wine "$@"
