#!/usr/bin/env bash
# Builds the MQTT client library (libmosquitto, static, C library only, TLS
# through the OpenSSL that build-openssl-mingw.sh built, threads through
# mingw-w64's winpthreads) for the Windows builds, from Debian's source
# package, into the cache of scripts/mingw-deps.sh:
# <cache>/<arch>/mosquitto-<version>-<key>/ (include/, lib/,
# share/doc/mosquitto/ with the licence texts), with <cache>/<arch>/mosquitto
# pointing at it. The key covers the OpenSSL build: a new OpenSSL build makes
# a new build of this library. An architecture whose build is in the cache is
# not built again.
#   build-mosquitto-mingw.sh [i686|x86_64]...   default: both
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/mingw-deps.sh

arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(i686 x86_64)
vd_check_arches build-mosquitto-mingw.sh "${arches[@]}"

# Options of the library's own CMake build. Part of the key: changing them
# builds anew.
options=(
  -DWITH_STATIC_LIBRARIES=ON -DWITH_PIC=OFF
  -DWITH_TLS=ON -DWITH_TLS_PSK=OFF -DWITH_EC=ON
  -DWITH_THREADING=ON -DWITH_SOCKS=ON -DWITH_SRV=OFF -DWITH_CJSON=OFF
  -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF
  -DWITH_LIB_CPP=OFF -DDOCUMENTATION=OFF -DWITH_DLT=OFF
)

# The OpenSSL build this one is built against (the folder's name is its key).
openssl_of() { # arch
  local p=$vd_cache/$1/openssl
  [ -f "$p/openssl.stamp" ] ||
    { echo "build-mosquitto-mingw.sh: no OpenSSL build for $1 in $vd_cache (run scripts/build-openssl-mingw.sh first)" >&2; exit 1; }
  basename "$(readlink -f "$p")"
}

key_of() { # arch
  { echo "mosquitto"; printf '%s\n' "${options[@]}"; openssl_of "$1"
    "$1-w64-mingw32-gcc-posix" --version | head -n 1; } | vd_hash
}

vd_lock
src_dir=$(vd_source mosquitto lib/CMakeLists.txt)
version=$(vd_source_version "$src_dir" mosquitto)
src=$(vd_source_tree "$src_dir" lib/CMakeLists.txt)

for arch in "${arches[@]}"; do
  openssl=$vd_cache/$arch/$(openssl_of "$arch")
  name=mosquitto-$version-$(key_of "$arch")
  prefix=$vd_cache/$arch/$name
  if [ -f "$prefix/mosquitto.stamp" ]; then
    vd_select "$arch" mosquitto "$name"
    continue
  fi
  work=$vd_cache/$arch/.build-$name
  echo "building libmosquitto ($version) for $arch-w64-mingw32 into $prefix"
  rm -rf "$work" "$prefix"
  # The library's CMake file asks for CMake 3.0; newer CMake versions refuse
  # that without a policy minimum. OpenSSL lies outside the cross compiler's
  # root, where FindOpenSSL would not look: its files are named.
  cmake -S "$src" -B "$work" -G Ninja -Wno-dev --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_POLICY_VERSION_MINIMUM=3.5 \
    -DOPENSSL_USE_STATIC_LIBS=ON -DOPENSSL_INCLUDE_DIR="$openssl/include" \
    -DSSL_EAY="$openssl/lib/libssl.a" -DLIB_EAY="$openssl/lib/libcrypto.a" \
    "${options[@]}" >/dev/null
  # Only the static library: the shared one is not wanted and its link
  # options are for ELF linkers.
  cmake --build "$work" --target libmosquitto_static -j2 >/dev/null
  mkdir -p "$prefix/include" "$prefix/lib" "$prefix/share/doc/mosquitto"
  install -m 644 "$work/lib/libmosquitto_static.a" "$prefix/lib/"
  install -m 644 "$src/include/mosquitto.h" "$src/include/mqtt_protocol.h" "$prefix/include/"
  install -m 644 "$src/LICENSE.txt" "$src/epl-v20" "$src/edl-v10" "$prefix/share/doc/mosquitto/"
  rm -rf "$work"
  { echo "$name"; echo "openssl: $(basename "$openssl")"; printf '%s\n' "${options[@]}"; } >"$prefix/mosquitto.stamp"
  vd_select "$arch" mosquitto "$name"
done
