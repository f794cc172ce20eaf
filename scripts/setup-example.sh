#!/usr/bin/env bash
# Copies the sample application of examples/ into DIR, builds its archives
# with ctbuild and prints the environment that runs the task there.
#   scripts/setup-example.sh DIR [BUILD_DIR]
set -euo pipefail
src="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:?usage: setup-example.sh DIR [BUILD_DIR]}"
build="${2:-$src/build/host-release}"
ctbuild="$build/tools/ctbuild/ctbuild"
[ -x "$ctbuild" ] || { echo "ctbuild not built in $build" >&2; exit 1; }
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
cp -r "$src/examples/app" "$src/examples/root" "$src/examples/tags.lst" "$dir/"
for text in $(cd "$dir/app" && find . -name '*.ct.txt'); do
    "$ctbuild" -t "$dir/tags.lst" "$dir/app/$text" "$dir/app/${text%.txt}"
    rm "$dir/app/$text"
done
cat <<ENV
export VDAPP=$dir/app VDROOT=$dir/root VDDOMAIN=plant VDNAME=SAMPLE VDUSER=operator
export VDRUNTIME=$dir/runtime.db VDHOST=$dir/host
ENV
