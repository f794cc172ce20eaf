#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
#   install-deps.sh host     host build, tests, benchmarks, fuzzing; Node.js
#                            (Debian's, where the machine has none) and the
#                            Sparkplug test host's npm packages, pinned by
#                            tests/e2e/sparkplug/package-lock.json, into
#                            build/sparkplug-host
#   install-deps.sh windows  mingw-w64 cross compilers and wine64
#   install-deps.sh windows-mqtt
#                            OpenSSL, the MQTT client library and the
#                            protobuf-c runtime built for both Windows builds
#                            from Debian's source packages (build-openssl-mingw.sh,
#                            build-mosquitto-mingw.sh, build-protobuf-c-mingw.sh;
#                            kept in a cache outside the tree) and the broker
#                            the Windows tests talk to
#   install-deps.sh i386     32-bit Linux cross compiler and qemu-i386 user-mode emulation
set -euo pipefail

host_pkgs=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev python3
           libmosquitto-dev libssl-dev openssl mosquitto mosquitto-clients libprotobuf-c-dev protobuf-c-compiler)
i386_pkgs=(g++-i686-linux-gnu qemu-user-static googletest)
windows_pkgs=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 mingw-w64-tools wine64 zip)
# dpkg-dev unpacks the source packages; the cross compilers build them, with
# OpenSSL's perl Configure and make.
windows_mqtt_pkgs=(cmake ninja-build dpkg-dev debian-archive-keyring perl make patch
                   g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mosquitto protobuf-c-compiler)

want=()
build_mqtt=0
node_host=0
for group in "$@"; do
  case "$group" in
    host) want+=("${host_pkgs[@]}"); node_host=1 ;;
    windows) want+=("${windows_pkgs[@]}") ;;
    windows-mqtt) want+=("${windows_mqtt_pkgs[@]}"); build_mqtt=1 ;;
    i386) want+=("${i386_pkgs[@]}") ;;
    *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

# Node.js: the machine's own where it has one.
if [ $node_host -eq 1 ] && ! { command -v node && command -v npm; } >/dev/null 2>&1; then
  want+=(nodejs npm)
fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Built as the calling user, into the cache of scripts/mingw-deps.sh;
# skipped when built. libmosquitto is built against that OpenSSL.
if [ $build_mqtt -eq 1 ]; then
  "$(dirname "$0")/build-openssl-mingw.sh"
  "$(dirname "$0")/build-mosquitto-mingw.sh"
  "$(dirname "$0")/build-protobuf-c-mingw.sh"
fi

# The test host's packages, exactly as the lock file pins them; again only
# when the lock file changed.
if [ $node_host -eq 1 ]; then
  root=$(cd "$(dirname "$0")/.." && pwd)
  host_dir=$root/build/sparkplug-host
  lock=$root/tests/e2e/sparkplug/package-lock.json
  if ! cmp -s "$lock" "$host_dir/package-lock.json" || [ ! -d "$host_dir/node_modules/sparkplug-payload" ]; then
    mkdir -p "$host_dir"
    cp "$root/tests/e2e/sparkplug/package.json" "$lock" "$host_dir/"
    (cd "$host_dir" && npm ci --no-audit --no-fund --ignore-scripts --loglevel=error >/dev/null)
  fi
fi
