#!/usr/bin/env bash
# Runs the utility's GUI scenarios of a build tree (app_gui_tests.exe) on a
# virtual display (Xvfb) with the driver host up in a Wine prefix of their own
# (a copy of the shared one; MXUAPP_GUI_PREFIX overrides it), one run at a time
# per prefix, and keeps the screenshots as PNG files in BUILD/test-output/screens.
#
#   run_gui_tests.sh BUILD [GTEST ARGS...]
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ $# -ge 1 ] || { echo "usage: run_gui_tests.sh BUILD [GTEST ARGS...]" >&2; exit 2; }
BUILD=$(cd "$1" && pwd) || exit 2
shift
export MX_WINEPREFIX=${MXUAPP_GUI_PREFIX:-$ROOT/build/wine-gui}
if [ -z "${MXUAPP_GUI_DISPLAY:-}" ]; then
  mkdir -p "$(dirname "$MX_WINEPREFIX")"
  exec 9>"$MX_WINEPREFIX.run-lock"
  flock -w 600 9 || { echo "run_gui_tests: $MX_WINEPREFIX stays locked"; exit 1; }
  exec env MXUAPP_GUI_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$BUILD" "$@"
fi

OUT=$BUILD/test-output/screens
mkdir -p "$OUT" && rm -f "$OUT"/*.bmp "$OUT"/*.png
SIMDRV=$ROOT/scripts/simdrv.sh
trap '"$SIMDRV" down >/dev/null 2>&1' EXIT
source "$ROOT/scripts/wine-env.sh"
# The prefix's server starts anew for the run with a Wine virtual desktop, so
# that Wine draws the frames and captions (there is no window manager).
timeout 600 "$SIMDRV" up "$BUILD" >/dev/null 2>&1 # makes the prefix on the first run
for key in 'Explorer /v Desktop /d Default' 'Explorer\Desktops /v Default /d 1024x768'; do
  # shellcheck disable=SC2086 # the key's words are separate arguments
  timeout 60 "$WINE64" reg add "HKCU\\Software\\Wine\\"$key /f >/dev/null 2>&1
done
"$SIMDRV" down >/dev/null 2>&1
timeout 300 "$SIMDRV" up "$BUILD" || { echo "run_gui_tests: the driver host did not come up"; exit 1; }

export MXUAPP_SCREENS="Z:${OUT//\//\\}"
timeout 900 "$SIMDRV" run "$BUILD/bin/app_gui_tests.exe" "$@"
status=$?
compgen -G "$OUT/*.bmp" >/dev/null && timeout 120 mogrify -format png "$OUT"/*.bmp && rm -f "$OUT"/*.bmp
echo "run_gui_tests: screenshots in $OUT"
exit $status
