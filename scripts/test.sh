#!/usr/bin/env bash
# Builds and runs every test: host unit and end-to-end tests (Debug, with
# AddressSanitizer and UndefinedBehaviorSanitizer), the fuzz targets for a
# bounded time, the 64-bit Windows build under wine64 in a private prefix,
# and the 32-bit Windows build (compiled and linked only).
#   test.sh [host|fuzz|windows]...   default: all of them
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(host fuzz windows)
jobs=$(nproc)

for s in "${stages[@]}"; do
  case "$s" in
    host|fuzz) scripts/install-deps.sh host ;;
    windows) scripts/install-deps.sh host windows windows-mqtt ;;
  esac
done

results=()
fail=0
note() { results+=("$1"); }

run_host() {
  cmake --preset host-debug >/dev/null
  cmake --build --preset host-debug -j"$jobs"
  if ctest --preset host-debug -j"$jobs"; then note "host: passed"; else note "host: FAILED"; fail=1; fi
}

run_fuzz() {
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j"$jobs"
  if scripts/fuzz.sh "${VD_FUZZ_SECONDS:-20}"; then note "fuzz: passed"; else note "fuzz: FAILED"; fail=1; fi
}

run_windows() {
  export WINEPREFIX="$root/build/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w || true
  fi
  cmake --preset win-i686 >/dev/null
  cmake --build --preset win-i686 -j"$jobs"
  note "windows i686: built"
  cmake --preset win-x86_64 >/dev/null
  cmake --build --preset win-x86_64 -j"$jobs"
  if ctest --preset win-x86_64; then note "windows x86_64 under wine64: passed"; else note "windows x86_64 under wine64: FAILED"; fail=1; fi
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}

for s in "${stages[@]}"; do
  case "$s" in
    host) run_host ;;
    fuzz) run_fuzz ;;
    windows) run_windows ;;
    *) echo "test.sh: unknown stage '$s'" >&2; exit 2 ;;
  esac
done

echo
printf '%s\n' "${results[@]}"
exit $fail
