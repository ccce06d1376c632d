#!/usr/bin/env bash
# Runs a Windows program under Wine, quietly, in the work tree's prefix
# (tools/wine-env.sh): 32-bit programs through the qemu route where this
# machine runs no 32-bit code, 64-bit ones natively.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
source "$here/wine-env.sh"
"$here/wine-prefix.sh"
if [ -z "${DISPLAY:-}" ]; then
  echo "wine-run.sh: no X display: programs that make windows (the shell and end-to-end" \
    "tests, the launcher) fail; run under xvfb-run -a, as tools/test.sh does" >&2
fi
exec "$WINELOADER" "$@"
