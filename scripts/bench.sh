#!/usr/bin/env bash
# Builds the host release and runs the speed figures: the ratio benchmark
# (trigger latency, start-up, archive read, idle CPU), the archive read
# bench, the load test and, where the plant bus is built, the fleet bench: one
# station, then a fleet of stations on one broker (a broadcast against as many
# bare clients, idle CPU, sustained commands, resident memory), then the fleet
# in Sparkplug B (a call's NCMD to its NDATA against a bare client, the NDATA
# rate under sustained calls).
#   scripts/bench.sh [seconds] [stations]   (load test and sustained run,
#                                            default 60; fleet size, default 50)
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
stations="${2:-50}"
build="$src/build/host-release"
cd "$src"
cmake --preset host-release >/dev/null
cmake --build "$build" --target bench_ratios load_test -j"$(nproc)"
bus=0
if grep -q '^VD_BUS:BOOL=ON' "$build/CMakeCache.txt"; then
  bus=1
  cmake --build "$build" --target fleet_bench -j"$(nproc)"
fi

out="$build/tests/bench"
export VD_BINARY_DIR="$build" VDKERNEL="$build/sim/libvdkernel.so"
status=0
echo "== ratios"
"$out/bench_ratios" --vdwinut "$build/host_utilities/vdwinut" || status=1
echo "== load test, ${seconds} s"
"$out/load_test" --vdwinut "$build/host_utilities/vdwinut" --seconds "$seconds" || status=1
if [ $bus = 1 ]; then
  echo "== plant bus, one station"
  "$out/fleet_bench" --stations 1 --seconds 10 --rounds 500 || status=1
  echo "== plant bus, fleet of ${stations} stations, ${seconds} s sustained"
  "$out/fleet_bench" --stations "$stations" --seconds "$seconds" || status=1
  echo "== plant bus in Sparkplug B, fleet of ${stations} stations, ${seconds} s sustained"
  "$out/fleet_bench" --stations "$stations" --seconds "$seconds" --dialect sparkplug || status=1
fi
exit $status
