#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine.
# Idempotent: packages already present are left alone.
set -euo pipefail

need=()
# The cross compiler and GoogleTest's source; Wine and a virtual display to
# run the program and its tests; clang for fuzzing and static analysis.
# The 64-bit cross compiler builds the native helpers for machines that run
# no 32-bit x86 code (tools/wine-env.sh); there the 32-bit programs run under
# qemu-i386, which tools/wine-route.sh fetches into the build tree. An
# exFAT volume through FUSE for the test of a drive whose change times
# follow its last-write times.
pkgs=(cmake ninja-build g++-mingw-w64-i686-posix binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest
      wine wine32 wine64 xvfb xauth util-linux file python3
      clang libclang-rt-14-dev clang-tidy cppcheck clang-format
      exfat-fuse exfatprogs)
# npm, for the workflow validator below: Debian's, unless the machine has one.
command -v npm >/dev/null 2>&1 || pkgs+=(nodejs npm)
for p in "${pkgs[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if ((${#need[@]})); then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
# The validator of the CI workflows (tools/check-workflows.sh), from npm, at
# the version the checks were written against.
validator=@action-validator/cli@0.6.0
if ! npm ls -g --depth=0 "$validator" >/dev/null 2>&1; then
  npm install -g --no-fund --no-audit --loglevel=error "$validator"
fi
