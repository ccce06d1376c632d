#!/usr/bin/env bash
# Benchmarks, under Wine in a virtual display. Prints figures; asserts nothing.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/build.sh" >/dev/null
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all
"$root/tools/wine-prefix.sh"
xvfb-run -a python3 "$root/tools/bench.py" "$@"
