#!/usr/bin/env bash
# Builds the runtime of the protocol-buffers C library (protobuf-c: the one
# C file the generated codecs link against, static) for the Windows builds,
# from Debian's source package, into the cache of scripts/mingw-deps.sh:
# <cache>/<arch>/protobuf-c-<version>-<key>/ (include/protobuf-c/, lib/,
# share/doc/protobuf-c/ with the licence), with <cache>/<arch>/protobuf-c
# pointing at it. The codecs are generated on the build machine by Debian's
# protoc-c of the same source version, whose output does not depend on the
# target. An architecture whose build is in the cache is not built again.
#   build-protobuf-c-mingw.sh [i686|x86_64]...   default: both
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/mingw-deps.sh

arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(i686 x86_64)
vd_check_arches build-protobuf-c-mingw.sh "${arches[@]}"

# Part of the key: changing them builds anew.
cflags=(-O2 -std=c99 -DNDEBUG -w)  # its own warnings are not ours to mend

key_of() { # arch
  { echo "protobuf-c"; printf '%s\n' "${cflags[@]}"; "$1-w64-mingw32-gcc-posix" --version | head -n 1; } | vd_hash
}

vd_lock
src_dir=$(vd_source protobuf-c protobuf-c/protobuf-c.c)
version=$(vd_source_version "$src_dir" protobuf-c)
src=$(vd_source_tree "$src_dir" protobuf-c/protobuf-c.c)

for arch in "${arches[@]}"; do
  name=protobuf-c-$version-$(key_of "$arch")
  prefix=$vd_cache/$arch/$name
  if [ -f "$prefix/protobuf-c.stamp" ]; then
    vd_select "$arch" protobuf-c "$name"
    continue
  fi
  work=$vd_cache/$arch/.build-$name
  echo "building the protobuf-c runtime ($version) for $arch-w64-mingw32 into $prefix"
  rm -rf "$work" "$prefix"
  mkdir -p "$work" "$prefix/include/protobuf-c" "$prefix/lib" "$prefix/share/doc/protobuf-c"
  "$arch-w64-mingw32-gcc-posix" "${cflags[@]}" -I"$src" -c "$src/protobuf-c/protobuf-c.c" -o "$work/protobuf-c.o"
  "$arch-w64-mingw32-ar" rcs "$prefix/lib/libprotobuf-c.a" "$work/protobuf-c.o"
  install -m 644 "$src/protobuf-c/protobuf-c.h" "$prefix/include/protobuf-c/"
  install -m 644 "$src/LICENSE" "$prefix/share/doc/protobuf-c/"
  rm -rf "$work"
  { echo "$name"; printf '%s\n' "${cflags[@]}"; } >"$prefix/protobuf-c.stamp"
  vd_select "$arch" protobuf-c "$name"
done
