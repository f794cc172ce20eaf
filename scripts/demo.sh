#!/usr/bin/env bash
# Demo: builds what is missing (host Release), sets up a fresh runtime from a
# small tag list in demo-run/, and drives it with the runtime command line.
# The task process itself joins this demo as it lands.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh host
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j"$(nproc)" --target vdrt >/dev/null
vdrt=build/host-release/tools/vdrt/vdrt
run=demo-run
rm -rf "$run" && mkdir -p "$run"
export VDRUNTIME="$PWD/$run/runtime.db"
cat >"$run/tags.lst" <<'TAGS'
# name        type   initial
DISK_TRIG     int16  0
DISK_VALUE    int32  0
DISK_DONE     int16  0
EVT_TEXT      text   "hello"
TAGS
echo "== creating the runtime from $run/tags.lst"
"$vdrt" create "$run/tags.lst"
"$vdrt" tags
echo "== a watcher in another process sees every change"
"$vdrt" watch --count 2 --timeout 5000 DISK_TRIG EVT_TEXT &
watcher=$!
sleep 0.3
"$vdrt" set DISK_TRIG 1
"$vdrt" set EVT_TEXT "disk check requested"
wait "$watcher"
"$vdrt" get DISK_TRIG EVT_TEXT
echo "== done; the runtime database is $VDRUNTIME"
