#!/usr/bin/env bash
# The SDK on the simulated synthesizer, as an application developer and a
# technician meet it: installs what the machine lacks, builds the x64 tree,
# brings the driver host (mxusb.sys under Wine) up, then
#   1. runs the example program mxspeak.exe: it speaks a line through
#      mxusbd64.dll and prints the index bytes that come back, and prints
#      what the simulated unit spoke;
#   2. starts the utility mxuapp64.exe against the same unit: on your display
#      when DISPLAY is set (use it, then close it to end the run); without a
#      display, in a virtual one for a few seconds, keeping a screenshot in
#      build/run/mxuapp64.png.
# Everything it started is stopped at the end, also when a step fails.
#   scripts/run.sh ["text to speak"]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
TEXT=${1:-Hello from the Morvox USB synthesizer.}

if [ "${MX_RUN_IN_XVFB:-}" != 1 ]; then
  bash scripts/setup.sh
  cmake --preset x64 >/dev/null
  cmake --build build/x64 --target mxusbd64 mxuapp64 mxspeak mxsimctl mxusb_sys -j2 | tail -n 1
  if [ -z "${DISPLAY:-}" ]; then
    export MX_RUN_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$TEXT"
  fi
fi

export MX_WINEPREFIX=${MX_WINEPREFIX:-$ROOT/build/wine-run}
SIMDRV=$ROOT/scripts/simdrv.sh
BIN=$ROOT/build/x64/bin
app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then kill "$app_pid" 2>/dev/null || true; fi
  "$SIMDRV" down
}
trap cleanup EXIT
"$SIMDRV" up "$ROOT/build/x64"

echo "--- mxspeak.exe \"$TEXT\""
"$SIMDRV" run "$BIN/mxspeak.exe" "$TEXT"
echo "--- the unit spoke:"
"$SIMDRV" ctl transcript

echo "--- mxuapp64.exe"
mkdir -p "$ROOT/build/run"
(cd "$ROOT/build/run" && exec "$SIMDRV" run "$BIN/mxuapp64.exe") &
app_pid=$!
if [ "${MX_RUN_IN_XVFB:-}" = 1 ]; then
  sleep 8
  import -window root "$ROOT/build/run/mxuapp64.png" && echo "screenshot: build/run/mxuapp64.png"
  kill "$app_pid" 2>/dev/null || true
else
  echo "the utility runs in its own window; close it to end"
fi
wait "$app_pid" 2>/dev/null || true
app_pid=
