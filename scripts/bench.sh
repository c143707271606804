#!/usr/bin/env bash
# Runs the benchmarks through the driver host and prints one table of ratios,
# each measured side by side in one run, in both builds where the build
# matters:
#   idle CPU after USBMX_OpenSynth, halted and polling, against bare threads
#   index latency, by USBMX_ReadByte every 1 ms and by window message
#   speech throughput of USBMX_WriteString and USBMX_WriteByte, against the link
#   request cost of USBMX_RawWriteByte against a bare DeviceIoControl
#
#   scripts/bench.sh [X64_BUILD [X86_BUILD]]   (default build/x64 and build/x86)
#
# Builds the benchmark targets of both trees first (a no-op when current).
# A missing x86 tree leaves out the 32-bit rows. The table is also kept in
# build/bench/last-table.md. Takes two to three minutes.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
X64=$(cd "${1:-$ROOT/build/x64}" && pwd)
X86=${2:-${X64%x64}x86}
OUT=$ROOT/build/bench
mkdir -p "$OUT"

say() { echo "bench: $*" >&2; }

cmake --build "$X64" --target mxbench mxbench_request_cost mxusb_sys mxsimctl >"$OUT/build-x64.log" 2>&1 ||
  { tail -n 20 "$OUT/build-x64.log"; say "the x64 tree does not build"; exit 1; }
if [ -d "$X86" ] && cmake --build "$X86" --target mxbench >"$OUT/build-x86.log" 2>&1; then
  X86=$(cd "$X86" && pwd)
else
  say "no 32-bit rows: the x86 tree $X86 is missing or does not build"
  X86=""
fi

export MX_WINEPREFIX=${MX_WINEPREFIX:-$ROOT/build/wine-bench}
# shellcheck source=wine-env.sh
source "$ROOT/scripts/wine-env.sh"
trap '"$ROOT/scripts/simdrv.sh" down >/dev/null 2>&1 || true' EXIT
"$ROOT/scripts/simdrv.sh" up "$X64"

# Runs a benchmark in the driver's prefix; its rows go to $OUT/rows. The
# program learns its Linux PID (it reads its threads' CPU clocks from /proc)
# from MX_BENCH_PID: the subshell's PID, which the exec chain keeps.
: >"$OUT/rows"
run() { # run 64|32 PROGRAM ARGS...
  local how=run; [ "$1" = 32 ] && how=run32
  shift
  say "$(basename "$1") ${*:2}"
  # (Windows programs end their lines with CR LF.)
  if ! (export MX_BENCH_PID=$BASHPID; exec "$ROOT/scripts/simdrv.sh" "$how" "$@") | tr -d '\r' >>"$OUT/rows"; then
    say "$(basename "$1") failed"
    echo "NOTE	$(basename "$1") ${*:2} failed: its rows are missing" >>"$OUT/rows"
  fi
}
run 64 "$X64/bin/mxbench_request_cost.exe" --driver
run 64 "$X64/bin/mxbench_request_cost.exe"
run 64 "$X64/bin/mxbench.exe"
[ -n "$X86" ] && run 32 "$X86/bin/mxbench.exe"

{
  echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'),"
  echo "$("$WINE64" --version), load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; one run's figures."
  echo
  echo "| measure | build | library | reference | ratio | goal | |"
  echo "|---|---|---|---|---|---|---|"
  grep '^ROW' "$OUT/rows" | cut -f2- | sed 's/\t/ | /g; s/^/| /; s/$/ |/'
  echo
  grep '^NOTE' "$OUT/rows" | cut -f2- | sed 's/^/- /'
} >"$OUT/last-table.md"
cat "$OUT/last-table.md"
