#!/usr/bin/env bash
# Installs everything Quillet needs to build and test on Debian 12, from Debian's
# archive only. Safe to run again: every step checks before it acts.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QUILLET_BUILD:-$here/build}"
deps="$build/deps"

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

packages=(
  mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools
  libz-mingw-w64-dev wine wine64 xvfb xauth x11-utils xdotool imagemagick
  cmake ninja-build nasm googletest g++ dpkg-dev fp-utils-3.2.2 libpng-dev libjpeg62-turbo-dev
  libsqlite3-dev libsodium-dev libssl-dev openssl postgresql libpq-dev nsis zip clang clang-format libclang-rt-14-dev
  wrk nginx curl xxd libgnutls30
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

srclist=/etc/apt/sources.list.d/quillet-src.sources
need_update=0
if [ ! -f "$srclist" ]; then
  sudo_ tee "$srclist" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  sudo_ apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# 32-bit Wine for the 32-bit program's tests (QUILLET_WIN32_TESTS=1), only
# where the kernel runs 32-bit programs: elsewhere wine32 would take over the
# `wine` command and stop 64-bit Wine too.
kernel_runs_i386() {
  local dir rc
  dir=$(mktemp -d)
  printf 'global _start\n_start:\n mov eax, 1\n xor ebx, ebx\n int 0x80\n' >"$dir/probe.asm"
  nasm -f elf32 "$dir/probe.asm" -o "$dir/probe.o" && ld -m elf_i386 "$dir/probe.o" -o "$dir/probe" &&
    "$dir/probe" 2>/dev/null
  rc=$?
  rm -rf "$dir"
  return $rc
}
if [ "${QUILLET_WIN32_TESTS:-0}" = 1 ] && [ ! -x /usr/lib/wine/wine ]; then
  if kernel_runs_i386; then
    echo "setup: installing 32-bit Wine"
    sudo_ dpkg --add-architecture i386
    sudo_ apt-get update -qq
    sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine32
  else
    echo "setup: this kernel cannot run 32-bit programs, so 32-bit Wine is not installed" >&2
  fi
fi

# Static libpng and libjpeg-turbo for both MinGW targets, from Debian's sources.
mkdir -p "$deps/src"
quiet() { # runs a command, showing its output only when it fails
  "$@" >"$deps/last.log" 2>&1 || { cat "$deps/last.log"; return 1; }
}
fetch_source() { # package, glob of its unpacked orig folder
  local pkg=$1 pattern=$2
  if ! compgen -G "$deps/src/$pattern" >/dev/null; then
    (cd "$deps/src" && apt-get source --download-only "$pkg" >/dev/null 2>&1 || {
       sudo_ apt-get update -qq; apt-get source --download-only "$pkg"; })
    local tarball
    tarball=$(ls "$deps/src"/*"$3"*.orig.tar.* | head -n 1)
    tar -xf "$tarball" -C "$deps/src"
  fi
  compgen -G "$deps/src/$pattern" | head -n 1
}

png_src=$(fetch_source libpng1.6 'libpng-1.6*/' 'libpng1.6_')
jpeg_src=$(fetch_source libjpeg-turbo 'libjpeg-turbo-2*/' 'libjpeg-turbo_')

for triple in x86_64-w64-mingw32 i686-w64-mingw32; do
  prefix="$deps/$triple"
  tc="$here/cmake/toolchain-$triple.cmake"
  if [ ! -f "$prefix/lib/libjpeg.a" ]; then
    echo "setup: building libjpeg-turbo for $triple"
    quiet cmake -S "$jpeg_src" -B "$deps/build-jpeg-$triple" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF \
      -DWITH_TURBOJPEG=OFF -Wno-dev
    quiet cmake --build "$deps/build-jpeg-$triple" --target install
  fi
  if [ ! -f "$prefix/lib/libpng16.a" ] && [ ! -f "$prefix/lib/libpng.a" ]; then
    echo "setup: building libpng for $triple"
    quiet cmake -S "$png_src" -B "$deps/build-png-$triple" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DPNG_SHARED=OFF \
      -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -Wno-dev
    quiet cmake --build "$deps/build-png-$triple" --target install
  fi
done
echo "setup: done"
