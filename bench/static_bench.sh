#!/usr/bin/env bash
# File serving of `webserve static` against nginx (sendfile on, tcp_nopush off) and lighttpd, all
# on loopback serving one temporary folder, measured in the same run with runs alternating
# between the servers:
#   - one download of a 1 GiB file (curl -o /dev/null), and eight at once;
#   - 4 KiB GETs with "Connection: close" from 50 clients (wrk), against nginx with one worker and
#     with as many workers as cores: requests/s, p99 latency, socket errors and time-outs;
#   - the same from 1,000 clients: time-outs.
# Prints medians and the ratios webserve/peer (above 1: webserve is faster). Run by hand on a
# release build (cmake --preset release && cmake --build --preset release --target webserve):
#   apt-get install nginx-light lighttpd wrk
#   bash bench/static_bench.sh [path/to/webserve] [MiB, default 1024] [rounds, default 3] [seconds per load run, default 5]
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
webserve=${1:-$bench_root/build/release/tests/tools/webserve/webserve}
mib=${2:-1024}
rounds=${3:-3}
seconds=${4:-5}
[ -x "$webserve" ] || bench_die "no webserve at $webserve: build the release preset first"
bench_need wrk wrk
cores=$(nproc)

root="$bench_work/root"
mkdir -p "$root"
echo "== writing a $mib MiB file and a 4 KiB file"
head -c $((mib * 1048576)) /dev/urandom >"$root/big.bin"
head -c 4096 /dev/urandom >"$root/small.bin"

# Every load client comes from 127.0.0.1: the share of one peer address is lifted to let them all in,
# as the peers allow them.
bench_start_webserve static "$root" --max-per-peer 4096
bench_start_nginx "$root" 1
nginx1_url=$nginx_url
bench_start_nginx "$root" "$cores"
nginxn_url=$nginx_url
bench_start_lighttpd "$root"
echo "webserve $webserve_url, nginx (1 worker) $nginx1_url, nginx ($cores workers) $nginxn_url, lighttpd $lighttpd_url"

size=$((mib * 1048576))
# one_stream URL: bytes per second of one download.
one_stream() {
  local got speed
  read -r got speed < <(curl -s -o /dev/null -w '%{size_download} %{speed_download}\n' "$1/big.bin")
  [ "$got" = "$size" ] || bench_die "short download from $1: $got of $size bytes"
  echo "$speed"
}

# eight_streams URL: bytes per second of eight downloads at once (total bytes over wall time).
eight_streams() {
  local start end i pids=() sizes="$bench_work/sizes"
  : >"$sizes"
  start=$(date +%s.%N)
  for i in 1 2 3 4 5 6 7 8; do
    curl -s -o /dev/null -w '%{size_download}\n' "$1/big.bin" >>"$sizes" &
    pids+=($!)
  done
  wait "${pids[@]}"
  end=$(date +%s.%N)
  [ "$(awk -v s="$size" '$1 == s' "$sizes" | wc -l)" = 8 ] || bench_die "a short download among eight from $1"
  awk -v s="$size" -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", 8 * s / (b - a) }'
}

# load URL CLIENTS: "requests/s p99-ms errors timeouts" of wrk with "Connection: close" on the 4 KiB file.
load() {
  local threads=$((cores < 8 ? cores : 8))
  [ "$2" -ge "$threads" ] || threads=$2
  wrk -t"$threads" -c"$2" -d"${seconds}s" --timeout 2s --latency -H 'Connection: close' "$1/small.bin" 2>&1 |
    awk '
      function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /m$/) return v * 60000; if (v ~ /s$/) return v * 1000; return v }
      /^ +99%/ { p99 = ms($2) }
      /Socket errors/ { gsub(",", ""); errors = $4 + $6 + $8; timeouts = $10 }
      /Non-2xx/ { errors += $NF }
      /^Requests\/sec/ { rps = $2 }
      END { printf "%.0f %.2f %d %d\n", rps, p99, errors, timeouts }'
}

declare -A results
# record NAME SERVER VALUE: appends one value to results[NAME,SERVER].
record() {
  local name=$1 server=$2 value=$3
  results[$name,$server]="${results[$name,$server]:-} $value"
}

for round in $(seq 1 "$rounds"); do
  echo "== round $round of $rounds"
  for pair in "webserve $webserve_url" "nginx $nginx1_url" "lighttpd $lighttpd_url"; do
    set -- $pair
    record one "$1" "$(one_stream "$2")"
    record eight "$1" "$(eight_streams "$2")"
  done
  for pair in "webserve $webserve_url" "nginx1 $nginx1_url" "nginxN $nginxn_url"; do
    set -- $pair
    read -r rps p99 errors timeouts < <(load "$2" 50)
    record rps50 "$1" "$rps"
    record p99_50 "$1" "$p99"
    record err50 "$1" "$((errors + timeouts))"
    read -r rps p99 errors timeouts < <(load "$2" 1000)
    record rps1000 "$1" "$rps"
    record timeouts1000 "$1" "$timeouts"
    record err1000 "$1" "$errors"
  done
done

med() { bench_median ${results[$1,$2]}; }
sum() { echo ${results[$1,$2]} | tr ' ' '\n' | awk '{ s += $1 } END { print s + 0 }'; }
mibs() { awk -v v="$1" 'BEGIN { printf "%.0f", v / 1048576 }'; }

echo
echo "== results (medians of $rounds rounds)"
w=$(med one webserve); n=$(med one nginx); l=$(med one lighttpd)
printf '%s MiB, one stream  webserve %5s MiB/s  nginx %5s MiB/s  lighttpd %5s MiB/s  ratio/nginx %s  ratio/lighttpd %s\n' \
  "$mib" "$(mibs "$w")" "$(mibs "$n")" "$(mibs "$l")" "$(bench_ratio "$w" "$n")" "$(bench_ratio "$w" "$l")"
w=$(med eight webserve); n=$(med eight nginx); l=$(med eight lighttpd)
printf '%s MiB, 8 streams   webserve %5s MiB/s  nginx %5s MiB/s  lighttpd %5s MiB/s  ratio/nginx %s  ratio/lighttpd %s\n' \
  "$mib" "$(mibs "$w")" "$(mibs "$n")" "$(mibs "$l")" "$(bench_ratio "$w" "$n")" "$(bench_ratio "$w" "$l")"
w=$(med rps50 webserve); n1=$(med rps50 nginx1); nn=$(med rps50 nginxN)
printf '4 KiB close, 50 clients  webserve %6s req/s p99 %s ms errors %s | nginx 1 worker %6s req/s p99 %s ms | nginx %s workers %6s req/s p99 %s ms\n' \
  "$w" "$(med p99_50 webserve)" "$(sum err50 webserve)" "$n1" "$(med p99_50 nginx1)" "$cores" "$nn" "$(med p99_50 nginxN)"
printf '   ratio/nginx 1 worker %s  ratio/nginx %s workers %s\n' "$(bench_ratio "$w" "$n1")" "$cores" "$(bench_ratio "$w" "$nn")"
printf '4 KiB close, 1000 clients  webserve %6s req/s time-outs %s errors %s | nginx 1 worker %6s req/s time-outs %s | nginx %s workers %6s req/s time-outs %s\n' \
  "$(med rps1000 webserve)" "$(sum timeouts1000 webserve)" "$(sum err1000 webserve)" "$(med rps1000 nginx1)" \
  "$(sum timeouts1000 nginx1)" "$cores" "$(med rps1000 nginxN)" "$(sum timeouts1000 nginxN)"
