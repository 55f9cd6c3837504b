#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (bench/) and prints one
# table: every row measured in this run beside its baseline, as a ratio and
# as this machine's figures. A missed target is reported, never a failure.
# Runs the Windows benchmarks in the project's Wine prefix; the program's
# settings there are put back afterwards. Takes about fifteen minutes.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

work="$build/bench"
data="$work/data"
figures="$work/figures"
log="$work/build.log"
mkdir -p "$data" "$work/nginx/root"

quiet() { # runs a command, showing its output only when it fails
  "$@" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
}
cmake_release() { # source folder, build folder, extra cmake arguments...
  local src=$1 dir=$2; shift 2
  [ -f "$dir/build.ninja" ] || quiet cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
  quiet cmake --build "$dir"
}

quiet "$here/scripts/setup.sh"
quiet build_windows x86_64-w64-mingw32 "$work/win64" -DCMAKE_BUILD_TYPE=Release -DQUILLET_BENCH=ON
cmake_release "$here/bench/native" "$work/native"
cmake_release "$here/server" "$build/server"

# Inputs, made once: random bytes, and a photograph's worth of detail (a
# gradient with noise) at 4000 x 3000 and at 800 x 600.
[ -f "$data/random64.bin" ] || head -c 64M /dev/urandom >"$data/random64.bin"
if [ ! -f "$data/photo.jpg" ]; then
  convert -size 4000x3000 gradient:'#2a5f8f-#e8c07a' -attenuate 0.5 +noise Gaussian -depth 8 "$data/photo.ppm"
  convert "$data/photo.ppm" "$data/photo.png"
  convert "$data/photo.ppm" -resize 800x600 "$data/small.png"
  convert "$data/photo.ppm" -quality 90 "$data/photo.jpg"
  rm "$data/photo.ppm"
fi

ensure_display
ensure_prefix
wineserver -p >/dev/null 2>&1 || true

free_port() { # the first free local port from $1
  local port=$1
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  echo "$port"
}
wait_port() {
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done
  echo "bench: nothing listens on port $1" >&2
  return 1
}

# The program's settings in this prefix are saved, since every benchmark
# starts from a clean key, and put back on the way out with the services
# stopped.
key='HKCU\Software\Marrowfield\Quillet'
saved="$work/settings.reg"
rm -f "$saved"
wine reg export "$key" "$(winepath -w "$saved")" /y >/dev/null 2>&1 || true
pids=()
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  wine reg delete "$key" /f >/dev/null 2>&1 || true
  [ ! -f "$saved" ] || wine reg import "$(winepath -w "$saved")" >/dev/null 2>&1 || true
}
previous=$(trap -p EXIT | sed -e "s/^trap -- '//" -e "s/' EXIT\$//")
trap "cleanup; $previous" EXIT

service_port=$(free_port 18180)
rm -f "$work/service.db"*
"$build/server/quillet-server" --bind 127.0.0.1 --port "$service_port" --db "$work/service.db" \
  >"$work/service.log" 2>&1 &
pids+=($!)
wait_port "$service_port"
# The same service over HTTPS on the database the first has made, with a
# certificate made once.
tls_port=$(free_port $((service_port + 1)))
"$build/server/quillet-server" --bind 127.0.0.1 --port "$tls_port" --db "$work/service.db" \
  --tls-self-signed 127.0.0.1 --tls-cert "$work/tls-cert.pem" --tls-key "$work/tls-key.pem" \
  >"$work/service-tls.log" 2>&1 &
pids+=($!)
chunked_port=$(free_port $((tls_port + 1)))
"$work/native/quillet_bench_native" serve-chunked "$chunked_port" &
pids+=($!)
wait_port "$tls_port"
wait_port "$chunked_port"

: >"$figures"
figure() { echo "$1 $2" >>"$figures"; }
windows() { # a failed benchmark shows as failed in its row
  wine "$work/win64/quillet_bench.exe" "$@" | tr -d '\r' >>"$figures" || echo "bench: $1 failed" >&2
}
least() { sort -g | head -n 1; }
seconds_of() { # runs a command and prints its wall time in seconds
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.6f\n", ns / 1e9 }'
}

start_load=$(cut -d' ' -f1-3 /proc/loadavg)
echo "bench: measuring, about fifteen minutes (load $start_load)" >&2
windows convert
windows undo
windows hexdump "$(winepath -w "$data/random64.bin")"
"$work/native/quillet_bench_native" hexdump "$data/random64.bin" >>"$figures"
figure hexdump.base "$(for _ in 1 2 3; do seconds_of xxd "$data/random64.bin"; done | least)"
windows pictures "$(winepath -w "$data/photo.png")" "$(winepath -w "$data/photo.jpg")" 4000
windows http "127.0.0.1:$chunked_port" /chunked
figure http.base "$(for _ in $(seq 30); do
  curl -s -o /dev/null -w '%{time_total}\n' "http://127.0.0.1:$chunked_port/chunked?"; done | least)"
