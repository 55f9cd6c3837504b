#!/usr/bin/env bash
# Fuzzes the PNG and JPEG decoders with clang's libFuzzer, ASan and UBSan,
# seeded with the libraries' own test images, the HTTP reply reader, the
# sync service's request parser, and the program's readers and encodings of
# that service's replies. Not part of scripts/test.sh; needs clang and
# libclang-rt-14-dev (sudo apt-get install clang libclang-rt-14-dev) and the
# sources that scripts/setup.sh unpacks.
#
# libpng and libjpeg-turbo are built here from those sources with the same
# instrumentation: against the uninstrumented system libraries the fuzzer
# sees only our own few branches, and ASan misses the libraries' writes into
# our pixel buffers.
#
# Usage: scripts/fuzz.sh [seconds per target, default 60]
# The corpora grow in build/fuzz/corpus-*; crashing inputs land in build/fuzz.
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
[ -f "$libs/lib/libpng16.a" ] || build_lib "$png_src" png -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
# Without SIMD every pixel write goes through instrumented C.
[ -f "$libs/lib/libjpeg.a" ] || build_lib "$jpeg_src" jpeg -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF

flags=(-std=c++17 $sanitize -fsanitize=fuzzer -I"$here/src" -I"$libs/include")
clang++ "${flags[@]}" "$here/fuzz/fuzz_pngdecode.cpp" "$here/src/viewer/pngdecode.cpp" "$libs/lib/libpng16.a" -lz \
  -o "$out/fuzz_pngdecode"
clang++ "${flags[@]}" "$here/fuzz/fuzz_jpegdecode.cpp" "$here/src/viewer/jpegdecode.cpp" "$libs/lib/libjpeg.a" \
  -o "$out/fuzz_jpegdecode"
clang++ "${flags[@]}" -I"$here/server" "$here/fuzz/fuzz_request.cpp" "$here/server/request.cpp" -o "$out/fuzz_request"

mkdir -p "$out/seeds-png" "$out/seeds-jpeg" "$out/corpus-png" "$out/corpus-jpeg"
find "$png_src/contrib/pngsuite" "$png_src/contrib/testpngs" -name '*.png' -exec cp {} "$out/seeds-png" \;
cp "$jpeg_src"/testimages/*.jpg "$out/seeds-jpeg"
mkdir -p "$out/seeds-request" "$out/corpus-request"
printf 'GET /software/quillet/qlsync.php?Quillet=6.0.200&act=list&UserID=1234567 HTTP/1.1\r\nHost: localhost\r\n\r\n' \
  >"$out/seeds-request/get"
printf 'POST /software/quillet/qlsync.php HTTP/1.1\r\nHost: localhost\r\nContent-Length: 24\r\n\r\nact=setdata&data=a%%24b+c\r\n' \
  >"$out/seeds-request/post"

# A picture may take 256 MiB of pixels; any single allocation beyond that
# (such as a chunk length taken at its word) counts as a crash.
status=0
for kind in png jpeg; do
  echo "fuzz: $kind for $seconds s"
  "$out/fuzz_${kind}decode" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=300 -timeout=10 \
    -artifact_prefix="$out/$kind-" -print_final_stats=1 "$out/corpus-$kind" "$out/seeds-$kind" || status=1
done
echo "fuzz: request for $seconds s"
"$out/fuzz_request" -max_total_time="$seconds" -timeout=10 -artifact_prefix="$out/request-" -print_final_stats=1 \
  "$out/corpus-request" "$out/seeds-request" || status=1

# The HTTP reply reader: seeded with a chunked and a plain reply (the first
# two bytes are the body size and the largest receive).
clang++ "${flags[@]}" "$here/fuzz/fuzz_httpreply.cpp" "$here/src/net/httpreply.cpp" "$here/src/util/safefns.cpp" \
  -o "$out/fuzz_httpreply"
mkdir -p "$out/seeds-http" "$out/corpus-http"
printf '\x40\x03HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1a;x\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n' \
  >"$out/seeds-http/chunked"
printf '\x10\x07HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nVbuild=200\r\nRelDate=1 Jan\r\n' >"$out/seeds-http/plain"
echo "fuzz: http reply for $seconds s"
"$out/fuzz_httpreply" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$out/http-" \
  -print_final_stats=1 "$out/corpus-http" "$out/seeds-http" || status=1

# The program's readers of the sync service's replies (the first byte is the
# size of a data destination) and its encodings as round trips (the first
# byte is the length of a rotation key, its bytes follow).
for target in syncreply syncencode; do
  clang++ "${flags[@]}" "$here/fuzz/fuzz_$target.cpp" "$here/src/cloud/wire.cpp" "$here/src/util/safefns.cpp" \
    -o "$out/fuzz_$target"
  mkdir -p "$out/seeds-$target" "$out/corpus-$target"
done
printf '\x20<UserID>5</UserID><Check>\r\nlenUTF=4\r\n</Check>\r\n<Data>\r\nClipUTF=a$$b$RN$c\r\n</Data>\r\n<Clips>\r\n17=Greeting;2018-02-12 09:05:00;A\r\n</Clips>\r\n' \
  >"$out/seeds-syncreply/reply"
printf '\x03abc$ \r\nx$$RN%%=&\xc3\xa9' >"$out/seeds-syncencode/text"
for target in syncreply syncencode; do
  echo "fuzz: $target for $seconds s"
  "$out/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$out/$target-" \
    -print_final_stats=1 "$out/corpus-$target" "$out/seeds-$target" || status=1
done
exit $status
