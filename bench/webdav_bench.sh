#!/usr/bin/env bash
# WebDAV of `webserve webdav` against a Debian WebDAV server, both on loopback ports sharing one
# temporary folder, measured with curl in the same run, runs alternating between the two:
#   - PROPFIND Depth 1 of a folder of 10,000 files,
#   - GET of a 1 GiB file,
#   - PUT of a 1 GiB file (a new name each time).
# Prints medians and the ratios webserve/peer of the times (below 1: webserve is faster). Run by
# hand on a release build (cmake --preset release && cmake --build --preset release --target webserve).
# The peer is lighttpd's mod_webdav (apt-get install lighttpd lighttpd-mod-webdav); with
# PEER=apache it is Apache httpd's mod_dav (apt-get install apache2; bench/webdav_apache_bench.sh).
#   bash bench/webdav_bench.sh [path/to/webserve] [file size in MiB, default 1024] [entries, default 10000]
set -euo pipefail
. "$(dirname "$0")/bench_lib.sh"
webserve=${1:-$bench_root/build/release/tests/tools/webserve/webserve}
size_mib=${2:-1024}
entries=${3:-10000}
peer=${PEER:-lighttpd}
rounds_listing=7
rounds_transfer=3
[ -x "$webserve" ] || bench_die "no webserve at $webserve: build the release preset first"

echo "== preparing $entries files and a $size_mib MiB file"
share="$bench_work/share"
mkdir -p "$share/listing"
(cd "$share/listing" && seq -f "file-%05g.txt" 1 "$entries" | xargs touch)
head -c $((size_mib * 1048576)) /dev/urandom >"$share/big.bin"
cp "$share/big.bin" "$bench_work/upload.bin"

bench_start_webserve webdav "$share"
case $peer in
  lighttpd) bench_start_lighttpd "$share" webdav; peer_url=$lighttpd_url ;;
  apache) bench_start_apache "$share"; peer_url=$apache_url ;;
  *) bench_die "PEER is lighttpd or apache" ;;
esac
echo "webserve at $webserve_url, $peer at $peer_url"

# Both answer the same listing (the folder and every file).
for url in "$webserve_url" "$peer_url"; do
  count=$(curl -s -X PROPFIND -H 'Depth: 1' "$url/listing/" | grep -o '<D:href>' | wc -l || true)
  [ "$count" -eq $((entries + 1)) ] || echo "note: $url lists $count entries (expected $((entries + 1)))"
done

report() { # report NAME WEBSERVE-TIMES PEER-TIMES [MiB]
  local w p
  w=$(bench_median $2)
  p=$(bench_median $3)
  if [ -n "${4:-}" ]; then
    printf '%-20s webserve %7.3f s (%5.0f MiB/s)   %-8s %7.3f s (%5.0f MiB/s)   ratio %s\n' "$1" "$w" \
      "$(echo "$4 / $w" | bc -l)" "$peer" "$p" "$(echo "$4 / $p" | bc -l)" "$(bench_ratio "$w" "$p")"
  else
    printf '%-20s webserve %7.3f s                 %-8s %7.3f s                 ratio %s\n' "$1" "$w" "$peer" "$p" \
      "$(bench_ratio "$w" "$p")"
  fi
}

listing_w="" listing_p=""
for _ in $(seq "$rounds_listing"); do
  listing_w+=" $(bench_timed 207 -X PROPFIND -H 'Depth: 1' "$webserve_url/listing/")"
  listing_p+=" $(bench_timed 207 -X PROPFIND -H 'Depth: 1' "$peer_url/listing/")"
done
get_w="" get_p="" put_w="" put_p=""
for round in $(seq "$rounds_transfer"); do
  get_w+=" $(bench_timed 200 "$webserve_url/big.bin")"
  get_p+=" $(bench_timed 200 "$peer_url/big.bin")"
  put_w+=" $(bench_timed 201 -T "$bench_work/upload.bin" "$webserve_url/put-webserve-$round.bin")"
  put_p+=" $(bench_timed 201 -T "$bench_work/upload.bin" "$peer_url/put-peer-$round.bin")"
done
cmp -s "$bench_work/upload.bin" "$share/put-webserve-1.bin" || bench_die "FAIL: the file PUT to webserve differs"

echo "== medians (PROPFIND of $rounds_listing runs, transfers of $rounds_transfer)"
report "PROPFIND depth 1" "$listing_w" "$listing_p"
report "GET $size_mib MiB" "$get_w" "$get_p" "$size_mib"
report "PUT $size_mib MiB" "$put_w" "$put_p" "$size_mib"
