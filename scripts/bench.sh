#!/usr/bin/env bash
# Runs the benchmarks of the x64 tree (build it first): the library's cost per
# request against a bare DeviceIoControl, through the in-process simulator and
# through the driver host, and the CPU the library's threads use while idle.
#   scripts/bench.sh [BUILD]   (default build/x64)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/x64}" && pwd)
"$ROOT/scripts/wine-run" 64 "$BUILD/bin/mxbench_request_cost.exe"
"$ROOT/scripts/wine-run" 64 "$BUILD/bin/mxbench_idle_cpu.exe"
export MX_WINEPREFIX=${MX_WINEPREFIX:-$ROOT/build/wine-bench}
trap '"$ROOT/scripts/simdrv.sh" down' EXIT
"$ROOT/scripts/simdrv.sh" up "$BUILD"
"$ROOT/scripts/simdrv.sh" run "$BUILD/bin/mxbench_request_cost.exe" --driver
