#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the SDK:
# the MinGW-w64 cross compilers, Wine with 32-bit support, Xvfb, ImageMagick,
# CMake, Ninja, the GoogleTest sources, and for the release files clang, lld,
# llvm, NSIS, zip and unzip. Does nothing when all of it is there.
set -euo pipefail

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd x86_64-w64-mingw32-g++-posix || have_cmd x86_64-w64-mingw32-g++ || need+=(g++-mingw-w64-x86-64)
have_cmd i686-w64-mingw32-g++-posix   || have_cmd i686-w64-mingw32-g++   || need+=(g++-mingw-w64-i686)
have_pkg mingw-w64-tools || need+=(mingw-w64-tools)
have_cmd cmake  || need+=(cmake)
have_cmd ninja  || need+=(ninja-build)
have_cmd Xvfb   || need+=(xvfb)
have_cmd xvfb-run || need+=(xvfb)
have_cmd import || need+=(imagemagick)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
# The release files and their tests: Visual C++ import libraries and a
# Visual C++-mode build of the example (clang-cl, lld-link, llvm-dlltool), the
# installer (makensis), the archive (zip, unzip), finding a window (xwininfo).
have_cmd clang-cl-14 || need+=(clang-14 clang-tools-14)
have_cmd lld-link-14 || need+=(lld-14)
have_cmd llvm-dlltool || need+=(llvm)
have_cmd makensis || need+=(nsis)
have_cmd zip    || need+=(zip)
have_cmd unzip  || need+=(unzip)
have_cmd xwininfo || need+=(x11-utils)
have_pkg wine64 || need+=(wine64)
have_pkg wine   || need+=(wine)

i386=0
dpkg --print-foreign-architectures | grep -qx i386 || i386=1
have_pkg wine32:i386 || need+=(wine32:i386)

# Some virtual machines' kernels cannot run 32-bit x86 programs, and Wine's
# 32-bit loader is one. There the loader runs under qemu's user-mode emulator,
# registered as the handler of 32-bit x86 programs. It must be qemu 10 from
# bookworm-backports: Debian 12's own qemu 7.2 takes about a minute to start
# each 32-bit Wine process and crashes as soon as such a process runs threads.
runs_i386() { [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1; }
qemu_is_new() {
  local v
  v=$(qemu-i386-static --version 2>/dev/null | sed -nE 's/.*version ([0-9]+)\..*/\1/p' | head -n 1)
  [ -n "$v" ] && [ "$v" -ge 10 ]
}
emulate_i386=0
if have_pkg wine32:i386 && ! runs_i386; then emulate_i386=1; fi
if [ "$emulate_i386" -eq 1 ] || [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  qemu_is_new || need+=(qemu-user-static)
fi

add_backports() {
  [ -f /etc/apt/sources.list.d/mx-bookworm-backports.sources ] && return 0
  grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  cat > /etc/apt/sources.list.d/mx-bookworm-backports.sources <<'SRC'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
}

register_i386_emulator() {
  [ -e /proc/sys/fs/binfmt_misc/register ] ||
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  # The registration holds the emulator file open (flag F): register again
  # when it still holds an older qemu.
  if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && [ "${1:-}" = renew ]; then
    echo -1 > /proc/sys/fs/binfmt_misc/qemu-i386
  fi
  if [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > /proc/sys/fs/binfmt_misc/register
  fi
  runs_i386 || { echo "setup: 32-bit x86 programs still do not run" >&2; exit 1; }
}

if [ "${#need[@]}" -eq 0 ] && [ "$i386" -eq 0 ]; then
  if [ "$emulate_i386" -eq 1 ]; then register_i386_emulator; fi
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these packages are missing: ${need[*]}; run this script as root" >&2
  exit 1
fi

echo "setup: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
[ "$i386" -eq 1 ] && dpkg --add-architecture i386
apt-get update -qq
rest=()
for p in "${need[@]}"; do [ "$p" = qemu-user-static ] || rest+=("$p"); done
[ "${#rest[@]}" -eq 0 ] || apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
if have_pkg wine32:i386 && ! runs_i386 || [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  if ! qemu_is_new; then
    add_backports
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static >/dev/null
  fi
  register_i386_emulator renew
fi
echo "setup: done"
