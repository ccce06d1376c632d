#!/usr/bin/env bash
# The exit codes are listed once, in docs/messages.md; README.md and the
# player's README.txt copy that list exactly. Fails naming the file and the
# first line that differs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The indented block that follows a file's "Exit codes" heading.
exit_codes() {
  awk '/Exit codes/ { heading = 1; next }
       heading && /^    / { inside = 1; print; next }
       inside { exit }' "$1"
}

list=$(exit_codes "$root/docs/messages.md")
[ -n "$list" ] || { echo "docs/messages.md: no exit code list after its \"Exit codes\" heading"; exit 1; }
grep -q '^    217 ' <<<"$list" || { echo "docs/messages.md: the exit code list lacks code 217"; exit 1; }
faults=0
for copy in README.md tools/release/README.txt; do
  if ! differs=$(diff <(echo "$list") <(exit_codes "$root/$copy")); then
    echo "$copy: its exit code list differs from docs/messages.md's:"
    echo "$differs"
    faults=$((faults + 1))
  fi
done
[ "$faults" -eq 0 ] || exit 1
echo "exit codes: README.md and tools/release/README.txt copy docs/messages.md's list"
