#!/usr/bin/env bash
# The demo: builds what is missing (host Release), sets up the sample
# application and a runtime in a fresh demo-run/, starts the task, drives
# every row kind from this (another) process, prints each trigger with its
# result tags and latency; then starts a broker and the plant bus vdmqtt
# beside the task and drives a row of each kind from the bus (state out,
# writes in, commands with their answer and latency), then again in
# Sparkplug B (the birth, a write and a command by NCMD); stops both tasks
# through the runtime and shows the log file, the event log and the
# registry of the simulated host.
# Nothing of this machine is touched: the task only sees its simulated host
# in demo-run/host, and nothing is left running.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh host >/dev/null
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j"$(nproc)" --target vdwinut vdrt vdkernel ctbuild vdmqtt vdbus >/dev/null
bin=$root/build/host-release
vdrt=$bin/tools/vdrt/vdrt
run=$root/demo-run
rm -rf "$run"
eval "$(scripts/setup-example.sh "$run" "$bin")"

# The simulated host: the keyboard filter device is present, drive D: is the
# demo directory.
mkdir -p "$VDHOST/devices"
: >"$VDHOST/devices/KbFilter"
echo "D: $run" >"$VDHOST/drives.txt"
# The user has a screen saver chosen, the policy key exists (the task never
# creates it) and the application event log knows one source.
cat >"$VDHOST/registry.txt" <<'REG'
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\EventLog\Application]
"Sources"=multi_sz:"Application"
[HKEY_CURRENT_USER\Control Panel\Desktop]
"SCRNSAVE.EXE"=sz:"scrnsave.scr"
[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Policies\System]
REG

