#!/usr/bin/env bash
# The sync service as it runs when one machine is not enough, in miniature on
# this one: two instances sharing one PostgreSQL database, behind nginx, until
# Ctrl+C. Installs and builds what is missing; prints the address for
# "ServerHost". Usage: scripts/cluster.sh [PORT] (8090 by default).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$here/scripts/setup.sh" >&2
dir="$build/server"
[ -f "$dir/build.ninja" ] || cmake -S "$here/server" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" >&2

free_port() { # the first port from $1 on which nothing listens
  local port=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  echo "$port"
}
front=$(free_port "${1:-8090}")
work=$(mktemp -d /tmp/quillet-cluster.XXXXXX)
pids=()
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
pg_as() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
stop() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pg_as "$pg_bin/pg_ctl" -D "$work/pg" -m fast stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap stop EXIT INT TERM

# The shared database.
mkdir "$work/pg"
[ "$(id -u)" -ne 0 ] || chown postgres "$work" "$work/pg"
pgport=$(free_port 25432)
pg_as "$pg_bin/initdb" -D "$work/pg" -A trust >/dev/null
pg_as "$pg_bin/pg_ctl" -D "$work/pg" -o "-p $pgport -k $work/pg -c listen_addresses=127.0.0.1" -w \
  -l "$work/pg/log" start >/dev/null
pg_as "$pg_bin/createdb" -h 127.0.0.1 -p "$pgport" quillet
pguser=$([ "$(id -u)" -eq 0 ] && echo postgres || id -un)

# Two instances that take the address of each client from nginx.
upstream=""
ports=()
for i in 1 2; do
  port=$(free_port $((front + 10 * i)))
  "$dir/quillet-server" --bind 127.0.0.1 --port "$port" --trusted-proxy 127.0.0.1 \
    --db "postgresql://$pguser@127.0.0.1:$pgport/quillet" >"$work/instance$i.log" 2>&1 &
  pids+=($!)
  upstream+="server 127.0.0.1:$port; "
  ports+=("$port")
  until (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do sleep 0.1; done
done

mkdir "$work/nginx"
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
daemon off;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  client_max_body_size 4m;
  upstream quillet { $upstream keepalive 64; }
  server {
    listen 127.0.0.1:$front;
    location / {
      proxy_pass http://quillet;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_set_header X-Forwarded-For \$remote_addr;
    }
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)
until (exec 3<>"/dev/tcp/127.0.0.1/$front") 2>/dev/null; do sleep 0.1; done
echo "cluster: nginx on 127.0.0.1:$front, instances on ports ${ports[0]} and ${ports[1]}," \
  "PostgreSQL on port $pgport (Ctrl+C stops all)"
wait "${pids[@]}"
