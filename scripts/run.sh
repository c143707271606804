#!/usr/bin/env bash
# Demo: installs what is missing, builds the x64 tree and speaks a line on the
# simulated synthesizer (the shipped mxusbd64.dll, loaded through the
# in-process simulator), printing the index bytes and what the unit spoke.
#   scripts/run.sh ["text to speak"]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
cmake --preset x64 >/dev/null
cmake --build build/x64 --target mxspeak_sim -j2
exec scripts/wine-run 64 build/x64/bin/mxspeak_sim.exe "$@"
