#!/usr/bin/env bash
# A game on an exFAT drive, as players keep games on drives they share with
# Windows: an exFAT image on a loop device, mounted through exfat-fuse and
# given a drive letter in the work tree's prefix. Wine calls the volume
# "NTFS", and the change time it gives there follows the last-write time.
# While the game runs another program rewrites the live archive in place,
# with the same size, and sets its last-write time back: the launcher keeps
# the new bytes as the game's archive (the old ones aside) and tells the
# player, as it does on ext4.
#
#   exfat_test.sh LAUNCHER_EXE STANDIN_EXE WORK_FOLDER
#
# Needs root, a loop device and /dev/fuse; without them it skips (exit code
# 77), saying why. Where they are, it runs: the exFAT tools missing is a
# failure (tools/install-deps.sh installs them).
set -euo pipefail
launcher=$1 standin=$2 work=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../tools/wine-env.sh
source "$here/../../tools/wine-env.sh"

skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || skip "not root: no loop device can be attached or volume mounted"
[ -c /dev/fuse ] || skip "no /dev/fuse"
[ -c /dev/loop-control ] || skip "no loop devices (/dev/loop-control)"
command -v mkfs.exfat >/dev/null || fail "mkfs.exfat is missing (exfatprogs)"
command -v mount.exfat-fuse >/dev/null || fail "mount.exfat-fuse is missing (exfat-fuse)"
"$here/../../tools/wine-prefix.sh"

folder="$work/exfat"
image="$folder/volume.img"
mnt="$folder/mnt"
device="" mounted="" letter=""
cleanup() {
  # Only what this script made: its mount, its loop device, its drive letter.
  [ -z "$mounted" ] || umount "$mnt" || true
  [ -z "$device" ] || losetup -d "$device" || true
  [ -z "$letter" ] || rm -f "$WINEPREFIX/dosdevices/$letter:"
}
trap cleanup EXIT
rm -rf "$folder"
mkdir -p "$mnt"
truncate -s 32M "$image"
mkfs.exfat "$image" >/dev/null || fail "mkfs.exfat could not make the volume"
device=$(losetup -f --show "$image") || skip "no loop device could be attached"
mount.exfat-fuse "$device" "$mnt" >/dev/null 2>&1 || fail "exfat-fuse could not mount $device"
mounted=yes
for candidate in x w v u t s q p; do
  if [ ! -e "$WINEPREFIX/dosdevices/$candidate:" ]; then
    letter=$candidate
    break
  fi
done
[ -n "$letter" ] || fail "no free drive letter in $WINEPREFIX/dosdevices"
ln -s "$mnt" "$WINEPREFIX/dosdevices/$letter:"
drive=$(tr '[:lower:]' '[:upper:]' <<<"$letter"):

root="$mnt/game"
live="$root/mods/bf2/Shaders_client.zip"
backup="$root/mods/bf2/Backup/Shaders_client.zip"
mkdir -p "$root/mods/bf2" "$root/mods/mymod"
cp "$standin" "$root/BF2.exe"
cp "$launcher" "$root/mods/mymod/ModLauncher.exe"
printf 'G, the game own archive' >"$root/mods/bf2/Shaders_client.zip"
printf 'M, the mod archive, its 32 bytes' >"$root/mods/mymod/Shaders_client.zip"
rewrite='K, rewritten in place, same size'
[ ${#rewrite} = "$(stat -c %s "$root/mods/mymod/Shaders_client.zip")" ] ||
  fail "the test's rewrite is not the mod's archive's size"

# run OUTPUT: one launcher in the mod's folder, its output to a file; the
# game runs until quit.txt appears.
run() {
  (cd "$root/mods/mymod" && STANDIN_RUN_UNTIL=quit.txt exec "$WINELOADER" ModLauncher.exe >"$1" 2>/dev/null)
}

# An ordinary run first, so that both backups are there and the next run's
# proofs last through the game where they may.
touch "$root/quit.txt"
code=0
run "$folder/first.txt" || code=$?
[ "$code" = 0 ] || fail "the ordinary run ended with $code: $(cat "$folder/first.txt")"
rm -f "$root/quit.txt" "$root/standin-report.txt"

run "$folder/second.txt" &
launcher_pid=$!
for _ in $(seq 600); do
  [ -f "$root/standin-report.txt" ] && break
  kill -0 "$launcher_pid" 2>/dev/null || fail "the launcher ended before its game started"
  sleep 0.1
done
[ -f "$root/standin-report.txt" ] || fail "the game did not start in 60 s"
cmp -s "$live" "$root/mods/mymod/Shaders_client.zip" ||
  fail "the mod's archive is not live while the game runs"
# Another program: the same file rewritten, its size and last-write time
# kept. Its writes are pushed to the volume before the time is set back:
# FUSE may hand cached writes over later, and each moves the time again.
python3 - "$live" "$rewrite" <<'PY' || fail "the live archive could not be rewritten in place"
import os, sys
path, data = sys.argv[1], sys.argv[2].encode()
before = os.stat(path)
fd = os.open(path, os.O_WRONLY)
os.write(fd, data)
os.fsync(fd)
os.utime(fd, ns=(before.st_atime_ns, before.st_mtime_ns))
os.close(fd)
PY
touch "$root/quit.txt"
code=0
wait "$launcher_pid" || code=$?
said=$(cat "$folder/second.txt")

[ "$(cat "$live")" = "$rewrite" ] ||
  fail "$live holds \"$(cat "$live")\", not the rewritten bytes \"$rewrite\""
[ "$(cat "$backup")" = "$rewrite" ] ||
  fail "$backup holds \"$(cat "$backup")\", not the rewritten bytes \"$rewrite\""
kept=$(find "$root/mods/bf2/Backup" -name 'Shaders_client.kept-*.zip')
[ -n "$kept" ] && [ "$(cat "$kept")" = 'G, the game own archive' ] ||
  fail "the game's earlier archive is not kept aside in mods/bf2/Backup (found: ${kept:-nothing})"
[ "$code" = 4 ] || fail "the launcher ended with $code, not 4 (the game ran, the player warned): $said"
grep -q "^Warning: " <<<"$said" || fail "the player was not told: $said"
grep -qF "$drive\\game\\mods\\bf2" <<<"$said" ||
  fail "the launcher did not run on drive $drive (the exFAT volume): $said"
left=$(find "$root" -name 'ModLauncher.probe' -o -name '*.ModLauncher-*')
[ -z "$left" ] || fail "the launcher left its files: $left"
echo "exFAT through FUSE on $drive: the rewritten archive kept and told"
