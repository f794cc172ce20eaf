#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz for a bounded time from its committed
# seed corpus; a crash fails the run and leaves its input in build/fuzz/crashes.
#   fuzz.sh [seconds per target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
out=build/fuzz/crashes
mkdir -p "$out"
shopt -s nullglob
status=0
for target in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  seeds=tests/fuzz/corpus/${name#fuzz_}
  work=build/fuzz/corpus-work/${name#fuzz_}
  mkdir -p "$work"
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$out/$name-" -print_final_stats=0 "$work" ${seeds:+$( [ -d "$seeds" ] && echo "$seeds")} \
        >"build/fuzz/$name.log" 2>&1; then
    echo "$name: crash, see build/fuzz/$name.log"; tail -30 "build/fuzz/$name.log"; status=1
  fi
done
exit $status
