#!/usr/bin/env bash
# The server's peak memory under the hostile requests that once made it grow without bound, one
# server per request so that each peak is its own (GNU time -v): an anonymous 1 GB POST to a
# Digest-protected server (answered on the head), 2 GB of text parts in one multipart body, and a
# small gzip body that decodes to very many parts. Each must peak under 100 MiB. Run by hand
# after `cmake --preset release && cmake --build --preset release`.
#   bash bench/hostile_memory.sh [path/to/webserve]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
webserve=${1:-$root/build/release/tests/tools/webserve/webserve}
work=$(mktemp -d)
server=""
trap 'if [ -n "$server" ]; then pkill -P "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
failures=0

# Writes the bodies once: 2 GiB of 1 MiB text parts would take too long to build here, so the
# multipart body streams from python straight into curl.
python3 - "$work" <<'EOF'
import gzip, sys
work = sys.argv[1]
part = b'--B\r\nContent-Disposition: form-data; name="t"\r\n\r\n\r\n'
with gzip.open(work + '/parts.gz', 'wb', compresslevel=9) as out:
    for _ in range(4000):
        out.write(part * 1000)
    out.write(b'--B--\r\n')
EOF

# run NAME MODE [ARGS...] -- CURL-ARGS...: one server, one request, its peak memory.
run() {
  local name=$1 mode=$2
  shift 2
  local args=()
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  shift
  mkdir -p "$work/share"
  /usr/bin/time -v -o "$work/time.txt" "$webserve" "$mode" "$work/share" 0 --localhost "${args[@]}" \
    >"$work/out.txt" 2>&1 &
  server=$!
  for _ in $(seq 100); do grep -q "listening on" "$work/out.txt" && break; sleep 0.1; done
  local url status peak
  url=$(sed -n 's/^listening on //p' "$work/out.txt")
  status=$("$@" "$url" 2>/dev/null || true)
  pkill -INT -P "$server" || true
  wait "$server" || true
  server=""
  peak=$(($(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt") / 1024))
  printf '%-44s status %s, server peak memory %d MiB\n' "$name" "$status" "$peak"
  if [ "$peak" -ge 100 ]; then
    echo "FAIL: $name peaks at $peak MiB"
    failures=$((failures + 1))
  fi
}

big_post() { head -c 1000000000 /dev/zero | curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: text/plain' -X POST -T - "$1/upload"; }
text_parts() {
  python3 -c '
import sys
part = b"--B\r\nContent-Disposition: form-data; name=\"t\"\r\n\r\n" + b"x" * (1024 * 1024 - 100) + b"\r\n"
for _ in range(2048):
    try:
        sys.stdout.buffer.write(part)
    except BrokenPipeError:
        break
' | curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: multipart/form-data; boundary=B' \
    -X POST -T - "$1/upload"
}
gzip_parts() { curl -s -o /dev/null -w '%{http_code}' -H 'Content-Type: multipart/form-data; boundary=B' \
  -H 'Content-Encoding: gzip' --data-binary @"$work/parts.gz" "$1/upload"; }

run "anonymous 1 GB POST, Digest" echo --auth digest u p -- big_post
run "2 GiB of 1 MiB text parts" echo -- text_parts
run "gzip body of $(($(stat -c %s "$work/parts.gz") / 1024)) KiB with 4,000,000 parts" echo -- gzip_parts
[ "$failures" -eq 0 ] && echo "every hostile request peaked under 100 MiB"
exit "$failures"
