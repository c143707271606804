#!/usr/bin/env bash
# The SDK end to end on the simulated synthesizer's kernel driver: brings the
# driver host up, speaks a line with the example program mxspeak.exe (which
# prints the index bytes that come back), prints what the unit spoke, and
# brings everything down again (also when a step fails).
#
#   scripts/demo-driver.sh [BUILD] [TEXT]
#     BUILD  the x86_64 build tree (default $MX_BUILD, else build/x64)
#     TEXT   the line to speak
# The Wine prefix is $MX_WINEPREFIX (default build/wine-demo).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(cd "${1:-${MX_BUILD:-$ROOT/build/x64}}" && pwd)
TEXT=${2:-Hello from the Morvox USB synthesizer.}
export MX_WINEPREFIX=${MX_WINEPREFIX:-$ROOT/build/wine-demo}
SIMDRV=$ROOT/scripts/simdrv.sh

if [ ! -f "$BUILD/bin/mxspeak.exe" ]; then
  echo "demo-driver: $BUILD/bin/mxspeak.exe is missing (build the x86_64 tree first)" >&2
  exit 1
fi
trap '"$SIMDRV" down' EXIT
"$SIMDRV" up "$BUILD"
echo "--- mxspeak.exe \"$TEXT\""
"$SIMDRV" run "$BUILD/bin/mxspeak.exe" "$TEXT"
echo "--- the unit spoke (mxsimctl transcript):"
"$SIMDRV" ctl transcript
echo "--- unit state:"
"$SIMDRV" ctl state | grep -E '^(open_count|open_handles|next_index|pending)='
