#!/usr/bin/env bash
# End-to-end checks of the web server core with real clients (curl, Python sockets), against
# `webserve echo`. Usage: core_e2e.sh PATH_OF_WEBSERVE
# Prints one line per check; exits non-zero when any check fails. Servers are always stopped.

set -u

WEBSERVE=${1:?usage: core_e2e.sh PATH_OF_WEBSERVE}
WORK=$(mktemp -d)
SERVER_PIDS=()
declare -A SERVER_NAMES
FAILURES=0

cleanup() {
    for pid in "${SERVER_PIDS[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

pass() { echo "PASS: $1"; }
fail() {
    echo "FAIL: $1${2:+ ($2)}"
    FAILURES=$((FAILURES + 1))
}
# check NAME EXPECTED ACTUAL
check() {
    if [[ "$2" == "$3" ]]; then pass "$1"; else fail "$1" "expected '$2', got '$3'"; fi
}

# start_server NAME ARGS... : starts webserve, waits for its "listening on URL" line, sets URL.
start_server() {
    local name=$1
    shift
    mkdir -p "$WORK/$name"
    "$WEBSERVE" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" &
    SERVER_PIDS+=($!)
    SERVER_NAMES[$!]=$name
    URL=""
    for _ in $(seq 1 200); do
        URL=$(sed -n 's/^listening on //p' "$WORK/$name.out")
        [[ -n "$URL" ]] && break
        sleep 0.1
    done
    if [[ -z "$URL" ]]; then
        echo "FAIL: $name server did not start: $(cat "$WORK/$name.err")"
        exit 1
    fi
    PORT=${URL##*:}
    echo "started $name server at $URL"
}

CURL=(curl -s --max-time 60)

json_field() { python3 -c "import json,sys; print(json.load(sys.stdin)['$1'])"; }
status_of() { "${CURL[@]}" -o /dev/null -w '%{http_code}' "$@"; }

# The first three header lines of a response, CR removed, names and values joined by "|".
first_headers() {
    "${CURL[@]}" -g -D - -o /dev/null "$1" | tr -d '\r' | sed -n '2,4p' | cut -d: -f1 | paste -sd'|'
}

# raw_exchange PORT PYTHON_BYTES_EXPRESSION : sends raw bytes, prints the status line of the reply.
raw_exchange() {
    python3 - "$1" "$2" <<'EOF'
import socket, sys
port, payload = int(sys.argv[1]), eval(sys.argv[2])
s = socket.create_connection(("127.0.0.1", port), timeout=30)
try:
    s.sendall(payload)
except OSError:
    pass  # the server may give up and close before everything is sent
data = b""
try:
    while True:
        piece = s.recv(65536)
        if not piece:
            break
        data += piece
except OSError:
    pass
print(data.split(b"\r\n", 1)[0].decode("latin-1"))
EOF
}

still_serving() {
    check "$1: server keeps serving" 200 "$(status_of "$URL/alive")"
}

# ---------------------------------------------------------------------------------------------

start_server echo echo "$WORK/echo" 0 --localhost

check "IPv4 head starts with Connection, Server, Date" "Connection|Server|Date" "$(first_headers "$URL/")"
check "IPv4 Connection: Close" "Connection: Close" \
    "$("${CURL[@]}" -D - -o /dev/null "$URL/" | tr -d '\r' | sed -n 2p)"

if curl -g -s -o /dev/null --max-time 10 "http://[::1]:$PORT/"; then
    check "IPv6 head starts with Connection, Server, Date" "Connection|Server|Date" \
        "$(first_headers "http://[::1]:$PORT/")"
    check "IPv6 answers the echo" "/v6" \
        "$("${CURL[@]}" -g "http://[::1]:$PORT/v6" | json_field path)"
else
    echo "SKIP: IPv6 (cannot connect to [::1]:$PORT)"
fi

check "echo reports method and query" "DELETE a=1 b" \
    "$("${CURL[@]}" -X DELETE "$URL/x?a=1+b" | python3 -c "import json,sys; j=json.load(sys.stdin); print(j['method'], 'a=' + j['query']['a'])")"

check "GET /etag" 200 "$(status_of "$URL/etag")"
check "GET /etag with If-None-Match" 304 "$(status_of -H 'If-None-Match: "v1"' "$URL/etag")"
check "PUT /etag with If-None-Match" 412 \
    "$(status_of -X PUT --data-binary 'x' -H 'If-None-Match: "v1"' "$URL/etag")"
check "GET /etag with If-Modified-Since" 304 \
    "$(status_of -H 'If-Modified-Since: Wed, 01 Jan 2020 12:00:00 GMT' "$URL/etag")"
check "304 has no Cache-Control" "" \
    "$("${CURL[@]}" -D - -o /dev/null -H 'If-None-Match: "v1"' "$URL/etag" | grep -i '^Cache-Control')"

REDIRECT=$("${CURL[@]}" -D - -o /dev/null "$URL/redirect" | tr -d '\r')
check "GET /redirect status" "HTTP/1.1 307 Temporary Redirect" "$(echo "$REDIRECT" | head -1)"
check "GET /redirect Location" "Location: $URL/redirected" "$(echo "$REDIRECT" | grep '^Location:')"

"${CURL[@]}" -o "$WORK/plain.txt" "$URL/gzip"
"${CURL[@]}" --compressed -D "$WORK/gzip.head" -o "$WORK/gzip.txt" "$URL/gzip"
check "GET /gzip is sent gzip-coded" "Content-Encoding: gzip" \
    "$(tr -d '\r' <"$WORK/gzip.head" | grep -i '^Content-Encoding:')"
if cmp -s "$WORK/plain.txt" "$WORK/gzip.txt" && [[ $(stat -c %s "$WORK/plain.txt") -gt 600000 ]]; then
    pass "GET /gzip --compressed equals the uncompressed body"
else
    fail "GET /gzip --compressed equals the uncompressed body"
fi

check "GET /chunked" "first;second;third" "$("${CURL[@]}" "$URL/chunked")"
check "GET /none answers 500" 500 "$(status_of "$URL/none")"
"${CURL[@]}" -o /dev/null "$URL/throw"
check "GET /throw ends without a response (curl: empty reply)" 52 "$?"
check "GET /twice answers once" "/twice" "$("${CURL[@]}" "$URL/twice" | json_field path)"
check "GET /slow?ms=300 answers later" 200 "$(status_of "$URL/slow?ms=300")"
still_serving "after the handler faults"

# Uploads.
python3 -c "
import random
random.seed(1)
open('$WORK/upload.bin', 'wb').write(bytes(random.getrandbits(8) for _ in range(300000)))
open('$WORK/text.txt', 'w').write(''.join('line %d of the upload\n' % i for i in range(50000)))
"
crc_of() { python3 -c "import zlib,sys; print(zlib.crc32(open(sys.argv[1],'rb').read()))" "$1"; }

REPLY=$("${CURL[@]}" -H 'Transfer-Encoding: chunked' --data-binary @"$WORK/upload.bin" "$URL/chunked-upload")
check "chunked upload bodyLength" 300000 "$(echo "$REPLY" | json_field bodyLength)"
check "chunked upload bodyCRC32" "$(crc_of "$WORK/upload.bin")" "$(echo "$REPLY" | json_field bodyCRC32)"

python3 -c "import gzip,sys; open(sys.argv[2],'wb').write(gzip.compress(open(sys.argv[1],'rb').read()))" \
    "$WORK/text.txt" "$WORK/text.txt.gz"
REPLY=$("${CURL[@]}" -H 'Content-Encoding: gzip' -H 'Content-Type: text/plain' \
    --data-binary @"$WORK/text.txt.gz" "$URL/gzip-upload")
check "gzip upload bodyLength (uncompressed)" "$(stat -c %s "$WORK/text.txt")" "$(echo "$REPLY" | json_field bodyLength)"
check "gzip upload bodyCRC32 (uncompressed)" "$(crc_of "$WORK/text.txt")" "$(echo "$REPLY" | json_field bodyCRC32)"

REPLY=$("${CURL[@]}" -H 'Content-Encoding: gzip' -H 'Transfer-Encoding: chunked' \
    --data-binary @"$WORK/text.txt.gz" "$URL/gzip-chunked-upload")
check "chunked gzip upload bodyLength" "$(stat -c %s "$WORK/text.txt")" "$(echo "$REPLY" | json_field bodyLength)"

# Hostile input.
check "1 MiB head answers 500" "HTTP/1.1 500 Internal Server Error" \
    "$(raw_exchange "$PORT" 'b"GET / HTTP/1.1\r\nHost: x\r\n" + b"X-Filler: " + b"f" * (1 << 20) + b"\r\n\r\n"')"
still_serving "after the 1 MiB head"
check "chunk size ffffffffffffffff answers 500" "HTTP/1.1 500 Internal Server Error" \
    "$(raw_exchange "$PORT" 'b"PUT /c HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc"')"
still_serving "after the oversized chunk"

# A 2 MB gzip body that inflates to 2 GiB.
python3 - "$WORK/bomb.gz" <<'EOF'
import sys, zlib
compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
zeros = bytes(1 << 20)
with open(sys.argv[1], "wb") as out:
    for _ in range(2048):
        out.write(compressor.compress(zeros))
    out.write(compressor.flush())
EOF
BOMB_CRC=$(python3 -c "
import zlib
crc, zeros = 0, bytes(1 << 20)
for _ in range(2048):
    crc = zlib.crc32(zeros, crc)
print(crc)")
echo "gzip body of $(stat -c %s "$WORK/bomb.gz") bytes"
REPLY=$(curl -s --max-time 240 -H 'Content-Encoding: gzip' --data-binary @"$WORK/bomb.gz" "$URL/bomb")
check "2 GiB gzip upload bodyLength" 2147483648 "$(echo "$REPLY" | json_field bodyLength 2>/dev/null)"
check "2 GiB gzip upload bodyCRC32" "$BOMB_CRC" "$(echo "$REPLY" | json_field bodyCRC32 2>/dev/null)"
still_serving "after the 2 GiB gzip upload"

# Authentication.
start_server digest echo "$WORK/digest" 0 --localhost --auth digest u p
check "Digest without credentials" 401 "$(status_of "$URL/secret")"
check "Digest challenge" 'WWW-Authenticate: Digest realm="WebServer", nonce="N"' \
    "$("${CURL[@]}" -D - -o /dev/null "$URL/secret" | tr -d '\r' | grep '^WWW-Authenticate:' |
        sed 's/nonce="[0-9a-f]\{32\}"/nonce="N"/')"
check "curl --digest with the right password" 200 "$(status_of --digest -u u:p "$URL/secret")"
check "curl --digest with a wrong password" 401 "$(status_of --digest -u u:wrong "$URL/secret")"

start_server basic echo "$WORK/basic" 0 --localhost --auth basic u p
check "Basic with the right password" 200 "$(status_of -u u:p "$URL/secret")"
check "Basic with a wrong password" 401 "$(status_of -u u:wrong "$URL/secret")"

# Every server stops on SIGTERM and exits cleanly (a sanitizer report would make it fail).
for pid in "${SERVER_PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 200); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null # still running after 20 s: counts as a failure below
    wait "$pid"
    status=$?
    name=${SERVER_NAMES[$pid]}
    check "$name server exits cleanly on SIGTERM" 0 "$status"
    [[ $status -ne 0 ]] && head -50 "$WORK/$name.err"
done
SERVER_PIDS=()

if [[ $FAILURES -ne 0 ]]; then
    echo "$FAILURES check(s) failed"
    exit 1
fi
echo "all checks passed"
