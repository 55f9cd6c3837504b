#!/usr/bin/env bash
# Installs what is missing, builds Quillet and starts it under Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$here/scripts/setup.sh"
build_windows x86_64-w64-mingw32 "$build/win64" -DCMAKE_BUILD_TYPE=Debug
ensure_display
ensure_prefix
wine "$build/win64/quillet.exe"
wineserver -w
