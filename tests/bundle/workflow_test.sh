#!/usr/bin/env bash
# The Windows workflow, checked offline (tools/check-workflows.sh): the
# project's workflows pass the validator and name only scripts that exist;
# and the check can fail: a workflow with a misspelt key fails the
# validator, one that names a script that is not there fails the check of
# the scripts.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
check="$root/tools/check-workflows.sh"
workflow="$root/.github/workflows/windows.yml"
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$check" || fail "the project's workflows do not pass the check"

# Each broken copy: what is changed, and what the check must say.
broken() {
  local name=$1 change=$2 expected=$3 output status=0
  sed "$change" "$workflow" >"$scratch/$name.yml"
  cmp -s "$workflow" "$scratch/$name.yml" && fail "the change for $name did not apply"
  output=$("$check" "$scratch/$name.yml" 2>&1) || status=$?
  [ "$status" != 0 ] || fail "a workflow with $name passed the check"
  grep -qF -- "$expected" <<<"$output" || fail "for $name the check did not say \"$expected\": $output"
  echo "a workflow with $name fails: $(grep -m1 -F -- "$expected" <<<"$output")"
}
broken "a misspelt key" 's/^    runs-on: ubuntu-latest/    runs_on: ubuntu-latest/' \
  "Additional property 'runs_on' is not allowed"
broken "a missing script" 's#tools/ci/make-volumes.ps1#tools/ci/make-volume.ps1#' \
  "names tools/ci/make-volume.ps1, which does not exist"
