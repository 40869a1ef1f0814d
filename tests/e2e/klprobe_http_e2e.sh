#!/usr/bin/env bash
# klprobe's URL, HTTP head and chunked-coding commands from the shell: endless header blocks
# and oversized chunk sizes are refused with their codes; the chunked coding round-trips through
# klprobe and through python3's http.client; recorded heads parse with their bodies.
#
# usage: klprobe_http_e2e.sh PATH-TO-KLPROBE
set -uo pipefail

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: klprobe_http_e2e.sh PATH-TO-KLPROBE}"
probe=$1
data="$(dirname "$0")/../../keel/tests/data/http"

# expect_failure NAME CODE COMMAND-ARGS... <input: exit status 1 and exactly the code on stderr.
expect_failure() {
  local name=$1 code=$2 status=0
  shift 2
  "$probe" "$@" >"$work/out" 2>"$work/err" || status=$?
  if [ "$status" -ne 1 ] || [ "$(cat "$work/err")" != "$code" ]; then
    fail "$name" "status $status, stderr: $(head -c 300 "$work/err")"
  fi
}

# expect_output NAME EXPECTED-LINES COMMAND-ARGS... <input
expect_output() {
  local name=$1 expected=$2
  shift 2
  if ! "$probe" "$@" >"$work/out" 2>"$work/err" || [ -s "$work/err" ]; then
    fail "$name" "$(head -c 300 "$work/err")"
  elif [ "$(cat "$work/out")" != "$expected" ]; then
    fail "$name" "got: $(cat "$work/out")"
  fi
}

# An endless header block stops at its bounds.
{
  printf 'GET / HTTP/1.1\r\n'
  yes 'X-A: 1' | head -n 200000
} >"$work/big-head"
expect_failure "200000 header lines" KL_ERROR_NOT_ENOUGH_SPACE request <"$work/big-head"
{
  printf 'GET / HTTP/1.1\r\nX-Long: '
  head -c 100000 /dev/zero | tr '\0' v
} >"$work/long-line"
expect_failure "a 100000-byte header line" KL_ERROR_NOT_ENOUGH_SPACE request <"$work/long-line"
printf 'GET /\r\n\r\n' >"$work/bad-line"
expect_failure "a request line with one space" KL_ERROR_HTTP_INVALID_REQUEST_LINE request <"$work/bad-line"

# Chunk sizes that do not fit 32 bits, and chunked bodies cut short.
for size in 100000000 FFFFFFFFFF; do
  printf '%s\r\n' "$size" >"$work/size"
  expect_failure "chunk size $size" KL_ERROR_INVALID_FORMAT chunk-decode <"$work/size"
done
printf ';ext\r\nhello\r\n0\r\n\r\n' >"$work/no-digit"
expect_failure "a chunk-size line without a digit" KL_ERROR_INVALID_FORMAT chunk-decode <"$work/no-digit"
printf '5\r\nhel' >"$work/cut"
expect_failure "a chunked body cut short" KL_ERROR_CONNECTION_ABORTED chunk-decode <"$work/cut"

# Round trips through klprobe's encoder and decoder, and through python3's http.client.
for size in 0 1 299 300 301 100000; do
  head -c "$size" /dev/urandom >"$work/f"
  for piece in 1 300 65536; do
    [ "$piece" -eq 1 ] && [ "$size" -gt 1000 ] && continue
    "$probe" chunk-encode --piece "$piece" <"$work/f" >"$work/enc" 2>"$work/err" || fail "chunk-encode $size/$piece"
    "$probe" chunk-decode <"$work/enc" 2>>"$work/err" | cmp -s - "$work/f" ||
      fail "klprobe round trip of $size bytes in pieces of $piece"
    python3 - "$work/enc" "$work/f" <<'PY' || fail "http.client reads klprobe's chunks ($size/$piece)"
import http.client, io, sys
wire = b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + open(sys.argv[1], "rb").read()
class Sock:
    def makefile(self, *args, **kwargs):
        return io.BytesIO(wire)
response = http.client.HTTPResponse(Sock())
response.begin()
sys.exit(0 if response.read() == open(sys.argv[2], "rb").read() else 1)
PY
    [ -s "$work/err" ] && fail "klprobe wrote to stderr" "$(head -c 300 "$work/err")"
  done
done
head -c 70000 /dev/urandom >"$work/f"
python3 - "$work/f" "$work/py-enc" <<'PY'
import random, sys
data = open(sys.argv[1], "rb").read()
out, at = b"", 0
while at < len(data):
    n = random.randint(1, 9000)
    piece = data[at:at + n]
    out += b"%x;ext=1\r\n%s\r\n" % (len(piece), piece)
    at += n
open(sys.argv[2], "wb").write(out + b"0\r\nX-Trailer: t\r\n\r\n")
PY
"$probe" chunk-decode <"$work/py-enc" 2>"$work/err" | cmp -s - "$work/f" || fail "klprobe decodes python3's chunks"

# URLs.
expect_output "url http://host" "$(printf 'scheme: http\nhost: host\nport: 80\npath: /\nvalid: true\nstring: http://host/\nrequest: /')" \
  url 'http://host'
expect_failure "url with port 70000" KL_ERROR_INVALID_SYNTAX url 'http://host:70000/'

# Recorded heads: a curl request with the endpoint's port, python3 http.server's reply and body.
recorded_host=$(sed -n 's/^Host: //p' "$data/curl-range-headers.txt" | tr -d '\r')
expect_output "request with endpoint" "$(printf 'method: GET\nprotocol: HTTP/1.1\nscheme: http\nhost: 127.0.0.1\nport: 5000\npath: /movie.mp4\nheader: Host: %s\nheader: Range: bytes=0-99\nheader: User-Agent: klprobe-recorder/1.0\nheader: Accept: text/*\nheader: X-Empty: ' \
  "$recorded_host")" \
  request --endpoint 10.1.2.3:5000 <"$data/curl-range-headers.txt"
"$probe" response --body "$work/body" <"$data/pyserver-file.txt" >"$work/out" 2>"$work/err" || fail "response --body"
grep -qx 'status: 200' "$work/out" || fail "response status" "$(head -3 "$work/out")"
cmp -s "$work/body" <(tail -c 460 "$data/pyserver-file.txt") || fail "response body"

e2e_finish "klprobe http"
