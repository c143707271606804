#!/usr/bin/env bash
# Runs every test of the project: installs what the machine lacks, then builds
# and tests three trees - native (the logic with no Windows calls, with
# sanitizers), x64 and x86 (the shipped binaries under Wine). Ends with one
# line "N passed, N failed" and a nonzero exit when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

total_pass=0
total_fail=0
total_skip=0
status=0
logdir=$root/build/test-logs
mkdir -p "$logdir"

built=()

build_tree() {
  local preset=$1
  echo "=== $preset: configure and build"
  if ! cmake --preset "$preset" >"$logdir/$preset-configure.log" 2>&1; then
    tail -n 40 "$logdir/$preset-configure.log"
    echo "=== $preset: configure FAILED"; total_fail=$((total_fail + 1)); status=1; return
  fi
  if ! cmake --build --preset "$preset" -j2 >"$logdir/$preset-build.log" 2>&1; then
    grep -E -m 40 'error|FAILED' "$logdir/$preset-build.log"
    echo "=== $preset: build FAILED"; total_fail=$((total_fail + 1)); status=1; return
  fi
  built+=("$preset")
}

test_tree() {
  local preset=$1
  echo "=== $preset: tests"
  ctest --preset "$preset" --timeout 1200 2>&1 | tee "$logdir/$preset-ctest.log"
  local summary
  summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logdir/$preset-ctest.log" | tail -n 1)
  if [ -z "$summary" ]; then
    echo "=== $preset: no test summary"; total_fail=$((total_fail + 1)); status=1; return
  fi
  local failed all
  failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  all=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
  local skipped
  skipped=$(grep -c -E 'Test +#[0-9]+: .*\*\*\*Skipped' "$logdir/$preset-ctest.log" || true)
  total_pass=$((total_pass + all - failed - skipped))
  total_fail=$((total_fail + failed))
  total_skip=$((total_skip + skipped))
  [ "$failed" -eq 0 ] || status=1
}

# Every tree is built before any test runs: the x64 tree's end-to-end tests
# start 32-bit programs from the x86 tree.
for preset in native x64 x86; do
  build_tree "$preset"
done
for preset in "${built[@]}"; do
  test_tree "$preset"
done

echo "$total_pass passed, $total_fail failed, $total_skip skipped"
exit $status
