#!/usr/bin/env bash
# Fails on an include that goes the wrong way between the program's folders,
# or on a circle of includes. The arrows point one way:
#   shell/     the entry and the window: may include launcher/, platform/, shell/
#   platform/  the Windows calls: platform/ and only the seam of launcher/,
#              launcher/platform.h and launcher/failure.h
#   launcher/  the logic: launcher/ only, and no Windows header
# Quoted includes are paths from the root. Prints every fault, one a line.
#
#   tools/check-includes.sh [root]     the work tree's root by default
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root"

allowed() { # FOLDER TARGET: whether FOLDER's files may include TARGET
  case "$1:$2" in
    launcher:launcher/*) return 0 ;;
    platform:platform/* | platform:launcher/platform.h | platform:launcher/failure.h) return 0 ;;
    shell:launcher/* | shell:platform/* | shell:shell/*) return 0 ;;
  esac
  return 1
}

faults=0
fault() {
  echo "check-includes: $*"
  faults=$((faults + 1))
}

edges=$(mktemp)
trap 'rm -f "$edges"' EXIT
folders=$(for folder in launcher platform shell; do if [ -d "$folder" ]; then echo "$folder"; fi; done)
files=$([ -z "$folders" ] || find $folders -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
[ -n "$files" ] || { fault "no source under launcher/, platform/ or shell/ in $root"; exit 1; }
for file in $files; do
  folder=${file%%/*}
  while IFS= read -r found; do
    line=${found%%:*}
    include=${found#*:}
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]*)[>"].*/\1/' <<<"$include")
    case "$include" in
      *'<'*)
        # Windows headers stay out of the logic.
        if [ "$folder" = launcher ] &&
          grep -qiE '^(windows|win[a-z0-9_]*|shellapi|shlobj|ole2|objbase|commctrl|tchar)\.h$' <<<"$target"; then
          fault "$file:$line includes the Windows header <$target>; launcher/ includes none"
        fi
        continue
        ;;
    esac
    if ! allowed "$folder" "$target"; then
      fault "$file:$line includes \"$target\", against the arrows of $folder/"
    elif [ ! -f "$target" ]; then
      fault "$file:$line includes \"$target\", which is no file of the project"
    else
      echo "$file $target" >>"$edges"
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" || true)
done

# Every call that replaces or removes a file goes through the gate.
for file in $files; do
  case "$file" in launcher/gate.cpp | platform/*) continue ;; esac
  while IFS= read -r found; do
    fault "$file:${found%%:*} calls ${found#*:}: only launcher/gate.cpp destroys files"
  done < <(grep -noE '(\.|->)(MoveOver|RemoveFile|CopyWholeFile|WriteNewFile)[[:space:]]*\(' "$file" |
    sed -E 's/:(\.|->)/:/; s/[[:space:]]*\($//' || true)
done

# A circle among the files themselves (a.h includes b.h includes a.h).
if ! loops=$(tsort "$edges" 2>&1 >/dev/null); then
  fault "a circle of includes: $(sed -n 's/^tsort: //p' <<<"$loops" | grep -v 'input contains a loop' | tr '\n' ' ')"
fi

if [ "$faults" -gt 0 ]; then
  echo "check-includes: $faults fault(s)"
  exit 1
fi
echo "check-includes: $(echo "$files" | wc -l) files, every include points the right way, no circle"
