#!/usr/bin/env bash
# Builds the TLS library (OpenSSL 3.0: libssl and libcrypto, static) for the
# Windows builds from Debian's source package, into the cache of
# scripts/mingw-deps.sh: <cache>/<arch>/openssl-<version>-<key>/ (include/,
# lib/, share/doc/openssl/LICENSE.txt), with <cache>/<arch>/openssl pointing
# at it. An architecture whose build is in the cache is not built again.
#   build-openssl-mingw.sh [i686|x86_64]...   default: both
#
# The library reads its configuration (openssl.cnf, which libmosquitto asks
# it to load) from the folder OPENSSLDIR below: one that only administrators
# can write on the station. It is built without loadable modules and engines
# (no-dso): every provider it has is linked in, and no setting can make it
# load code from a file.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/mingw-deps.sh

arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(i686 x86_64)
vd_check_arches build-openssl-mingw.sh "${arches[@]}"

openssldir="C:/Program Files/Common Files/vdwinut/ssl"
# Options of OpenSSL's Configure (its targets: mingw is 32-bit, mingw64
# 64-bit). Part of the key: changing them builds anew.
options=(no-shared no-dso no-tests "--openssldir=$openssldir")
# Configure, running here, takes a path with a drive letter for a relative
# one and puts the prefix before it: the folders compiled into the library
# are set again for make. Engines and modules are never loaded (no-dso);
# their folders are named all the same, below the administrators' folder,
# instead of a path of this machine.
dirs=("OPENSSLDIR=$openssldir" "ENGINESDIR=$openssldir/engines" "MODULESDIR=$openssldir/modules")

target_of() { case "$1" in i686) echo mingw ;; x86_64) echo mingw64 ;; esac; }

# What else decides the build's output: the cross compiler and the MinGW
# runtime headers and libraries it builds against.
toolchain_id() { # arch
  local deb=${1/_/-}
  "$1-w64-mingw32-gcc-posix" --version | head -n 1
  dpkg-query -W -f='${Package} ${Version}\n' "gcc-mingw-w64-$deb-posix" "mingw-w64-$deb-dev" 2>/dev/null || true
}

# Debian's patches that are for its own (ELF) builds and break this one: the
# 32-bit assembler made position independent through the ELF global offset
# table, which COFF objects cannot express. Taken back out of the source.
reverted=(pic.patch)

key_of() { # arch
  { echo "openssl $(target_of "$1")"; printf '%s\n' "${options[@]}" "${dirs[@]}"
    echo "reverted: ${reverted[*]}"; toolchain_id "$1"; } | vd_hash
}

vd_lock
src_dir=$(vd_source openssl Configure)
version=$(vd_source_version "$src_dir" openssl)
src=$(vd_source_tree "$src_dir" Configure)
for p in "${reverted[@]}"; do
  [ -f "$src_dir/reverted-$p" ] && continue
  patch -s -R -p1 -d "$src" <"$src/debian/patches/$p"
  touch "$src_dir/reverted-$p"
done

for arch in "${arches[@]}"; do
  name=openssl-$version-$(key_of "$arch")
  prefix=$vd_cache/$arch/$name
  if [ -f "$prefix/openssl.stamp" ]; then
    vd_select "$arch" openssl "$name"
    continue
  fi
  work=$vd_cache/$arch/.build-$name
  echo "building OpenSSL ($version) for $arch-w64-mingw32 into $prefix"
  rm -rf "$work" "$prefix"
  mkdir -p "$work"
  started=$SECONDS
  # Built out of the source tree, with the project's compilers (the POSIX
  # threads variant; OpenSSL itself uses Windows threads).
  (cd "$work" && CC=gcc-posix perl "$src/Configure" "$(target_of "$arch")" \
     "--cross-compile-prefix=$arch-w64-mingw32-" "--prefix=$prefix" "--libdir=lib" \
     "${options[@]}" >configure.log)
  # Only the libraries and their headers: install_dev is install_sw without
  # the openssl program (a Windows program, of no use on this machine) and
  # without engines and modules (none in a build without them).
  make -C "$work" -j2 -s "${dirs[@]}" build_libs >"$work/build.log" 2>&1 ||
    { tail -n 40 "$work/build.log" >&2; exit 1; }
  make -C "$work" -s "${dirs[@]}" install_dev >/dev/null
  grep -a -q -F "OPENSSLDIR: \"$openssldir\"" "$prefix/lib/libcrypto.a" ||
    { echo "build-openssl-mingw.sh: OPENSSLDIR is not $openssldir" >&2; exit 1; }
  mkdir -p "$prefix/share/doc/openssl"
  install -m 644 "$src/LICENSE.txt" "$prefix/share/doc/openssl/"
  rm -rf "$work"
  echo "$name built in $((SECONDS - started)) s"
  { echo "$name"; printf '%s\n' "${options[@]}" "${dirs[@]}"; } >"$prefix/openssl.stamp"
  vd_select "$arch" openssl "$name"
done
