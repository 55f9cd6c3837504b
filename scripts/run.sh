#!/usr/bin/env bash
# Installs what is missing, builds Quillet and starts it under Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$here/scripts/setup.sh"
build_windows x86_64-w64-mingw32 "$build/win64" -DCMAKE_BUILD_TYPE=Debug
ensure_display
ensure_prefix

# The sync service, on the first free local port from 8080, for as long as the
# program runs; the program finds it through the setting "ServerHost".
port=8080
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
"$here/scripts/server.sh" --bind 127.0.0.1 --port "$port" &
service=$!
# Stopped on the way out, as well as what ensure_display started.
previous=$(trap -p EXIT | sed -e "s/^trap -- '//" -e "s/' EXIT\$//")
trap "kill $service 2>/dev/null; $previous" EXIT
until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
  kill -0 "$service" 2>/dev/null || { echo "run: the sync service did not start" >&2; exit 1; }
  sleep 0.2
done
wine reg add 'HKCU\Software\Marrowfield\Quillet' /v ServerHost /t REG_SZ /d "localhost:$port" /f >/dev/null

wine "$build/win64/quillet.exe"
wineserver -w
