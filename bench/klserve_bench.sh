#!/usr/bin/env bash
# klserve (the runtime's HTTP server loop and file handler) against Debian's nginx: one large
# file fetched over loopback by `curl -o /dev/null`, one stream at a time, three runs each; prints
# the median throughputs and klserve / nginx. Run by hand on a release build; no pass or fail
# beyond a short or failed download.
#
# usage: bench/klserve_bench.sh [klserve] [MiB]       (defaults: the release build's, 1024)
# NGINX_BIN=path picks the nginx binary (default: nginx on PATH, else /usr/sbin/nginx).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
klserve=${1:-$here/../build/release/tests/tools/klserve/klserve}
mib=${2:-1024}
nginx=${NGINX_BIN:-$(command -v nginx || echo /usr/sbin/nginx)}
[ -x "$klserve" ] || { echo "klserve not found: $klserve (cmake --build --preset release)" >&2; exit 1; }
[ -x "$nginx" ] || { echo "nginx not found: $nginx (apt-get install nginx-light)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/klserve-bench-XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/root" "$work/tmp"
size=$((mib * 1048576))
echo "== writing a $mib MiB file"
head -c "$size" /dev/urandom >"$work/root/big"

# The ready line of klserve gives its URL.
"$klserve" "$work/root" 0 --localhost >"$work/klserve.out" 2>"$work/klserve.err" &
pids+=($!)
klserve_url=""
for _ in $(seq 1 100); do
  klserve_url=$(sed -n 's#^listening on \(.*\)/$#\1#p' "$work/klserve.out")
  [ -z "$klserve_url" ] || break
  sleep 0.1
done
[ -n "$klserve_url" ] || { echo "klserve did not start:" >&2; cat "$work/klserve.err" >&2; exit 1; }

# nginx in the foreground, one process, on a port the kernel just handed out.
nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/nginx.err;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  default_type application/octet-stream;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
  server { listen 127.0.0.1:$nginx_port; root $work/root; }
}
CONF
"$nginx" -p "$work" -c "$work/nginx.conf" -e "$work/nginx.err" &
pids+=($!)
nginx_url="http://127.0.0.1:$nginx_port"
for _ in $(seq 1 100); do
  curl -s -o /dev/null "$nginx_url/" && break
  sleep 0.1
done

# median_speed URL: the median of three downloads, in bytes per second.
median_speed() {
  local speeds=() run got speed
  for run in 1 2 3; do
    read -r got speed < <(curl -s -o /dev/null -w '%{size_download} %{speed_download}\n' "$1/big")
    [ "$got" = "$size" ] || { echo "short download from $1: $got of $size bytes" >&2; exit 1; }
    speeds+=("$speed")
  done
  printf '%s\n' "${speeds[@]}" | sort -g | sed -n 2p
}

echo "== fetching $mib MiB three times from each server"
klserve_speed=$(median_speed "$klserve_url")
nginx_speed=$(median_speed "$nginx_url")
awk -v k="$klserve_speed" -v n="$nginx_speed" 'BEGIN {
  printf "klserve: %.0f MiB/s\nnginx:   %.0f MiB/s\nklserve/nginx: %.2f\n", k / 1048576, n / 1048576, k / n
}'
