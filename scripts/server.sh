#!/usr/bin/env bash
# Installs what is missing, builds the sync service (server/) and runs it in
# the foreground until Ctrl+C. Arguments go to quillet-server, e.g.
#   scripts/server.sh --port 8080 --release 6.1 --release-build 210 --release-date "1 Mar 2019"
# or over HTTPS with a certificate it makes once in build/ for the names given:
#   scripts/server.sh --port 8443 --tls-self-signed myhost.lan,192.168.1.20
# (--help lists them all); without --db the data live in build/quillet-sync.db.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$here/scripts/setup.sh" >&2
dir="$build/server"
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$here/server" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir" >&2

args=("$@")
case " $* " in
  *" --db "*) ;;
  *) args+=(--db "$build/quillet-sync.db") ;;
esac
exec "$dir/quillet-server" "${args[@]}"
