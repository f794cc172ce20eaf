#!/usr/bin/env bash
# Runs a command (the Windows bus tests under wine64) beside a driver that
# starts and kills the Linux mosquitto broker on 127.0.0.1 when the command
# asks, through files in a private folder named to the command in
# VD_BROKER_CONTROL (in Windows form, Z:\...): see driven_broker.cpp; and
# Linux helper programs (an independent test client) that it starts and
# kills on request. The broker and the helpers are stopped afterwards; the
# exit status is the command's. Every wait is bounded.
#   broker_driver.sh COMMAND [ARG]...
set -euo pipefail

broker=${VD_MOSQUITTO:-$(command -v mosquitto || echo /usr/sbin/mosquitto)}
if [ ! -x "$broker" ]; then
  echo "broker_driver.sh: no mosquitto broker at $broker (scripts/install-deps.sh windows-mqtt)" >&2
  exit 1
fi

dir=$(mktemp -d)
pid=""
driver=""
starts=0
spawns=0
helpers=()
stop_broker() {
  if [ -n "$pid" ]; then
    kill -9 "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    wait "$pid" 2>/dev/null || true
    pid=""
    rm -f "$dir/broker.pid"
  fi
}
reply() {
  printf '%s\n' "$1" > "$dir/reply.tmp"
  mv "$dir/reply.tmp" "$dir/reply"
}

# start PORT EXTRA-FILE: on PORT (0: a random free one, retried when taken).
start_broker() {
  local want=$1 extra=$2 port tries=20 started=0 log
  stop_broker
  [ "$want" != 0 ] && tries=1
  for _ in $(seq 1 $tries); do
    port=$want
    [ "$port" = 0 ] && port=$((20000 + RANDOM % 30000))
    starts=$((starts + 1))
    log=$dir/broker$starts.log
    : > "$log"
    {
      printf 'listener %d 127.0.0.1\npersistence false\nset_tcp_nodelay true\n' "$port"
      printf 'connection_messages true\nlog_dest file %s\n' "$log"
      # Run as ourselves (as root the broker would switch to its own user,
      # which cannot write into this folder).
      printf 'user %s\n' "$(id -un)"
      grep -q '^allow_anonymous' "$extra" || echo 'allow_anonymous true'
      cat "$extra"
    } > "$dir/broker.conf"
    "$broker" -c "$dir/broker.conf" > "$dir/broker.out" 2>&1 &
    pid=$!
    echo "$pid" > "$dir/broker.pid"
    # Up to 5 s until it accepts connections; a broker that exited (its
    # port taken) is tried again on another port, one that hangs is not.
    local exited=0
    for _ in $(seq 1 100); do
      if ! kill -0 "$pid" 2>/dev/null; then exited=1; break; fi
      if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then started=1; break; fi
      sleep 0.05
    done
    [ $started -eq 1 ] && break
    stop_broker
    [ $exited -eq 1 ] || break
  done
  if [ $started -eq 1 ]; then reply "ok $port $starts"; else reply "error $(cat "$dir/broker.out" "$log")"; fi
}

serve() {
  while :; do
    if [ -f "$dir/request" ]; then
      mv "$dir/request" "$dir/request.taken"
      verb=$(sed -n 1p "$dir/request.taken")
      case "$verb" in
        start)
          sed -n '3,$p' "$dir/request.taken" > "$dir/extra.conf"
          start_broker "$(sed -n 2p "$dir/request.taken")" "$dir/extra.conf" ;;
        kill) stop_broker; reply "ok 0" ;;
        spawn)
          # A helper program: its arguments one per line, its output in spawnN.out.
          spawns=$((spawns + 1))
          mapfile -t args < <(sed -n '2,$p' "$dir/request.taken")
          "${args[@]}" > "$dir/spawn$spawns.out" 2>&1 &
          helpers+=($!)
          echo "$!" >> "$dir/helpers.pid"
          reply "ok spawn$spawns.out" ;;
        unspawn)
          for h in "${helpers[@]}"; do kill -9 "$h" 2>/dev/null || true; done
          helpers=()
          reply "ok 0" ;;
        *) reply "error unknown request '$verb'" ;;
      esac
    fi
    sleep 0.02
  done
}

cleanup() {
  [ -n "$driver" ] && kill "$driver" 2>/dev/null || true
  [ -n "$driver" ] && wait "$driver" 2>/dev/null || true
  grep -v ' Killed ' "$dir/driver.err" >&2 || true
  # The broker and the helpers are the driver's children: their numbers are
  # in broker.pid and helpers.pid.
  if [ -f "$dir/broker.pid" ]; then kill -9 "$(cat "$dir/broker.pid")" 2>/dev/null || true; fi
  if [ -f "$dir/helpers.pid" ]; then xargs -r kill -9 < "$dir/helpers.pid" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT

# The driver's own complaints are shown at the end, without the shell's
# notes on the brokers it killed.
serve 2>"$dir/driver.err" &
driver=$!

status=0
VD_BROKER_CONTROL="Z:${dir//\//\\}" timeout -k 5 "${VD_BROKER_COMMAND_SECONDS:-600}" "$@" || status=$?
exit $status
