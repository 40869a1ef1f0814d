#!/usr/bin/env bash
# The web file manager's folder listing (`webserve uploader`, GET /list?path=/listing/) against
# nginx's JSON directory listing (autoindex_format json, one worker) of the same folder of 10,000
# files on loopback, runs alternating; prints the median times and webserve/nginx (below 1:
# webserve is faster). Run by hand on a release build:
#   apt-get install nginx-light
#   bash bench/list_bench.sh [path/to/webserve] [entries, default 10000] [runs, default 9]
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
webserve=${1:-$bench_root/build/release/tests/tools/webserve/webserve}
entries=${2:-10000}
runs=${3:-9}
[ -x "$webserve" ] || bench_die "no webserve at $webserve: build the release preset first"

share="$bench_work/share"
mkdir -p "$share/listing"
(cd "$share/listing" && seq -f "file-%05g.txt" 1 "$entries" | xargs touch)
bench_start_webserve uploader "$share"
bench_start_nginx "$share" 1 'location /listing/ { autoindex on; autoindex_format json; }'
echo "webserve at $webserve_url, nginx at $nginx_url"

for url in "$webserve_url/list?path=/listing/" "$nginx_url/listing/"; do
  count=$(curl -s "$url" | grep -o '"name"' | wc -l || true)
  [ "$count" -eq "$entries" ] || echo "note: $url lists $count entries (expected $entries)"
done

times_w="" times_n=""
for _ in $(seq "$runs"); do
  times_w+=" $(bench_timed 200 "$webserve_url/list?path=/listing/")"
  times_n+=" $(bench_timed 200 "$nginx_url/listing/")"
done
w=$(bench_median $times_w)
n=$(bench_median $times_n)
printf 'list of %d entries   webserve %.4f s   nginx %.4f s   ratio %s (medians of %d)\n' "$entries" "$w" "$n" \
  "$(bench_ratio "$w" "$n")" "$runs"
