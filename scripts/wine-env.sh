# Sourced by the project's scripts: the private Wine prefix under build/ and
# the Wine programs of this machine. Defines mx_wine_prefix_ensure.
MX_ROOT=${MX_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${MX_WINEPREFIX:-$MX_ROOT/build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No network here: keep Wine from offering to install its .NET and HTML engines.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

mx_find() { for p in "$@"; do if [ -x "$p" ]; then echo "$p"; return 0; fi; done; command -v "$(basename "$1")" 2>/dev/null; }
WINE64=$(mx_find /usr/lib/wine/wine64 /usr/bin/wine64)
WINE32=$(mx_find /usr/lib/wine/wine /usr/bin/wine)
WINESERVER=$(mx_find /usr/lib/wine/wineserver /usr/bin/wineserver)
export WINE64 WINE32 WINESERVER

# Creates the prefix once (64-bit with 32-bit support); several callers at
# once wait for the first. A 32-bit-capable prefix needs wine32 to run when it
# is made, so setup.sh must have run first.
mx_wine_prefix_ensure() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
      rm -rf "$WINEPREFIX"
      echo "wine-env: creating the Wine prefix $WINEPREFIX (takes a few minutes once)" >&2
      "$WINE64" wineboot -i >/dev/null 2>&1 || true
      "$WINESERVER" -w >/dev/null 2>&1 || true
      if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "wine-env: could not create the Wine prefix $WINEPREFIX" >&2
        exit 1
      fi
    fi
  ) 9>"$WINEPREFIX.lock"
}
