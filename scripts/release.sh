#!/usr/bin/env bash
# Builds every release artefact into build/release: the 32-bit and 64-bit
# programs (Release), their installers and their portable zips.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$here/scripts/setup.sh"
out="$build/release"
rm -rf "$out"
mkdir -p "$out"
for arch in 32 64; do
  triple=$([ $arch = 32 ] && echo i686-w64-mingw32 || echo x86_64-w64-mingw32)
  dir="$build/release-win$arch"
  build_windows "$triple" "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
  makensis -V2 -DARCH=$arch -DBUILD="$dir" -DOUTFILE="$out/quillet-6.0.200-win$arch-setup.exe" \
    "$here/installer/quillet.nsi"
  stage="$out/quillet-6.0.200-win$arch"
  mkdir -p "$stage"
  cp "$dir/quillet.exe" "$dir/quillet.chm" "$stage/"
  cp "$here/installer/README-portable.txt" "$stage/README.txt"
  (cd "$out" && zip -qr "quillet-6.0.200-win$arch-portable.zip" "$(basename "$stage")")
  rm -rf "$stage"
done
ls -l "$out"
