#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$here/scripts/setup.sh"

# The 32-bit release build, its tests included, must stay warning-free.
build_windows i686-w64-mingw32 "$build/win32" -DCMAKE_BUILD_TYPE=Release -DQUILLET_TESTS=ON \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$here/scripts/wine-run.sh"
build_windows x86_64-w64-mingw32 "$build/win64" -DCMAKE_BUILD_TYPE=Debug -DQUILLET_TESTS=ON \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DCMAKE_CROSSCOMPILING_EMULATOR="$here/scripts/wine-run.sh"
configure_build "$build/native" -DCMAKE_BUILD_TYPE=Debug -DQUILLET_DEPS_SRC="$build/deps/src"

ensure_display
ensure_prefix
wineserver -p >/dev/null 2>&1 || true   # keep one server for the whole run

status=0
# The sources keep the layout of .clang-format (scripts/format.sh applies it).
(cd "$here" && git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror) || status=1
# No module includes one of its own layer or above (cmake/layers.txt).
"$here/scripts/layers.sh" || status=1

# A PostgreSQL server of this run's own for the service's tests on that
# store: as the postgres user when run as root (initdb refuses root), on a
# private port, stopped once the native tests are done.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
pg_as() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
pgdata=$(mktemp -d /tmp/quillet-pg.XXXXXX)
[ "$(id -u)" -ne 0 ] || chown postgres "$pgdata"
pgport=25432
while (exec 3<>"/dev/tcp/127.0.0.1/$pgport") 2>/dev/null; do pgport=$((pgport + 1)); done
pg_as "$pg_bin/initdb" -D "$pgdata" -A trust >/dev/null
pg_as "$pg_bin/pg_ctl" -D "$pgdata" -o "-p $pgport -k $pgdata -c listen_addresses=127.0.0.1" -w \
  -l "$pgdata/log" start >/dev/null
pg_as "$pg_bin/createdb" -h 127.0.0.1 -p "$pgport" quillet_test
pguser=$([ "$(id -u)" -eq 0 ] && echo postgres || id -un)
export QUILLET_TEST_PG="postgresql://$pguser@127.0.0.1:$pgport/quillet_test"
(cd "$build/native" && ctest --output-on-failure) || status=1
pg_as "$pg_bin/pg_ctl" -D "$pgdata" -m fast stop >/dev/null || true
rm -rf "$pgdata"
unset QUILLET_TEST_PG
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
# Its database, for the tests that look at what it stores.
QUILLET_TEST_SERVICE_DB="$(winepath -w "$build/test-service.db")"
export QUILLET_TEST_SERVICE_DB
# The same service over HTTPS on the same database, with a certificate it
# makes itself (Wine's Schannel needs GnuTLS, which scripts/setup.sh
# installs), for the client's TLS tests.
tlsport=$((port + 1))
while (exec 3<>"/dev/tcp/127.0.0.1/$tlsport") 2>/dev/null; do tlsport=$((tlsport + 1)); done
rm -f "$build"/test-tls-*.pem
"$build/native/server/quillet-server" --bind 127.0.0.1 --port "$tlsport" --db "$build/test-service.db" \
  --tls-cert "$build/test-tls-cert.pem" --tls-key "$build/test-tls-key.pem" --tls-self-signed localhost,127.0.0.1 \
  >"$build/test-tls-service.out" 2>"$build/test-tls-service.log" &
tls=$!
for _ in $(seq 100); do grep -q listening "$build/test-tls-service.out" 2>/dev/null && break; sleep 0.1; done
export QUILLET_TEST_TLS_SERVICE="127.0.0.1:$tlsport"
QUILLET_TEST_TLS_FINGERPRINT=$(sed -n 's/.*certificate SHA-256 fingerprint //p' "$build/test-tls-service.out")
export QUILLET_TEST_TLS_FINGERPRINT

(cd "$build/win64" && ctest --output-on-failure "$@") || status=1
# The same suite on the 32-bit program, under 32-bit Wine in a prefix of its
# own, when asked for (QUILLET_WIN32_TESTS=1) and where the kernel runs
# 32-bit programs (scripts/setup.sh installs 32-bit Wine then).
if [ "${QUILLET_WIN32_TESTS:-0}" = 1 ]; then
  if [ -x /usr/lib/wine/wine ]; then
    (export QUILLET_WINEPREFIX="$build/wineprefix32" WINEPREFIX="$build/wineprefix32" WINEARCH=win32
     ensure_prefix && cd "$build/win32" && ctest --output-on-failure "$@"; rc=$?; wineserver -k; exit $rc) ||
      status=1
  else
    echo "test: no 32-bit Wine here, so the 32-bit suite did not run" >&2
  fi
fi
kill "$service" "$tls" 2>/dev/null || true

# The installer round trip, with the tested 64-bit build.
makensis -V2 -DARCH=64 -DBUILD="$build/win64" -DOUTFILE="$build/installer-test-setup.exe" \
  "$here/installer/quillet.nsi" && "$here/tests/installer/roundtrip.sh" "$build/installer-test-setup.exe" || status=1
# Non-blank lines of the tests (tests/, fuzz/) against those of the code.
lines() { (cd "$here" && git ls-files "$@" | xargs cat | grep -cv '^[[:space:]]*$'); }
echo "test lines: $(lines 'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp') against $(lines 'src/*.cpp' 'src/*.h' 'server/*.cpp' 'server/*.h') of code"
exit $status
