#!/usr/bin/env bash
# Runs one of the utility's GUI test programs of a build tree: gives it a
# virtual display (Xvfb), brings the driver host up in the suite's own Wine
# prefix, runs the tests and turns their screenshots into PNG files.
#
#   run_gui_tests.sh SUITE BUILD [GTEST ARGS...]
#
# SUITE    program                  prefix (override)                screenshots
# app      app_gui_tests.exe        build/wine-gui                   BUILD/test-output/screens
#                                   (MXUAPP_GUI_PREFIX)
# services services_gui_tests.exe   build/wine-gui-services          BUILD/test-output/services-screens
#          (the Send File, Compile  (MXUAPP_SERVICES_PREFIX)
#          Dictionary, Download User Dictionary and Version Info dialogs)
#
# A prefix is used by one run at a time (flock); its Wine server is started
# for the run and stopped after it, so the desktop always belongs to this
# display.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
usage() { echo "usage: run_gui_tests.sh app|services BUILD [GTEST ARGS...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
SUITE=$1
case "$SUITE" in
  app)
    PROGRAM=app_gui_tests.exe
    export MX_WINEPREFIX=${MXUAPP_GUI_PREFIX:-$ROOT/build/wine-gui}
    SCREENS=screens
    LIMIT=900 ;;
  services)
    PROGRAM=services_gui_tests.exe
    export MX_WINEPREFIX=${MXUAPP_SERVICES_PREFIX:-$ROOT/build/wine-gui-services}
    SCREENS=services-screens
    LIMIT=1100 ;;
  *) usage ;;
esac
BUILD=$(cd "$2" && pwd) || exit 2
shift 2

if [ -z "${MXUAPP_GUI_DISPLAY:-}" ]; then
  mkdir -p "$(dirname "$MX_WINEPREFIX")"
  exec 9>"$MX_WINEPREFIX.run-lock"
  flock 9
  exec env MXUAPP_GUI_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$SUITE" "$BUILD" "$@"
fi

OUT=$BUILD/test-output/$SCREENS
mkdir -p "$OUT"
rm -f "$OUT"/*.bmp "$OUT"/*.png

SIMDRV=$ROOT/scripts/simdrv.sh
"$SIMDRV" down >/dev/null 2>&1
trap '"$SIMDRV" down >/dev/null 2>&1' EXIT
# A Wine virtual desktop: Wine draws the windows' frames and captions itself
# (there is no window manager), so the screenshots show them. Set before the
# prefix's server starts for the run.
source "$ROOT/scripts/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # First run: let simdrv.sh make the prefix.
  "$SIMDRV" up "$BUILD" >/dev/null 2>&1
  "$SIMDRV" down >/dev/null 2>&1
fi
if [ -f "$WINEPREFIX/system.reg" ]; then
  "$WINE64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  "$WINE64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  "$WINESERVER" -k >/dev/null 2>&1
  timeout 30 "$WINESERVER" -w >/dev/null 2>&1
fi
"$SIMDRV" up "$BUILD" || { echo "run_gui_tests: the driver host did not come up"; exit 1; }

export MXUAPP_SCREENS="Z:$(echo "$OUT" | tr / '\\')"
timeout "$LIMIT" "$SIMDRV" run "$BUILD/bin/$PROGRAM" "$@"
status=$?

for bmp in "$OUT"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo "run_gui_tests: screenshots in $OUT"
exit $status
