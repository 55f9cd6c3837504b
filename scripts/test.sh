#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$here/scripts/setup.sh"

# The 32-bit release build must stay warning-free; it cannot run here.
build_windows i686-w64-mingw32 "$build/win32" -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
build_windows x86_64-w64-mingw32 "$build/win64" -DCMAKE_BUILD_TYPE=Debug -DQUILLET_TESTS=ON \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$here/scripts/wine-run.sh"
configure_build "$build/native" -DCMAKE_BUILD_TYPE=Debug -DQUILLET_DEPS_SRC="$build/deps/src"

ensure_display
ensure_prefix
wineserver -p >/dev/null 2>&1 || true   # keep one server for the whole run

status=0
(cd "$build/native" && ctest --output-on-failure) || status=1
# Every fuzz target for a few seconds (scripts/fuzz.sh SECONDS for longer).
"$here/scripts/fuzz.sh" 3 || status=1

# The real sync service (the native build's), for the tests that talk to it.
port=18080
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
rm -f "$build/test-service.db"*
"$build/native/server/quillet-server" --bind 127.0.0.1 --port "$port" --db "$build/test-service.db" \
  2>"$build/test-service.log" &
service=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
export QUILLET_TEST_SERVICE="127.0.0.1:$port"

(cd "$build/win64" && ctest --output-on-failure "$@") || status=1
kill "$service" 2>/dev/null || true

# The installer round trip, with the tested 64-bit build.
makensis -V2 -DARCH=64 -DBUILD="$build/win64" -DOUTFILE="$build/installer-test-setup.exe" \
  "$here/installer/quillet.nsi" && "$here/tests/installer/roundtrip.sh" "$build/installer-test-setup.exe" || status=1
exit $status
