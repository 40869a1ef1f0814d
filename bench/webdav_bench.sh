#!/usr/bin/env bash
# WebDAV throughput of `webserve webdav` against lighttpd's mod_webdav, both on loopback ports
# sharing one temporary folder, measured with curl in the same run:
#   - PROPFIND Depth 1 of a folder of 10,000 files,
#   - GET of a 1 GiB file,
#   - PUT of a 1 GiB file (a new name each time).
# Each is repeated (the median is shown) and the ratio webserve/lighttpd is printed (below 1: the
# server is faster). Run by hand after `cmake --preset release && cmake --build --preset release`
# with lighttpd and its WebDAV module installed (apt-get install lighttpd lighttpd-mod-webdav):
#   bash bench/webdav_bench.sh [path/to/webserve] [file size in MiB, default 1024] [entries, default 10000]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
webserve=${1:-$root/build/release/tests/tools/webserve/webserve}
size_mib=${2:-1024}
entries=${3:-10000}
repeat_listing=5
repeat_transfer=3

[ -x "$webserve" ] || { echo "no webserve at $webserve: build the release preset first" >&2; exit 1; }
lighttpd=$(command -v lighttpd || true)
if [ -z "$lighttpd" ] || [ ! -e /usr/lib/lighttpd/mod_webdav.so ]; then
  echo "lighttpd with mod_webdav is needed: apt-get install lighttpd lighttpd-mod-webdav" >&2
  exit 1
fi

work=$(mktemp -d)
webserve_pid=""
lighttpd_pid=""
cleanup() {
  for pid in $webserve_pid $lighttpd_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

echo "== preparing $entries files and a $size_mib MiB file in $work"
share="$work/share"
mkdir -p "$share/listing" "$work/tmp"
(cd "$share/listing" && seq -f "file-%05g.txt" 1 "$entries" | xargs touch)
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$share/big.bin"
cp "$share/big.bin" "$work/upload.bin"

"$webserve" webdav "$share" 0 --localhost >"$work/webserve.out" 2>"$work/webserve.err" &
webserve_pid=$!
for _ in $(seq 100); do grep -q "listening on" "$work/webserve.out" && break; sleep 0.1; done
webserve_url=$(sed -n 's/^listening on //p' "$work/webserve.out")
[ -n "$webserve_url" ] || { echo "webserve did not start" >&2; cat "$work/webserve.err" >&2; exit 1; }

lighttpd_port=$(free_port)
cat >"$work/lighttpd.conf" <<CONF
server.modules = ("mod_webdav")
server.document-root = "$share"
server.bind = "127.0.0.1"
server.port = $lighttpd_port
server.errorlog = "$work/lighttpd.err"
server.upload-dirs = ("$work/tmp")
server.max-request-size = 0
webdav.activate = "enable"
webdav.is-readonly = "disable"
CONF
"$lighttpd" -D -f "$work/lighttpd.conf" >"$work/lighttpd.out" 2>&1 &
lighttpd_pid=$!
lighttpd_url="http://127.0.0.1:$lighttpd_port"
for _ in $(seq 100); do curl -s -o /dev/null "$lighttpd_url/" && break; sleep 0.1; done
curl -s -o /dev/null "$lighttpd_url/" || { echo "lighttpd did not start" >&2; cat "$work/lighttpd.out" >&2; exit 1; }
echo "webserve at $webserve_url, lighttpd at $lighttpd_url"

# median SECONDS...: the middle value
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# timed URL REPEAT EXPECTED-STATUS CURL-ARGS...: median seconds of curl's total time
timed() {
  local url=$1 repeat=$2 expected=$3
  shift 3
  local times=() i out status
  for i in $(seq 1 "$repeat"); do
    out=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' "$@" "${url//@N@/$i}")
    status=${out%% *}
    [ "$status" = "$expected" ] || { echo "unexpected status $status from $url" >&2; exit 1; }
    times+=("${out#* }")
  done
  median "${times[@]}"
}

report() { # report NAME WEBSERVE-SECONDS LIGHTTPD-SECONDS [MiB]
  local ratio
  ratio=$(echo "$2 / $3" | bc -l)
  if [ -n "${4:-}" ]; then
    printf '%-26s webserve %8.3f s (%6.0f MiB/s)   lighttpd %8.3f s (%6.0f MiB/s)   ratio %.2f\n' "$1" "$2" \
      "$(echo "$4 / $2" | bc -l)" "$3" "$(echo "$4 / $3" | bc -l)" "$ratio"
  else
    printf '%-26s webserve %8.3f s                 lighttpd %8.3f s                 ratio %.2f\n' "$1" "$2" "$3" \
      "$ratio"
  fi
}

# Both answer the same listing (the folder and every file).
for url in "$webserve_url" "$lighttpd_url"; do
  count=$(curl -s -X PROPFIND -H 'Depth: 1' "$url/listing/" | grep -o '<D:href>' | wc -l)
  [ "$count" -eq $((entries + 1)) ] || echo "note: $url lists $count entries (expected $((entries + 1)))"
done

echo "== PROPFIND Depth 1 of $entries entries (median of $repeat_listing)"
w=$(timed "$webserve_url/listing/" $repeat_listing 207 -X PROPFIND -H 'Depth: 1')
l=$(timed "$lighttpd_url/listing/" $repeat_listing 207 -X PROPFIND -H 'Depth: 1')
report "PROPFIND depth 1" "$w" "$l"

echo "== GET of $size_mib MiB (median of $repeat_transfer)"
w=$(timed "$webserve_url/big.bin" $repeat_transfer 200)
l=$(timed "$lighttpd_url/big.bin" $repeat_transfer 200)
report "GET $size_mib MiB" "$w" "$l" "$size_mib"

echo "== PUT of $size_mib MiB (median of $repeat_transfer)"
w=$(timed "$webserve_url/put-webserve-@N@.bin" $repeat_transfer 201 -T "$work/upload.bin")
l=$(timed "$lighttpd_url/put-lighttpd-@N@.bin" $repeat_transfer 201 -T "$work/upload.bin")
report "PUT $size_mib MiB" "$w" "$l" "$size_mib"
cmp -s "$work/upload.bin" "$share/put-webserve-1.bin" || { echo "FAIL: the file PUT to webserve differs" >&2; exit 1; }
