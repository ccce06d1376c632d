#!/usr/bin/env bash
# tools/check-includes.sh on small trees: one that keeps to the arrows
# passes; each include that goes the wrong way, and a circle, fails, named.
set -euo pipefail
check=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tools/check-includes.sh
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A tree whose arrows all point the right way.
base() {
  rm -rf "$scratch/tree"
  mkdir -p "$scratch/tree/launcher" "$scratch/tree/platform" "$scratch/tree/shell"
  cd "$scratch/tree"
  printf '#pragma once\n#include <string>\n' >launcher/text.h
  printf '#pragma once\n#include "launcher/text.h"\n' >launcher/platform.h
  printf '#pragma once\n#include "launcher/text.h"\n' >launcher/failure.h
  printf '#pragma once\n#include "launcher/platform.h"\n' >launcher/sequence.h
  printf '#include "launcher/sequence.h"\n' >launcher/sequence.cpp
  printf '#include "launcher/sequence.h"\nvoid Drop() { Files().RemoveFile(u"x"); }\n' >launcher/gate.cpp
  printf '#pragma once\n#include <windows.h>\n#include "launcher/platform.h"\n' >platform/windows_platform.h
  printf '#include "platform/windows_platform.h"\n#include "launcher/failure.h"\n' >platform/windows_platform.cpp
  printf '#pragma once\n#include "platform/windows_platform.h"\n' >shell/app_shell.h
  printf '#include "shell/app_shell.h"\n#include "launcher/sequence.h"\n' >shell/main.cpp
}

# CASE: name | the line added | the file it goes into | what the failure must name
cases=(
  'platform into shell|#include "shell/app_shell.h"|platform/windows_platform.cpp|platform/windows_platform.cpp:3 includes "shell/app_shell.h"'
  'platform into launcher beyond the seam|#include "launcher/sequence.h"|platform/windows_platform.cpp|includes "launcher/sequence.h", against the arrows of platform/'
  'launcher into platform|#include "platform/windows_platform.h"|launcher/sequence.cpp|launcher/sequence.cpp:2 includes "platform/windows_platform.h"'
  'launcher into shell|#include "shell/app_shell.h"|launcher/text.h|launcher/text.h:3 includes "shell/app_shell.h"'
  'Windows header in launcher|#include <Windows.h>|launcher/sequence.cpp|includes the Windows header <Windows.h>'
  'a file that does not exist|#include "launcher/gone.h"|launcher/sequence.cpp|"launcher/gone.h", which is no file'
  'a circle|#include "launcher/sequence.h"|launcher/platform.h|a circle of includes'
  'a removal around the gate|void Drop() { Files().RemoveFile(u"x"); }|launcher/sequence.cpp|launcher/sequence.cpp:2 calls RemoveFile: only launcher/gate.cpp'
  'a rename over a file around the gate|auto moved = Files().MoveOver (a, b);|shell/main.cpp|shell/main.cpp:3 calls MoveOver'
)

passed=0
failed=0
base
if out=$("$check" "$scratch/tree" 2>&1); then
  passed=$((passed + 1))
else
  echo "FAIL: a tree that keeps to the arrows was refused:"
  echo "$out"
  failed=$((failed + 1))
fi
for case in "${cases[@]}"; do
  IFS='|' read -r name line file expected <<<"$case"
  base
  echo "$line" >>"$file"
  if out=$("$check" "$scratch/tree" 2>&1); then
    echo "FAIL: $name: passed the check"
    failed=$((failed + 1))
  elif [[ $out != *"$expected"* ]]; then
    echo "FAIL: $name: the output does not name it ($expected):"
    echo "$out"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
