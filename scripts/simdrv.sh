#!/usr/bin/env bash
# The driver host under Wine: brings the simulated synthesizer's kernel driver
# (mxusb.sys) up in a private Wine prefix, scripts it, and takes it down.
#
#   simdrv.sh up [BUILD]   create the prefix if needed, keep its wineserver
#                          alive, install and start BUILD/bin/mxusb.sys
#                          (BUILD: argument, else $MX_BUILD, else build/x64),
#                          wait until \\.\mxsim-control answers
#   simdrv.sh down         stop and uninstall the driver, stop the prefix's
#                          wineserver (always safe, also when nothing runs)
#   simdrv.sh ctl ARGS...  run mxsimctl.exe ARGS in the prefix
#   simdrv.sh run PROG.exe [ARGS...]   run a 64-bit program in the prefix
#   simdrv.sh run32 PROG.exe [ARGS...] run a 32-bit program in the prefix
#
# The prefix is $MX_WINEPREFIX (default build/wine-e2e). Wine unloads a driver
# when the last client process exits unless the server stays up, hence the
# persistent wineserver that `up` starts and `down` stops.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export MX_WINEPREFIX=${MX_WINEPREFIX:-$ROOT/build/wine-e2e}
# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
STATE_FILE=$WINEPREFIX.simdrv # the build tree the driver was started from

say() { echo "simdrv: $*" >&2; }

prefix_complete() {
  [ -f "$1/system.reg" ] && [ -d "$1/drive_c/windows/syswow64" ]
}

# A copy of the project's shared prefix is much faster than a new one.
seed_prefix() {
  local shared=$ROOT/build/wineprefix
  prefix_complete "$WINEPREFIX" && return 0
  prefix_complete "$shared" || return 0
  [ "$shared" = "$WINEPREFIX" ] && return 0
  say "copying $shared to $WINEPREFIX"
  (
    flock 9
    rm -rf "$WINEPREFIX.tmp"
    cp -a "$shared" "$WINEPREFIX.tmp"
    rm -rf "$WINEPREFIX"
    mv "$WINEPREFIX.tmp" "$WINEPREFIX"
  ) 9>"$shared.lock"
}

build_dir() {
  local b=${1:-${MX_BUILD:-$ROOT/build/x64}}
  (cd "$b" 2>/dev/null && pwd) || { say "no build tree $b"; exit 1; }
}

ctl_in() { # ctl_in BUILD ARGS...
  local b=$1; shift
  "$WINE64" "$b/bin/mxsimctl.exe" "$@"
}

control_answers() {
  ctl_in "$1" state >/dev/null 2>&1
}

cmd_up() {
  local b; b=$(build_dir "${1:-}")
  for f in mxusb.sys mxsimctl.exe; do
    [ -f "$b/bin/$f" ] || { say "missing $b/bin/$f (build targets mxusb_sys and mxsimctl)"; exit 1; }
  done
  mkdir -p "$(dirname "$WINEPREFIX")"
  seed_prefix
  mx_wine_prefix_ensure
  # Keep the server (and with it the driver) alive between client processes.
  # If a server already runs for this prefix, -p fails; make it persistent
  # by restarting it unless the driver is up from this very build.
  if [ -f "$STATE_FILE" ] && [ "$(cat "$STATE_FILE")" = "$b" ] && control_answers "$b"; then
    say "driver already up from $b"
    return 0
  fi
  if ! "$WINESERVER" -p 2>/dev/null; then
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    "$WINESERVER" -p
  fi
  ctl_in "$b" stop >/dev/null 2>&1 || true
  ctl_in "$b" install >/dev/null
  ctl_in "$b" start >/dev/null
  for _ in $(seq 1 50); do
    if control_answers "$b"; then
      echo "$b" >"$STATE_FILE"
      say "driver up (prefix $WINEPREFIX, build $b)"
      return 0
    fi
    sleep 0.2
  done
  say "the driver does not answer"
  exit 1
}

cmd_down() {
  local b=""
  [ -f "$STATE_FILE" ] && b=$(cat "$STATE_FILE")
  if [ -d "$WINEPREFIX" ] && [ -n "$b" ] && [ -f "$b/bin/mxsimctl.exe" ]; then
    timeout 60 "$WINE64" "$b/bin/mxsimctl.exe" uninstall >/dev/null 2>&1 || true
  fi
  if [ -d "$WINEPREFIX" ]; then
    "$WINESERVER" -k 2>/dev/null || true
    timeout 30 "$WINESERVER" -w 2>/dev/null || true
  fi
  rm -f "$STATE_FILE"
  say "down"
}

cmd_ctl() {
  local b=""
  [ -f "$STATE_FILE" ] && b=$(cat "$STATE_FILE")
  [ -n "$b" ] || b=$(build_dir "")
  exec "$WINE64" "$b/bin/mxsimctl.exe" "$@"
}

case "${1:-}" in
  up) shift; cmd_up "$@" ;;
  down) cmd_down ;;
  ctl) shift; cmd_ctl "$@" ;;
  run) shift; exec "$WINE64" "$@" ;;
  run32) shift; exec "$WINE32" "$@" ;;
  *) echo "usage: simdrv.sh up [BUILD] | down | ctl ARGS... | run PROG [ARGS] | run32 PROG [ARGS]" >&2; exit 2 ;;
esac
