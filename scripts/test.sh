#!/usr/bin/env bash
# Builds and runs every test: host unit and end-to-end tests (Debug, with
# AddressSanitizer and UndefinedBehaviorSanitizer), the same host suite built
# for 32-bit Linux and run under qemu-i386 user-mode emulation, the fuzz
# targets for a bounded time, the 64-bit Windows build under wine64 in a
# private prefix, and the 32-bit Windows build (compiled and linked only).
#   test.sh [host|i386|fuzz|windows]...   default: all of them
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(host i386 fuzz windows)
jobs=$(nproc)

for s in "${stages[@]}"; do
  case "$s" in
    host|fuzz) scripts/install-deps.sh host ;;
    i386) scripts/install-deps.sh host i386 ;;
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

# Child processes of the 32-bit tests (the task, vdrt, helpers) are started
# by the kernel, which hands i386 ELF files to qemu-i386 through binfmt_misc.
# Registers that entry when no enabled one exists; other entries are left
# alone. Needs root (or sudo).
ensure_i386_binfmt() {
  local dir=/proc/sys/fs/binfmt_misc sudo="" qemu entry
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  qemu=$(command -v qemu-i386-static) || { echo "test.sh: qemu-i386-static is missing" >&2; return 1; }
  [ -e "$dir/register" ] || $sudo mount -t binfmt_misc binfmt_misc "$dir"
  for entry in "$dir"/*; do
    [ -f "$entry" ] || continue
    if grep -qx 'enabled' "$entry" && grep -qx 'magic 7f454c4601010100000000000000000002000300' "$entry"; then
      return 0
    fi
  done
  if [ -e "$dir/qemu-i386" ]; then
    echo "test.sh: the binfmt_misc entry qemu-i386 exists but is disabled" >&2
    return 1
  fi
  # ELF, 32-bit, little-endian, executable or shared object, machine i386;
  # F: the interpreter is opened now, P: argv[0] is kept.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':FP' \
    | $sudo tee "$dir/register" >/dev/null
}

# Names every test the last ctest run of a build skipped, with the reason
# the test gave.
report_skips() {
  local log="$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  awk '
    /^\[ RUN      \] / { name = $4; reason = ""; next }
    /: Skipped$/ { getline reason; next }
    /^\[  SKIPPED \] / && $4 == name { printf "  skipped %s: %s\n", name, reason; name = "" }
  ' "$log" | sort -u
}

run_i386() {
  ensure_i386_binfmt
  cmake --preset host-i686 >/dev/null
  cmake --build --preset host-i686 -j"$jobs"
  if ctest --preset host-i686 -j"$jobs"; then note "i386 under qemu-i386: passed"; else note "i386 under qemu-i386: FAILED"; fail=1; fi
  report_skips build/host-i686
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
  # The bus is part of the Windows stage (a build folder configured before
  # the library was there would keep it off).
  cmake --preset win-i686 -DVD_BUS=ON >/dev/null
  cmake --build --preset win-i686 -j"$jobs"
  note "windows i686: built"
  cmake --preset win-x86_64 -DVD_BUS=ON >/dev/null
  cmake --build --preset win-x86_64 -j"$jobs"
  if ctest --preset win-x86_64; then note "windows x86_64 under wine64: passed"; else note "windows x86_64 under wine64: FAILED"; fail=1; fi
  report_skips build/win-x86_64
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}

for s in "${stages[@]}"; do
  case "$s" in
    host) run_host ;;
    i386) run_i386 ;;
    fuzz) run_fuzz ;;
    windows) run_windows ;;
    *) echo "test.sh: unknown stage '$s'" >&2; exit 2 ;;
  esac
done

echo
printf '%s\n' "${results[@]}"
exit $fail
