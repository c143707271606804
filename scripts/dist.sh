#!/usr/bin/env bash
# The release: builds the x64 and x86 trees, installs both into one SDK
# folder and makes the two release files in build/dist/:
#   MorvoxUSB-SDK-<version>-win.zip     the SDK folder, both bitnesses
#   MorvoxUSB-SDK-<version>-setup.exe   the Windows installer of the same
# <version> is the project VERSION of the top-level CMakeLists.txt.
#
#   scripts/dist.sh                         build/x64, build/x86 (presets)
#   scripts/dist.sh --trees X64 X86 [OUT]   these built trees, no build step;
#                                           output into OUT (default build/dist)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
say() { echo "dist: $*" >&2; }

if [ "${1:-}" = --trees ]; then
  [ $# -ge 3 ] || { echo "usage: dist.sh [--trees X64 X86 [OUT]]" >&2; exit 2; }
  X64=$(cd "$2" && pwd); X86=$(cd "$3" && pwd); OUT=${4:-$ROOT/build/dist}
else
  cd "$ROOT"
  bash scripts/setup.sh
  for preset in x64 x86; do
    cmake --preset "$preset" >/dev/null
  done
  cmake --build build/x64 -j2 --target mxusbd64 mxusbd_msvc_implib mxuapp64 mxusb_sys mxsimctl
  cmake --build build/x86 -j2 --target mxusbd mxusbd_msvc_implib
  X64=$ROOT/build/x64; X86=$ROOT/build/x86; OUT=$ROOT/build/dist
fi

tree_version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }
VERSION=$(tree_version "$X64")
[ -n "$VERSION" ] && [ "$VERSION" = "$(tree_version "$X86")" ] ||
  { say "the trees $X64 and $X86 are not of one version; configure both again"; exit 1; }
NAME=MorvoxUSB-SDK-$VERSION
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
STAGE=$OUT/stage
rm -rf "$STAGE" "$OUT/$NAME-win.zip" "$OUT/$NAME-setup.exe"
mkdir -p "$STAGE"

# The x86 tree first: the x64 tree's copies of the shared files win.
cmake --install "$X86" --prefix "$STAGE/$NAME" >/dev/null
cmake --install "$X64" --prefix "$STAGE/$NAME" >/dev/null

(cd "$STAGE" && cmake -E tar cf "$OUT/$NAME-win.zip" --format=zip "$NAME")
say "$OUT/$NAME-win.zip"

# The uninstaller removes exactly the files it installed, then the folders
# that are left empty (files a user added keep theirs).
{
  (cd "$STAGE/$NAME" && find . -type f | sort) | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
  (cd "$STAGE/$NAME" && find . -mindepth 1 -type d | sort -r) | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|'
} >"$STAGE/uninstall-files.nsh"
SIZE_KB=$(du -sk "$STAGE/$NAME" | cut -f1)
makensis -V2 -NOCD -DVERSION="$VERSION" -DSTAGE="$STAGE/$NAME" -DSIZE_KB="$SIZE_KB" \
  -DUNINSTALL_LIST="$STAGE/uninstall-files.nsh" -DOUTFILE="$OUT/$NAME-setup.exe" \
  "$ROOT/packaging/installer.nsi" >&2
say "$OUT/$NAME-setup.exe"
