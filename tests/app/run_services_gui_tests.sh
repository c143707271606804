#!/usr/bin/env bash
# Runs services_gui_tests.exe of a build tree (the Send File, Compile
# Dictionary, Download User Dictionary and Version Info dialogs): a virtual
# display (Xvfb), the driver host up in the service tests' own Wine prefix,
# the tests, and their screenshots turned into PNG files.
#
#   run_services_gui_tests.sh BUILD [GTEST ARGS...]
#
# Screenshots: BUILD/test-output/services-screens/*.png. The prefix
# build/wine-gui-services serves one run at a time (flock); its Wine server is
# started for the run and stopped after it.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: run_services_gui_tests.sh BUILD [GTEST ARGS...]" >&2; exit 2; }
BUILD=$(cd "$1" && pwd) || exit 2
shift
export MX_WINEPREFIX=${MXUAPP_SERVICES_PREFIX:-$ROOT/build/wine-gui-services}

if [ -z "${MXUAPP_SERVICES_DISPLAY:-}" ]; then
  mkdir -p "$(dirname "$MX_WINEPREFIX")"
  exec 9>"$MX_WINEPREFIX.run-lock"
  flock 9
  exec env MXUAPP_SERVICES_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$BUILD" "$@"
fi

OUT=$BUILD/test-output/services-screens
mkdir -p "$OUT"
rm -f "$OUT"/*.bmp "$OUT"/*.png

SIMDRV=$ROOT/scripts/simdrv.sh
"$SIMDRV" down >/dev/null 2>&1
trap '"$SIMDRV" down >/dev/null 2>&1' EXIT
# A Wine virtual desktop: with no window manager Wine then draws the frames
# and captions itself, so the screenshots show them. Set before the prefix's
# server starts for the run.
source "$ROOT/scripts/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$SIMDRV" up "$BUILD" >/dev/null 2>&1 # first run: simdrv.sh makes the prefix
  "$SIMDRV" down >/dev/null 2>&1
fi
if [ -f "$WINEPREFIX/system.reg" ]; then
  "$WINE64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$WINE64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  "$WINESERVER" -k >/dev/null 2>&1
  timeout 30 "$WINESERVER" -w >/dev/null 2>&1
fi
"$SIMDRV" up "$BUILD" || { echo "run_services_gui_tests: the driver host did not come up"; exit 1; }

export MXUAPP_SCREENS="Z:$(echo "$OUT" | tr / '\\')"
timeout 1100 "$SIMDRV" run "$BUILD/bin/services_gui_tests.exe" "$@"
status=$?

for bmp in "$OUT"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "run_services_gui_tests: screenshots in $OUT"
exit $status
