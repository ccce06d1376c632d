#!/usr/bin/env bash
# Checks the CI workflows offline, since they cannot run here: each must pass
# the workflow validator (action-validator, the version tools/install-deps.sh
# installs from npm), and every script of the project that a workflow names
# (under tools/, tests/ or .ci/) must exist. Exits non-zero, naming the
# workflow and what is wrong, when one fails.
#
#   tools/check-workflows.sh [WORKFLOW...]    by default .github/workflows/*.yml
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
command -v action-validator >/dev/null ||
  {
    echo "check-workflows: no action-validator; tools/install-deps.sh installs it" >&2
    exit 1
  }
workflows=("$@")
((${#workflows[@]})) || workflows=("$root"/.github/workflows/*.yml)
status=0
for workflow in "${workflows[@]}"; do
  name=${workflow#"$root"/}
  if ! found=$(action-validator "$workflow" 2>&1); then
    echo "check-workflows: $name is not a valid workflow:"
    printf '%s\n' "$found" | grep -E '"(detail|path|title)"' | sed 's/^ */  /' | sort -u
    status=1
  fi
  # The project's scripts it names, as paths from the repository's root.
  scripts=$(grep -oE '(^|[^A-Za-z0-9_./-])(tools|tests|\.ci)/[A-Za-z0-9_./-]*[A-Za-z0-9_-]' "$workflow" |
    sed -E 's/^[^t.]//' | sort -u)
  for script in $scripts; do
    [ -e "$root/$script" ] && continue
    echo "check-workflows: $name names $script, which does not exist"
    status=1
  done
  [ "$status" != 0 ] || echo "check-workflows: $name is valid; the scripts it names exist:" $scripts
done
exit $status
