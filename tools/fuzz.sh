#!/usr/bin/env bash
# Fuzzes the launcher's Windows-free logic, built natively with clang into
# build-fuzz/: each target runs for the given seconds (60 by default) from a
# scratch copy of its seeds in tests/fuzz/corpus/, so what the run discovers
# does not pile up in the repository. Exits non-zero when any target found an
# input that crashes or breaks an invariant; that input is kept in
# build-fuzz/crashes/.
set -euo pipefail
seconds=${1:-60}
if [[ ! $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per target]" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-fuzz"

"$root/tools/install-deps.sh"
cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/crashes"
failed=0
summaries=()
for target in command_line split; do
  cp -r "$root/tests/fuzz/corpus/$target" "$scratch/$target"
  log="$build/$target.log"
  started=$SECONDS
  # A hang counts as a failure too: no input of these needs a second.
  if "$build/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$target-" "$scratch/$target" >"$log" 2>&1; then
    outcome="no failure"
  else
    failed=1
    what=$(grep -m1 -E 'invariant failed|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$log" |
      sed -E 's/^==[0-9]+==//; s/ on address.*//' || echo "exit without a report")
    input=$(sed -n 's/.*Test unit written to \(.*\)/\1/p' "$log" | tail -1)
    outcome="FAILED: ${what} (input: ${input:-none}; log: $log)"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  summaries+=("fuzz $target: ${runs:-?} executions in $((SECONDS - started)) s, $outcome")
done
printf '%s\n' "${summaries[@]}"
exit "$failed"
