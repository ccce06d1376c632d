#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the build's own prefix.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/../build/wineprefix}"
export WINEDEBUG=-all
"$here/wine-prefix.sh"
exec wine "$@"
