#!/usr/bin/env bash
# Lays out the deployable Windows package and zips it:
#   dist/vdwinut-<version>-<arch>/{bin,sample,licenses,INSTALL.txt} and dist/vdwinut-<version>-<arch>.zip
# with the plant bus task vdmqtt.exe and its tool vdbus.exe beside vdwinut.
#   package.sh [i686|x86_64]      default i686, the product
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${1:-i686}
case "$arch" in i686|x86_64) ;; *) echo "package.sh: arch is i686 or x86_64" >&2; exit 2 ;; esac
scripts/install-deps.sh host windows windows-mqtt

# The sample's archives are built by the host's ctbuild (the text form and
# the archive bytes are the same on every build).
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j"$(nproc)" --target ctbuild >/dev/null
cmake --preset "win-$arch" -DVD_BUS=ON >/dev/null
cmake --build --preset "win-$arch" -j"$(nproc)" --target vdwinut vdkernel vdrt ctbuild ctdump VdMsgZAR vdmqtt vdbus >/dev/null

version=$(sed -n 's/^project(vdwinut VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="vdwinut-$version-$arch"
out="$root/dist/$name"
build="$root/build/win-$arch"
rm -rf "$out" "$root/dist/$name.zip"
mkdir -p "$out/bin"
cp "$build/host_utilities/vdwinut.exe" "$build/sim/VDKERNEL.dll" "$build/tools/vdrt/vdrt.exe" \
   "$build/tools/ctbuild/ctbuild.exe" "$build/tools/ctdump/ctdump.exe" "$build/tools/vdmsg/VdMsgZAR.dll" \
   "$build/bus/vdmqtt.exe" "$build/tools/vdbus/vdbus.exe" "$out/bin/"
# The sample holds both tasks' archives and settings (app/plant/ct/*.ct,
# app/net/*.ini, root/bin/*.ini) and the archives' text forms.
scripts/setup-example.sh "$out/sample" "$root/build/host-release" >/dev/null
cp examples/app/plant/ct/VDWINUT.ct.txt examples/app/plant/ct/VDMQTT.ct.txt "$out/sample/app/plant/ct/"
for f in sample/app/plant/ct/VDMQTT.ct sample/app/net/VDMQTT.ini sample/root/bin/VDMQTT.ini; do
  [ -f "$out/$f" ] || { echo "package.sh: the sample lacks $f" >&2; exit 1; }
done
sed 's/$/\r/' packaging/INSTALL.txt >"$out/INSTALL.txt"
# The MQTT client library, OpenSSL and the protobuf-c runtime are linked into vdmqtt.exe and
# vdbus.exe: their licence texts (from the builds in the cache of
# scripts/mingw-deps.sh) go with them.
source scripts/mingw-deps.sh
for lib in mosquitto openssl protobuf-c; do
  mkdir -p "$out/licenses/$lib"
  for f in "$vd_cache/$arch/$lib/share/doc/$lib"/*; do
    [ -f "$f" ] || continue
    base=$(basename "$f")
    case "$base" in *.txt) ;; *) base=$base.txt ;; esac
    sed 's/$/\r/' "$f" >"$out/licenses/$lib/$base"
  done
  [ -f "$out/licenses/$lib/LICENSE.txt" ] || { echo "package.sh: no licence texts of $lib" >&2; exit 1; }
done

# The product imports Windows system libraries only.
objdump=$arch-w64-mingw32-objdump
imports=$("$objdump" -p "$out/bin/vdwinut.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
  case "$dll" in
    kernel32.dll|user32.dll|advapi32.dll|version.dll|msvcrt.dll|api-ms-win-*|ucrtbase.dll|shell32.dll|gdi32.dll) ;;
    *) echo "package.sh: vdwinut.exe imports $dll" >&2; exit 1 ;;
  esac
done

# The bus programs add Winsock and the certificate library (crypt32, which
# the linked-in OpenSSL uses), and nothing else: no OpenSSL DLL.
for exe in vdmqtt.exe vdbus.exe; do
  for dll in $("$objdump" -p "$out/bin/$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u); do
    case "$dll" in
      kernel32.dll|user32.dll|advapi32.dll|version.dll|msvcrt.dll|api-ms-win-*|ucrtbase.dll|shell32.dll|gdi32.dll|ws2_32.dll|crypt32.dll) ;;
      *) echo "package.sh: $exe imports $dll" >&2; exit 1 ;;
    esac
  done
done

(cd "$root/dist" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$root/dist/$name.zip"
echo "imports of vdwinut.exe: $(echo $imports)"