windows sync "127.0.0.1:$service_port"
windows sync "https://127.0.0.1:$tls_port" "$(sed -n 's/.*SHA-256 fingerprint //p' "$work/service-tls.log")" sync.tls
windows seal
figure seal.base "$(openssl speed -evp aes-256-gcm -bytes 1048576 -seconds 2 2>/dev/null |
  awk '$1 == "AES-256-GCM" { printf "%.6f\n", 1048576 / ($2 * 1000) }')"
figure seal.derive.base "$(python3 -c 'import hashlib, time
def once():
    start = time.perf_counter()
    hashlib.pbkdf2_hmac("sha256", b"Bench4Seal2026xyz", b"quillet-clippings-v1:bench", 600000, 32)
    return time.perf_counter() - start
print("%.6f" % min(once() for _ in range(3)))')"

# The service and nginx under wrk, nginx serving the service's own reply
# bytes as static files.
sign_in() { # sync url, account name: sets $account (UserID and Token) and $clip, a 4000-byte clip
  local said
  said=$(curl -s -d "act=open&name=$2&key=Bench4Wrk2026xyz" "$1")
  account=$(sed -n 's:.*<UserID>\([0-9]*\)</UserID><Token>\([0-9a-f]*\)<.*:UserID=\1\&Token=\2:p' <<<"$said")
  clip=$(curl -s -d "act=create&$account&ClipName=Wrk" "$1" | sed -n 's/^DataID=\([0-9]*\).*/\1/p')
  curl -s -d "act=setdata&$account&DataID=$clip&field=ClipUTF&data=$(head -c 4000 /dev/zero | tr '\0' w)" \
    "$1" >/dev/null
}
sync_url="http://127.0.0.1:$service_port/software/quillet/qlsync.php"
sign_in "$sync_url" "wrk$$"
declare -A queries=([list]="act=list&$account" [getdata]="act=getdata&$account&DataID=$clip&field=ClipUTF")
for act in list getdata; do curl -s "$sync_url?${queries[$act]}" >"$work/nginx/root/$act"; done
nginx_port=$(free_port $((chunked_port + 1)))
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  default_type text/plain;
  client_body_temp_path $work/nginx/tmp;
  server { listen 127.0.0.1:$nginx_port; root $work/nginx/root; }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2>"$work/nginx/stderr.log" &
pids+=($!)
wait_port "$nginx_port"
wrk_figures() { # name, url, wrk options...: requests per second, p99 latency in seconds, errors
  wrk -t2 -c64 -d10s --latency "${@:3}" "$2" | awk -v name="$1" '
    /Requests\/sec:/ { rps = $2 }
    $1 == "99%" { p99 = $2 + 0; if ($2 ~ /us$/) p99 /= 1e6; else if ($2 ~ /ms$/) p99 /= 1e3 }
    /Socket errors:/ { gsub(/[^0-9 ]/, ""); errors += $1 + $2 + $3 + $4 }
    /Non-2xx/ { errors += $NF }
    END { printf "%s.rps %s\n%s.p99 %s\n%s.errors %d\n", name, rps, name, p99, name, errors }'
}
for act in list getdata; do
  wrk_figures "wrk.$act" "$sync_url?${queries[$act]}" >>"$figures"
  wrk_figures "wrk.$act.base" "http://127.0.0.1:$nginx_port/$act" >>"$figures"
done
# A new connection, and over TLS a new handshake, for every request.
wrk_figures wrk.tls "https://127.0.0.1:$tls_port/software/quillet/qlsync.php?${queries[list]}" \
  -H "Connection: close" >>"$figures"
wrk_figures wrk.tls.base "$sync_url?${queries[list]}" -H "Connection: close" >>"$figures"

# The same on PostgreSQL: one instance, then two behind nginx (scripts/cluster.sh).
cluster_log="$work/cluster.log"
"$here/scripts/cluster.sh" "$(free_port $((nginx_port + 1)))" >"$cluster_log" 2>&1 &
pids+=($!)
for _ in $(seq 300); do grep -q '^cluster:' "$cluster_log" && break; sleep 0.1; done
read -r front first <<<"$(sed -n 's/^cluster: nginx on [0-9.]*:\([0-9]*\), instances on ports \([0-9]*\).*/\1 \2/p' "$cluster_log")"
if [ -n "${front:-}" ]; then
  sign_in "http://127.0.0.1:$front/software/quillet/qlsync.php" "pg$$"
  curl -s "http://127.0.0.1:$front/software/quillet/qlsync.php?act=list&$account" >"$work/nginx/root/pglist"
  wrk_figures wrk.pg "http://127.0.0.1:$first/software/quillet/qlsync.php?act=list&$account" >>"$figures"
  wrk_figures wrk.cluster "http://127.0.0.1:$front/software/quillet/qlsync.php?act=list&$account" >>"$figures"
  wrk_figures wrk.pg.base "http://127.0.0.1:$nginx_port/pglist" >>"$figures"
else
  echo "bench: the cluster did not start; see $cluster_log" >&2
fi

windows startup "$(winepath -w "$work/win64/quillet.exe")"
windows paste "$(winepath -w "$work/win64/quillet.exe")"
windows memory "$(winepath -w "$data/small.png")" 1000

awk -v cores="$(nproc)" -v start="$start_load" -v end="$(cut -d' ' -f1-3 /proc/loadavg)" \
  -f "$here/bench/table.awk" "$figures"
