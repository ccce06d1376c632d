#!/usr/bin/env bash
# Only the gate makes a proof: a file that constructs one elsewhere fails to
# compile, on the constructor being private; the same file carrying a proof
# the gate made compiles.
#
#   proof_outside_gate_test.sh COMPILER ROOT
set -euo pipefail
# The compiler's messages in plain ASCII quotes, whatever the locale.
export LC_ALL=C
compiler=$1
root=$2
source=$root/tests/compile/proof_outside_gate.cpp
flags=(-std=c++17 -fsyntax-only -I"$root")
if ! "$compiler" "${flags[@]}" -DCARRY_ONLY "$source"; then
  echo "FAIL: carrying a proof the gate made does not compile: the check below proves nothing"
  exit 1
fi
if errors=$("$compiler" "${flags[@]}" "$source" 2>&1); then
  echo "FAIL: $source constructs a Proof outside the gate, and it compiles"
  exit 1
fi
if ! grep -qE "Proof::Proof\(.*\)' is private within this context" <<<"$errors"; then
  echo "FAIL: $source failed to compile, but not on Proof's private constructor:"
  echo "$errors"
  exit 1
fi
echo "a Proof made outside the gate does not compile: its constructor is private"
