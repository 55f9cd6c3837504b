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
(cd "$build/win64" && ctest --output-on-failure "$@") || status=1
exit $status
