#!/usr/bin/env bash
# Builds the MQTT client library (libmosquitto, static, C library only, TLS
# off, threads through mingw-w64's winpthreads) for the Windows builds, from
# Debian's source package, into build/deps/<arch>/ (include/, lib/,
# share/doc/mosquitto/ with the licence texts). An architecture whose prefix
# already holds this build is skipped.
#   build-mosquitto-mingw.sh [i686|x86_64]...   default: both
#
# The source package is fetched with apt through a private source list and
# private lists and cache folders under build/deps/apt/, so the machine's apt
# configuration is neither read for sources nor changed. The mirror is the one
# the machine uses for bookworm (VD_DEBIAN_MIRROR overrides it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
deps=$root/build/deps

arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(i686 x86_64)
for arch in "${arches[@]}"; do
  case "$arch" in
    i686|x86_64) ;;
    *) echo "build-mosquitto-mingw.sh: unknown architecture '$arch'" >&2; exit 2 ;;
  esac
done

# Options of the library's own CMake build. Part of the stamp: changing them
# rebuilds.
options=(
  -DWITH_STATIC_LIBRARIES=ON -DWITH_PIC=OFF
  -DWITH_TLS=OFF -DWITH_TLS_PSK=OFF -DWITH_EC=OFF
  -DWITH_THREADING=ON -DWITH_SOCKS=ON -DWITH_SRV=OFF -DWITH_CJSON=OFF
  -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF
  -DWITH_LIB_CPP=OFF -DDOCUMENTATION=OFF -DWITH_DLT=OFF
)

stamp_text() { # source folder name, architecture
  printf '%s %s %s\n' "$1" "$2" "${options[*]}"
}

# The URI of the machine's Debian bookworm source (one-line or deb822 format).
debian_mirror() {
  local files=() uri=""
  [ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && files+=("$f"); done
  [ ${#files[@]} -gt 0 ] && uri=$(sed -e 's/\[[^]]*\]//' "${files[@]}" |
    awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }')
  if [ -z "$uri" ]; then
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] || continue
      uri=$(awk 'BEGIN { RS = ""; FS = "\n" }
        {
          u = ""; s = 0
          for (i = 1; i <= NF; i++) {
            if ($i ~ /^URIs:/) { split($i, w, /[ \t]+/); u = w[2] }
            if ($i ~ /^Suites:/ && $i ~ /[ \t]bookworm([ \t]|$)/) s = 1
          }
          if (s && u != "") { print u; exit }
        }' "$f")
      [ -n "$uri" ] && break
    done
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

# The unpacked source, once apt-get source has finished.
source_dir() {
  local d
  [ -f "$deps/src/unpacked" ] || return 0
  for d in "$deps"/src/mosquitto-*/; do
    [ -f "$d/lib/CMakeLists.txt" ] && { echo "${d%/}"; return; }
  done
}

# The source package's version, as named by its .dsc file.
source_version() {
  local f
  for f in "$deps"/src/mosquitto_*.dsc; do
    [ -f "$f" ] && { basename "$f" .dsc; return; }
  done
  basename "$src"
}

fetch_source() {
  local apt_dir=$deps/apt mirror
  mirror=${VD_DEBIAN_MIRROR:-$(debian_mirror)}
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror bookworm main" \
    > "$apt_dir/sources.list"
  local apt_opts=(
    -o Dir::Etc::SourceList="$apt_dir/sources.list"
    -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
    -o Dir::State::Lists="$apt_dir/lists"
    -o Dir::Cache="$apt_dir/cache"
  )
  # apt's download user cannot write into build/: when run as root, download
  # as root (apt would fall back to it anyway, with a warning).
  [ "$(id -u)" -eq 0 ] && apt_opts+=(-o APT::Sandbox::User=root)
  echo "fetching the mosquitto source package from $mirror"
  apt-get "${apt_opts[@]}" update -qq
  rm -rf "$deps/src" && mkdir -p "$deps/src"
  (cd "$deps/src" && apt-get "${apt_opts[@]}" source -qq mosquitto >/dev/null)
  touch "$deps/src/unpacked"
}

need=()
src=$(source_dir || true)
for arch in "${arches[@]}"; do
  prefix=$deps/$arch
  if [ -n "$src" ] && [ -f "$prefix/lib/libmosquitto_static.a" ] &&
     [ "$(cat "$prefix/mosquitto.stamp" 2>/dev/null)" = "$(stamp_text "$(source_version)" "$arch")" ]; then
    continue
  fi
  need+=("$arch")
done
[ ${#need[@]} -eq 0 ] && exit 0

if [ -z "$src" ]; then
  fetch_source
  src=$(source_dir || true)
  [ -n "$src" ] || { echo "build-mosquitto-mingw.sh: no mosquitto source under $deps/src" >&2; exit 1; }
fi

for arch in "${need[@]}"; do
  prefix=$deps/$arch
  work=$deps/build-mosquitto-$arch
  echo "building libmosquitto ($(source_version)) for $arch-w64-mingw32 into $prefix"
  rm -rf "$work" "$prefix/mosquitto.stamp"
  # The library's CMake file asks for CMake 3.0; newer CMake versions refuse
  # that without a policy minimum.
  cmake -S "$src" -B "$work" -G Ninja -Wno-dev --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_POLICY_VERSION_MINIMUM=3.5 \
    "${options[@]}" >/dev/null
  # Only the static library: the shared one is not wanted and its link
  # options are for ELF linkers.
  cmake --build "$work" --target libmosquitto_static >/dev/null
  mkdir -p "$prefix/include" "$prefix/lib" "$prefix/share/doc/mosquitto"
  install -m 644 "$work/lib/libmosquitto_static.a" "$prefix/lib/"
  install -m 644 "$src/include/mosquitto.h" "$src/include/mqtt_protocol.h" "$prefix/include/"
  install -m 644 "$src/LICENSE.txt" "$src/epl-v20" "$src/edl-v10" "$prefix/share/doc/mosquitto/"
  rm -rf "$work"
  stamp_text "$(source_version)" "$arch" > "$prefix/mosquitto.stamp"
done
