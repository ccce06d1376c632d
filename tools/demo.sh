#!/usr/bin/env bash
# The main job: builds the launcher, then runs it under Wine in a sample game
# installation with the stand-in game, and shows what the game received and
# what became of the shader archives; then a run whose launcher is killed
# while the game runs, and the next run that puts everything right.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  "$root/tools/build.sh"
  exec xvfb-run -a "$0" "$@"
fi
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all
"$root/tools/wine-prefix.sh"

game="$root/build/demo/Game"
mod="$game/mods/mymod"
rm -rf "$root/build/demo"
mkdir -p "$mod" "$game/mods/bf2"
cp "$root/build/standin/BF2.exe" "$game/BF2.exe"
cp "$root/dist/ModLauncher.exe" "$mod/ModLauncher.exe"
printf 'the game'"'"'s own shaders' >"$game/mods/bf2/Shaders_client.zip"
printf 'the mod'"'"'s shaders' >"$mod/Shaders_client.zip"

show_archives() {
  (cd "$game" && find . -name 'Shaders_client.zip*' | sort | while read -r f; do
    printf '  %-46s %s\n' "$f" "$(cat "$f" | tr -d '\r\n')"
  done)
}
game_report() {
  sed 's/^/  /' "$game/standin-report.txt"
}

echo "== A sample installation: $game"
show_archives
echo
echo "== Run 1: ModLauncher.exe +difficulty hard \"two words\", from mods/mymod (the game runs 2 s)"
set +e
(cd "$mod" && STANDIN_RUN_MS=2000 wine ModLauncher.exe +difficulty hard "two words")
code=$?
set -e
echo "launcher exit code: $code"
echo "what the game received and saw:"
game_report
echo "the archives afterwards:"
show_archives
echo
echo "== Run 2: the launcher is killed while the game runs"
rm -f "$game/standin-report.txt"
(cd "$mod" && STANDIN_RUN_MS=3000 wine ModLauncher.exe) &
for _ in $(seq 100); do [ -f "$game/standin-report.txt" ] && break; sleep 0.1; done
pid=$(pgrep -f 'ModLauncher.exe' | head -n 1)
{
  kill -9 "$pid"
  wait
} 2>/dev/null || true
echo "killed the launcher (pid $pid) as the Task Manager would; the game went on:"
game_report
echo "the archives right after the kill:"
show_archives
sleep 3
echo
echo "== Run 3: an ordinary run after that"
(cd "$mod" && wine ModLauncher.exe) && echo "launcher exit code: 0"
echo "the archives afterwards: the game's own archive is live and backed up"
show_archives
wineserver -k 2>/dev/null || true
