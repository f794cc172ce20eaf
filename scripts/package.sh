#!/usr/bin/env bash
# Lays out the deployable Windows package and zips it:
#   dist/vdwinut-<version>-<arch>/{bin,sample,INSTALL.txt} and dist/vdwinut-<version>-<arch>.zip
#   package.sh [i686|x86_64]      default i686, the product
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=${1:-i686}
case "$arch" in i686|x86_64) ;; *) echo "package.sh: arch is i686 or x86_64" >&2; exit 2 ;; esac
scripts/install-deps.sh host windows

# The sample's archives are built by the host's ctbuild (the text form and
# the archive bytes are the same on every build).
cmake --preset host-release >/dev/null
cmake --build --preset host-release -j"$(nproc)" --target ctbuild >/dev/null
cmake --preset "win-$arch" >/dev/null
cmake --build --preset "win-$arch" -j"$(nproc)" --target vdwinut vdkernel vdrt ctbuild ctdump VdMsgZAR >/dev/null

version=$(sed -n 's/^project(vdwinut VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="vdwinut-$version-$arch"
out="$root/dist/$name"
build="$root/build/win-$arch"
rm -rf "$out" "$root/dist/$name.zip"
mkdir -p "$out/bin"
cp "$build/app/vdwinut.exe" "$build/sim/VDKERNEL.dll" "$build/tools/vdrt/vdrt.exe" \
   "$build/tools/ctbuild/ctbuild.exe" "$build/tools/ctdump/ctdump.exe" "$build/tools/vdmsg/VdMsgZAR.dll" "$out/bin/"
scripts/setup-example.sh "$out/sample" "$root/build/host-release" >/dev/null
cp examples/app/plant/ct/VDWINUT.ct.txt "$out/sample/app/plant/ct/"
sed 's/$/\r/' packaging/INSTALL.txt >"$out/INSTALL.txt"

# The product imports Windows system libraries only.
objdump=$arch-w64-mingw32-objdump
imports=$("$objdump" -p "$out/bin/vdwinut.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
  case "$dll" in
    kernel32.dll|user32.dll|advapi32.dll|version.dll|msvcrt.dll|api-ms-win-*|ucrtbase.dll|shell32.dll|gdi32.dll) ;;
    *) echo "package.sh: vdwinut.exe imports $dll" >&2; exit 1 ;;
  esac
done

(cd "$root/dist" && cmake -E tar cf "$name.zip" --format=zip "$name")
echo "$root/dist/$name.zip"
echo "imports of vdwinut.exe: $(echo $imports)"
