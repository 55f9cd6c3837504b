#!/usr/bin/env bash
# Fuzzes every reader of outside data with clang's libFuzzer, ASan and UBSan:
# the PNG and JPEG decoders, the HTTP reply reader with its key=value readers,
# the readers of the sync service's replies with the date reader, the
# service's encodings as round trips, the text form of sealed clip parts,
# and the service's request and form parser. scripts/test.sh runs each for a few seconds; needs clang and
# libclang-rt-14-dev and the sources that scripts/setup.sh unpacks.
#
# libpng and libjpeg-turbo are built here (once) from those sources with the
# same instrumentation: against the uninstrumented system libraries the
# fuzzer sees only our own few branches, and ASan misses the libraries'
# writes into our pixel buffers.
#
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# Seeds: fuzz/seeds/<target> and the libraries' test images. The corpora
# grow in build/fuzz/corpus-<target>; crashing inputs land in build/fuzz,
# each target's output in build/fuzz/<target>.log.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

seconds=${1:-60}
out="$build/fuzz"
libs="$out/libs"
png_src=$(compgen -G "$build/deps/src/libpng-1.6*/" | head -n 1) || { echo "run scripts/setup.sh first"; exit 1; }
jpeg_src=$(compgen -G "$build/deps/src/libjpeg-turbo-*/" | head -n 1) || { echo "run scripts/setup.sh first"; exit 1; }

sanitize="-g -O1 -fsanitize=address,undefined -fno-sanitize-recover=all"
build_lib() { # source folder, name, cmake arguments...
  local src=$1 name=$2; shift 2
  echo "fuzz: building instrumented $name"
  cmake -S "$src" -B "$out/build-$name" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_BUILD_TYPE=None \
    -DCMAKE_C_FLAGS="$sanitize -fsanitize=fuzzer-no-link" -DCMAKE_INSTALL_PREFIX="$libs" -Wno-dev "$@" >/dev/null
  cmake --build "$out/build-$name" --target install >/dev/null
}
mkdir -p "$out"
[ -f "$libs/lib/libpng16.a" ] || build_lib "$png_src" png -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
# Without SIMD every pixel write goes through instrumented C.
[ -f "$libs/lib/libjpeg.a" ] || build_lib "$jpeg_src" jpeg -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF

flags=(-std=c++17 $sanitize -fsanitize=fuzzer -I"$here/src" -I"$here/server" -I"$libs/include")
build_target() { # target, sources and libraries...: built again only when a source changed
  local bin="$out/fuzz_$1"; shift
  if [ ! -f "$bin" ] || [ -n "$(find "$here/src" "$here/server" "$here/fuzz" "${BASH_SOURCE[0]}" -newer "$bin" \
       \( -name '*.cpp' -o -name '*.h' -o -name fuzz.sh \) -print -quit)" ]; then
    clang++ "${flags[@]}" "$@" -o "$bin"
  fi
}
build_target pngdecode "$here/fuzz/fuzz_pngdecode.cpp" "$here/src/viewer/pngdecode.cpp" "$libs/lib/libpng16.a" -lz
build_target jpegdecode "$here/fuzz/fuzz_jpegdecode.cpp" "$here/src/viewer/jpegdecode.cpp" "$libs/lib/libjpeg.a"
build_target request "$here/fuzz/fuzz_request.cpp" "$here/server/request.cpp"
build_target httpreply "$here/fuzz/fuzz_httpreply.cpp" "$here/src/net/httpreply.cpp" "$here/src/util/safefns.cpp"
build_target syncreply "$here/fuzz/fuzz_syncreply.cpp" "$here/src/cloud/wire.cpp" "$here/src/util/safefns.cpp" \
  "$here/src/clippings/clipentry.cpp"
build_target syncencode "$here/fuzz/fuzz_syncencode.cpp" "$here/src/cloud/wire.cpp" "$here/src/util/safefns.cpp"
build_target sealtext "$here/fuzz/fuzz_sealtext.cpp" "$here/src/cloud/sealtext.cpp" "$here/src/cloud/wire.cpp" \
  "$here/src/util/safefns.cpp"

mkdir -p "$out/seeds-pngdecode" "$out/seeds-jpegdecode"
find "$png_src/contrib/pngsuite" "$png_src/contrib/testpngs" -name '*.png' -exec cp -u {} "$out/seeds-pngdecode" \;
cp -u "$jpeg_src"/testimages/*.jpg "$out/seeds-jpegdecode"

status=0
run_target() { # target, seed folder, libFuzzer options...
  local name=$1 seeds=$2; shift 2
  mkdir -p "$out/corpus-$name"
  if "$out/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$out/$name-" \
       -print_final_stats=1 "$@" "$out/corpus-$name" "$seeds" >"$out/$name.log" 2>&1; then
    echo "fuzz: $name: $(grep -o 'DONE .*' "$out/$name.log" | tail -n 1)," \
      "$(grep -o 'number_of_executed_units: [0-9]*' "$out/$name.log")"
  else
    tail -n 40 "$out/$name.log"
    echo "fuzz: $name FAILED, see $out/$name.log"
    status=1
  fi
}
# A picture may take 256 MiB of pixels; any single allocation beyond that
# (such as a chunk length taken at its word) counts as a crash.
run_target pngdecode "$out/seeds-pngdecode" -malloc_limit_mb=300
run_target jpegdecode "$out/seeds-jpegdecode" -malloc_limit_mb=300
# The first two bytes of an HTTP reply are the body size and the largest
# receive; the first byte of a sync reply the size of a data destination; the
# first byte of an encoded text the length of a rotation key, its bytes follow.
for name in httpreply syncreply syncencode sealtext request; do
  run_target "$name" "$here/fuzz/seeds/$name"
done
exit $status
