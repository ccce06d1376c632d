#!/usr/bin/env bash
# Where this machine runs no 32-bit x86 code, makes the way 32-bit Windows
# programs still run here, once per build tree: Debian's 32-bit Wine loader
# under qemu-user's qemu-i386, the 64-bit loader and the Wine server native.
#
#   tools/wine-route.sh ROUTE_FOLDER
#
# Wine starts each new 32-bit process as "<loader folder>/wine-preloader
# <loader folder>/wine ARGS", the loader folder being the real path of the
# running loader. So the route is a loader folder of its own: copies of
# Debian's two loaders, links to what they load, and a wine-preloader that
# hands the 32-bit loader to qemu-i386. Programs start with its wine64, in a
# 64-bit prefix (tools/wine-prefix.sh); Debian's /usr/bin/wine cannot be used,
# as it picks the 32-bit loader, which this kernel refuses.
#
# qemu-i386 must be version 10 or later: bookworm's 7.2 takes about a minute
# to start each 32-bit process, 10 about 0.3 s. A qemu-i386 of 10 or later on
# the PATH is used as it is; otherwise the qemu-user package is fetched from
# bookworm-backports with an apt configuration of the route's own (the
# system's sources stay as they are) and its qemu-i386 unpacked into the
# route. Its binaries are static, so nothing else is needed.
set -euo pipefail
route=${1:?usage: wine-route.sh ROUTE_FOLDER}
ready="$route/.ready"
# Made, and its loaders still those of the installed Wine.
current() {
  [ -f "$ready" ] && cmp -s /usr/lib/wine/wine "$route/usr/lib/wine/wine" &&
    cmp -s /usr/lib/wine/wine64 "$route/usr/lib/wine/wine64"
}
current && exit 0
mkdir -p "$route"
exec 9>"$route.lock"
flock 9
current && exit 0
rm -f "$ready"

fail() {
  echo "wine-route.sh: $*" >&2
  exit 1
}
# The major version qemu-i386 at $1 reports, or nothing.
qemu_major() { "$1" --version 2>/dev/null | sed -n '1s/.*version \([0-9]*\)\..*/\1/p'; }

qemu=""
if system_qemu=$(command -v qemu-i386) && [ "$(qemu_major "$system_qemu")" -ge 10 ] 2>/dev/null; then
  qemu=$system_qemu
else
  # The Debian mirror the system's own bookworm sources use.
  # shellcheck disable=SC2016 # apt's own placeholders
  mirror=$(apt-get indextargets --format '$(SITE) $(CODENAME)' 2>/dev/null |
    awk '$2 == "bookworm" { print $1; exit }')
  [ -n "$mirror" ] || fail "no bookworm source in apt's configuration, so bookworm-backports cannot be reached for qemu-user"
  apt_dir="$route/apt"
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/debs"
  printf 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] %s bookworm-backports main\n' \
    "${mirror%/}" >"$apt_dir/parts/backports.list"
  apt_opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/parts"
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
    -o APT::Architectures::=amd64)
  if ! {
    apt-get "${apt_opts[@]}" update -qq &&
      (cd "$apt_dir/debs" && apt-get "${apt_opts[@]}" download qemu-user)
  } >"$route/apt.log" 2>&1; then
    cat "$route/apt.log" >&2
    fail "qemu-user could not be fetched from bookworm-backports (output above)"
  fi
  unpacked="$apt_dir/unpacked"
  dpkg-deb -x "$apt_dir"/debs/qemu-user_*.deb "$unpacked"
  mv "$unpacked/usr/bin/qemu-i386" "$route/qemu-i386"
  rm -rf "$apt_dir"
  qemu="$route/qemu-i386"
fi
major=$(qemu_major "$qemu")
[ "${major:-0}" -ge 10 ] ||
  fail "$qemu is qemu ${major:-of an unknown version}; 10 or later is needed (bookworm-backports' qemu-user): older ones take about a minute to start each 32-bit program, which overruns the tests"

loaders="$route/usr/lib/wine"
rm -rf "${route:?}/usr"
mkdir -p "$loaders" "$route/usr/share"
# Copies, not links: Wine takes its loader folder from the loader's real path.
cp /usr/lib/wine/wine /usr/lib/wine/wine64 "$loaders/"
ln -s /usr/lib/wine/wineserver "$loaders/wineserver"
ln -s /usr/lib/i386-linux-gnu "$route/usr/lib/i386-linux-gnu"
ln -s /usr/lib/x86_64-linux-gnu "$route/usr/lib/x86_64-linux-gnu"
ln -s /usr/share/wine "$route/usr/share/wine"
cat >"$loaders/wine-preloader" <<EOF
#!/bin/sh
exec "$qemu" "\$@"
EOF
chmod 755 "$loaders/wine-preloader"
echo "qemu-i386 $major ($qemu)" >"$ready"