"$vdrt" create "$run/tags.lst" >/dev/null
task_pid= bus_pid= broker_pid=
cleanup() {
  for p in $task_pid $bus_pid $broker_pid; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

echo "== starting vdwinut (application $VDAPP, domain $VDDOMAIN)"
(cd "$run" && exec "$bin/host_utilities/vdwinut" >"$run/task.out" 2>&1) &
task_pid=$!
for _ in $(seq 100); do
  [ "$("$vdrt" get VDWINUT.STATUS 2>/dev/null)" = 1 ] && break
  sleep 0.05
done
"$vdrt" tasks

row() { printf '%-28s ' "$1"; shift; "$vdrt" trigger "$@" || true; }
echo
echo "== triggers (set from this process; latency = trigger set to done tag seen)"
row "disk: free space of C: (MB)"  DISK_FREE_TRIG 1 DISK_FREE_DONE DISK_FREE
row "disk: total of C: (MB)"       DISK_TOTAL_TRIG 1 DISK_TOTAL_DONE DISK_TOTAL
row "screen saver: switch on"      SS_ON_TRIG 1 SS_ON_DONE SS_ON_VALUE
row "screen saver: is active?"     SS_ACTIVE_TRIG 1 SS_ACTIVE_DONE SS_ACTIVE
"$vdrt" set SS_SETTIME_VALUE 900
row "screen saver: timeout 900 s"  SS_SETTIME_TRIG 1 SS_SETTIME_DONE SS_SETTIME_VALUE
row "screen saver: timeout?"       SS_TIME_TRIG 1 SS_TIME_DONE SS_TIME
row "screen saver: password on"    SS_SETSEC_TRIG 1 SS_SETSEC_DONE SS_SETSEC_VALUE
row "screen saver: password?"      SS_SECURE_TRIG 1 SS_SECURE_DONE SS_SECURE
row "screen saver: start now"      SS_START_TRIG 1 SS_START_DONE
row "policy: no workstation lock"  LOCKPOL_SET_TRIG 1 LOCKPOL_SET_DONE LOCKPOL_SET
row "policy: lock disabled?"       LOCKPOL_TRIG 1 LOCKPOL_DONE LOCKPOL
row "policy: no task manager"      TASKMGR_SET_TRIG 1 TASKMGR_SET_DONE TASKMGR_SET
row "policy: task manager off?"    TASKMGR_TRIG 1 TASKMGR_DONE TASKMGR
row "keyboard: lock Ctrl+Alt+Del"  KB_CAD_TRIG 1 KB_CAD_DONE KB_CAD_STATE
row "keyboard: lock Alt+Tab"       KB_TAB_TRIG 1 KB_TAB_DONE KB_TAB_STATE
row "keyboard: unlock Alt+Tab"     KB_TAB_TRIG 0 KB_TAB_DONE KB_TAB_STATE
"$vdrt" set EVT_LEVEL 2
"$vdrt" set EVT_TEXT "Line 3 stopped: operator check"
row "event log: operator text"     EVT_TRIG 1 EVT_DONE
row "event log: fixed warning"     EVT_FIXED_TRIG 1 EVT_FIXED_DONE
row "lock the workstation"         LOCK_TRIG 1 LOCK_DONE

# ---- the plant bus ---------------------------------------------------------
port=18883
if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
fi
prefix=SAMPLE/plant/station1
vdbus="$bin/tools/vdbus/vdbus -p $port"
cat >"$run/broker.conf" <<CONF
listener $port 127.0.0.1
allow_anonymous true
persistence false
set_tcp_nodelay true
user $(id -un)
CONF
mosquitto=$(command -v mosquitto || echo /usr/sbin/mosquitto)
"$mosquitto" -c "$run/broker.conf" >"$run/broker.log" 2>&1 &
broker_pid=$!
printf '[Broker]\nPort=%s\n[Bus]\nTopicPrefix=%s\n' "$port" "$prefix" >>"$VDAPP/net/VDMQTT.ini"
echo
echo "== plant bus: broker on 127.0.0.1:$port, vdmqtt publishing under $prefix"
(cd "$run" && exec "$bin/bus/vdmqtt" >"$run/bus.out" 2>&1) &
bus_pid=$!
for _ in $(seq 100); do
  [ "$("$vdrt" get VDMQTT.STATUS 2>/dev/null)" = 1 ] && break
  sleep 0.05
done
"$vdrt" tasks
echo
echo "-- state out: what a client subscribing to $prefix/# gets (retained values, then changes)"
$vdbus watch --timeout 4000 "$prefix" >"$run/bus-watch.txt" &
watch_pid=$!
sleep 0.5
"$vdrt" set LINE_SPEED 14.25
"$vdrt" set ALARM_LEVEL 2
echo "-- writes in: <topic>/set, type-checked"
$vdbus pub "$prefix/line/setpoint/set" 55
$vdbus pub "$prefix/line/operator/set" "Day shift: Ana"
$vdbus pub "$prefix/line/setpoint/set" 99999
$vdbus pub "$prefix/line/alarm/set" 0
sleep 0.3
"$vdrt" get SETPOINT OPERATOR ALARM_LEVEL
echo
echo "-- commands: publish on <topic>/call (MQTT 5 response topic), answer with results and latency"
call() { printf '%-34s ' "$1"; shift; $vdbus call --timeout 3000 "$@" || true; }
call "disk: free space of C: (MB)"     "$prefix/disk/free/query/call"
call "disk: the same again"            "$prefix/disk/free/query/call"
call "screen saver: timeout 840 s"     "$prefix/screensaver/set-timeout/call" 840
call "screen saver: timeout?"          "$prefix/screensaver/query-timeout/call"
call "keyboard: lock Alt+Tab"          "$prefix/keyboard/alt-tab/lock/call" 1
call "keyboard: unlock Alt+Tab"        "$prefix/keyboard/alt-tab/lock/call" 0
call "event log: text from the bus"    "$prefix/eventlog/write/call" "Sent over the plant bus"
call "nobody answers: timeout"         "$prefix/line/ping/call"
call "bad argument: refused"           "$prefix/screensaver/set-timeout/call" soon
echo "-- an MQTT 3.1.1 client: <topic>/call/<id>, answer on <topic>/reply/<id>"
mosquitto_sub -p "$port" -V mqttv311 -t "$prefix/disk/free/query/reply/demo-1" -C 1 -W 5 &
sub_pid=$!
sleep 0.3
mosquitto_pub -p "$port" -V mqttv311 -t "$prefix/disk/free/query/call/demo-1" -n
wait "$sub_pid" || true
wait "$watch_pid" || true
echo
echo "-- what the subscriber saw"
cat "$run/bus-watch.txt"
echo
echo "== stopping vdmqtt through the runtime: its status goes offline"
$vdbus watch --timeout 2000 --count 1 "$prefix/status" >"$run/bus-status.txt" &
watch_pid=$!
sleep 0.3
"$vdrt" stop VDMQTT
rc=0
wait "$bus_pid" || rc=$?
bus_pid=
echo "vdmqtt exited with $rc"
wait "$watch_pid" || true
$vdbus watch --timeout 500 "$prefix/status"
echo
echo "== the same station in Sparkplug B: [Sparkplug] Enabled=1, group plant, node station1"
printf '[Sparkplug]\nEnabled=1\nGroupId=plant\nEdgeNodeId=station1\n' >>"$VDAPP/net/VDMQTT.ini"
$vdbus watch --timeout 3000 spBv1.0/plant >"$run/sparkplug-watch.txt" &
watch_pid=$!
sleep 0.3
(cd "$run" && exec "$bin/bus/vdmqtt" >"$run/bus.out" 2>&1) &
bus_pid=$!
for _ in $(seq 1 100); do
  [ "$("$vdrt" get VDMQTT.STATUS 2>/dev/null)" = 1 ] && break
  sleep 0.05
done
sleep 0.3
echo "-- a host writes line/setpoint (Int16 61) and runs disk/free/query with NCMD"
$vdbus ncmd spBv1.0/plant/NCMD/station1 line/setpoint Int16 61
$vdbus ncmd spBv1.0/plant/NCMD/station1 disk/free/query/call Boolean true
wait "$watch_pid" || true
"$vdrt" get SETPOINT
"$vdrt" stop VDMQTT
wait "$bus_pid" || true
bus_pid=
echo "-- what the Sparkplug host saw (long lines cut)"
cut -c1-300 "$run/sparkplug-watch.txt"
kill "$broker_pid" 2>/dev/null || true
wait "$broker_pid" 2>/dev/null || true
broker_pid=
echo

row "shut down (deferred)"         SHUTDOWN_TRIG 1 SHUTDOWN_DONE SHUT_DEFER STOP

echo
echo "== the stop tag is 1: the runtime stops the task"
"$vdrt" stop VDWINUT
rc=0
wait "$task_pid" || rc=$?
task_pid=
echo "vdwinut exited with $rc"
"$vdrt" get VDWINUT.STATUS VDWINUT.MSG

log=$(find "$VDAPP" -name VDWINUT.log | head -1)
echo
echo "== log file ${log#$root/}"
cat "$log"
log=$(find "$VDAPP" -name VDMQTT.log | head -1)
echo
echo "== log file ${log#$root/}"
cat "$log"
echo
echo "== event log of the simulated host"
"$vdrt" eventlog
echo
echo "== registry of the simulated host"
"$vdrt" registry
echo
echo "== requests the simulated host recorded (nothing was carried out)"
for f in "$VDHOST"/*.log; do
  echo "-- $(basename "$f")"; cat "$f"
done
