#!/usr/bin/env bash
# Builds the host release and runs the speed figures: the ratio benchmark
# (trigger latency, start-up, archive read, idle CPU) and the load test.
#   scripts/bench.sh [load test seconds]        (default 60)
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
build="$src/build/host-release"
cd "$src"
[ -f "$build/CMakeCache.txt" ] || cmake --preset host-release >/dev/null
cmake --build "$build" --target vdwinut vdkernel vd_task vd_sim -j"$(nproc)"

# The two programs, from the build when it knows them, else compiled here
# against its libraries.
out="$build/tests/bench"
mkdir -p "$out"
for prog in bench_ratios load_test; do
  if cmake --build "$build" --target "$prog" >/dev/null 2>&1; then continue; fi
  if [ ! -x "$out/$prog" ] || [ "tests/bench/$prog.cpp" -nt "$out/$prog" ] || [ tests/bench/bench_runtime.h -nt "$out/$prog" ]; then
    echo "compiling $prog"
    "${CXX:-g++}" -std=c++20 -O2 -DNDEBUG -I"$src" -I"$src/tests/bench" "tests/bench/$prog.cpp" -o "$out/$prog" \
      -Wl,--start-group "$build/libvd_task.a" "$build/support/libvd_support.a" "$build/platform/libvd_platform.a" \
      "$build/sim/libvd_sim.a" -Wl,--end-group -lpthread
  fi
done

export VD_BINARY_DIR="$build" VDKERNEL="$build/sim/libvdkernel.so"
status=0
echo "== ratios"
"$out/bench_ratios" --vdwinut "$build/app/vdwinut" || status=1
echo "== load test, ${seconds} s"
"$out/load_test" --vdwinut "$build/app/vdwinut" --seconds "$seconds" || status=1
exit $status
