#!/usr/bin/env bash
# Runs a command beside a private MQTT broker (Debian's mosquitto) that
# listens on 127.0.0.1 on a free port; the command finds the port in
# VD_MQTT_PORT. The broker is stopped afterwards; the exit status is the
# command's. Every wait is bounded.
#   with_broker.sh COMMAND [ARG]...
set -euo pipefail

broker=${VD_MOSQUITTO:-$(command -v mosquitto || echo /usr/sbin/mosquitto)}
if [ ! -x "$broker" ]; then
  echo "with_broker.sh: no mosquitto broker at $broker (scripts/install-deps.sh windows-mqtt)" >&2
  exit 1
fi

dir=$(mktemp -d)
pid=""
stop_broker() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
  fi
}
trap 'stop_broker; rm -rf "$dir"' EXIT

# A random port; one taken by someone else makes the broker exit at once, and
# the next port is tried.
started=0
for _ in $(seq 1 20); do
  port=$((20000 + RANDOM % 30000))
  printf 'listener %d 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\n' \
    "$port" > "$dir/broker.conf"
  "$broker" -c "$dir/broker.conf" > "$dir/broker.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    if grep -q ' running$' "$dir/broker.log"; then started=1; break; fi
    sleep 0.1
  done
  [ $started -eq 1 ] && break
  stop_broker
done
if [ $started -ne 1 ]; then
  echo "with_broker.sh: the broker did not start; its last log:" >&2
  cat "$dir/broker.log" >&2
  exit 1
fi

status=0
VD_MQTT_PORT=$port timeout -k 5 "${VD_BROKER_COMMAND_SECONDS:-90}" "$@" || status=$?
if [ $status -ne 0 ]; then
  echo "with_broker.sh: '$*' exited with $status; broker log:" >&2
  cat "$dir/broker.log" >&2
fi
exit $status
