#!/usr/bin/env bash
# End-to-end checks of the web server core with real clients (curl, Python sockets), against
# `webserve echo`. Usage: core_e2e.sh PATH_OF_WEBSERVE
# Prints one line per check; exits non-zero when any check fails. Servers are always stopped.

set -u

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: core_e2e.sh PATH_OF_WEBSERVE}"

pass() { echo "PASS: $1"; }
# check NAME EXPECTED ACTUAL
check() {
    if [[ "$2" == "$3" ]]; then pass "$1"; else fail "$1" "expected '$2', got '$3'"; fi
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
    check "$1: server keeps serving" 200 "$(status_of "$url/alive")"
}

# ---------------------------------------------------------------------------------------------

e2e_start_webserve echo echo "$work/echo"

check "IPv4 head starts with Connection, Server, Date" "Connection|Server|Date" "$(first_headers "$url/")"
check "IPv4 Connection: Close" "Connection: Close" \
    "$("${CURL[@]}" -D - -o /dev/null "$url/" | tr -d '\r' | sed -n 2p)"

if curl -g -s -o /dev/null --max-time 10 "http://[::1]:$port/"; then
    check "IPv6 head starts with Connection, Server, Date" "Connection|Server|Date" \
        "$(first_headers "http://[::1]:$port/")"
    check "IPv6 answers the echo" "/v6" \
        "$("${CURL[@]}" -g "http://[::1]:$port/v6" | json_field path)"
else
    echo "SKIP: IPv6 (cannot connect to [::1]:$port)"
fi

check "echo reports method and query" "DELETE a=1 b" \
    "$("${CURL[@]}" -X DELETE "$url/x?a=1+b" | python3 -c "import json,sys; j=json.load(sys.stdin); print(j['method'], 'a=' + j['query']['a'])")"

check "GET /etag" 200 "$(status_of "$url/etag")"
check "GET /etag with If-None-Match" 304 "$(status_of -H 'If-None-Match: "v1"' "$url/etag")"
check "PUT /etag with If-None-Match" 412 \
    "$(status_of -X PUT --data-binary 'x' -H 'If-None-Match: "v1"' "$url/etag")"
check "GET /etag with If-Modified-Since" 304 \
    "$(status_of -H 'If-Modified-Since: Wed, 01 Jan 2020 12:00:00 GMT' "$url/etag")"
check "304 has no Cache-Control" "" \
    "$("${CURL[@]}" -D - -o /dev/null -H 'If-None-Match: "v1"' "$url/etag" | grep -i '^Cache-Control')"

REDIRECT=$("${CURL[@]}" -D - -o /dev/null "$url/redirect" | tr -d '\r')
check "GET /redirect status" "HTTP/1.1 307 Temporary Redirect" "$(echo "$REDIRECT" | head -1)"
check "GET /redirect Location" "Location: $url/redirected" "$(echo "$REDIRECT" | grep '^Location:')"

"${CURL[@]}" -o "$work/plain.txt" "$url/gzip"
"${CURL[@]}" --compressed -D "$work/gzip.head" -o "$work/gzip.txt" "$url/gzip"
check "GET /gzip is sent gzip-coded" "Content-Encoding: gzip" \
    "$(tr -d '\r' <"$work/gzip.head" | grep -i '^Content-Encoding:')"
if cmp -s "$work/plain.txt" "$work/gzip.txt" && [[ $(stat -c %s "$work/plain.txt") -gt 600000 ]]; then
    pass "GET /gzip --compressed equals the uncompressed body"
else
    fail "GET /gzip --compressed equals the uncompressed body"
fi

check "GET /chunked" "first;second;third" "$("${CURL[@]}" "$url/chunked")"
check "GET /none answers 500" 500 "$(status_of "$url/none")"
"${CURL[@]}" -o /dev/null "$url/throw"
check "GET /throw ends without a response (curl: empty reply)" 52 "$?"
check "GET /twice answers once" "/twice" "$("${CURL[@]}" "$url/twice" | json_field path)"
check "GET /slow?ms=300 answers later" 200 "$(status_of "$url/slow?ms=300")"
still_serving "after the handler faults"

# Uploads.
python3 -c "
import random
random.seed(1)
open('$work/upload.bin', 'wb').write(bytes(random.getrandbits(8) for _ in range(300000)))
open('$work/text.txt', 'w').write(''.join('line %d of the upload\n' % i for i in range(50000)))
"
crc_of() { python3 -c "import zlib,sys; print(zlib.crc32(open(sys.argv[1],'rb').read()))" "$1"; }

REPLY=$("${CURL[@]}" -H 'Transfer-Encoding: chunked' --data-binary @"$work/upload.bin" "$url/chunked-upload")
check "chunked upload bodyLength" 300000 "$(echo "$REPLY" | json_field bodyLength)"
check "chunked upload bodyCRC32" "$(crc_of "$work/upload.bin")" "$(echo "$REPLY" | json_field bodyCRC32)"

python3 -c "import gzip,sys; open(sys.argv[2],'wb').write(gzip.compress(open(sys.argv[1],'rb').read()))" \
    "$work/text.txt" "$work/text.txt.gz"
REPLY=$("${CURL[@]}" -H 'Content-Encoding: gzip' -H 'Content-Type: text/plain' \
    --data-binary @"$work/text.txt.gz" "$url/gzip-upload")
check "gzip upload bodyLength (uncompressed)" "$(stat -c %s "$work/text.txt")" "$(echo "$REPLY" | json_field bodyLength)"
check "gzip upload bodyCRC32 (uncompressed)" "$(crc_of "$work/text.txt")" "$(echo "$REPLY" | json_field bodyCRC32)"

REPLY=$("${CURL[@]}" -H 'Content-Encoding: gzip' -H 'Transfer-Encoding: chunked' \
    --data-binary @"$work/text.txt.gz" "$url/gzip-chunked-upload")
check "chunked gzip upload bodyLength" "$(stat -c %s "$work/text.txt")" "$(echo "$REPLY" | json_field bodyLength)"

# Hostile input.
check "1 MiB head answers 500" "HTTP/1.1 500 Internal Server Error" \
    "$(raw_exchange "$port" 'b"GET / HTTP/1.1\r\nHost: x\r\n" + b"X-Filler: " + b"f" * (1 << 20) + b"\r\n\r\n"')"
still_serving "after the 1 MiB head"
check "chunk size ffffffffffffffff answers 500" "HTTP/1.1 500 Internal Server Error" \
    "$(raw_exchange "$port" 'b"PUT /c HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc"')"
still_serving "after the oversized chunk"

# A 2 MB gzip body that inflates to 2 GiB.
python3 - "$work/bomb.gz" <<'EOF'
import sys, zlib
compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
zeros = bytes(1 << 20)
with open(sys.argv[1], "wb") as out:
    for _ in range(2048):
        out.write(compressor.compress(zeros))
    out.write(compressor.flush())
EOF
echo "gzip body of $(stat -c %s "$work/bomb.gz") bytes"
# It decodes to far more than 64 times its size plus 16 MiB: refused once past that bound.
check "2 GiB gzip upload is refused past its expansion bound" 413 \
    "$(status_of -H 'Content-Encoding: gzip' --data-binary @"$work/bomb.gz" "$url/bomb")"
still_serving "after the 2 GiB gzip upload"

# Authentication.
e2e_start_webserve digest echo "$work/digest" --auth digest u p
check "Digest without credentials" 401 "$(status_of "$url/secret")"
check "Digest challenge" 'WWW-Authenticate: Digest realm="WebServer", nonce="N", qop="auth"' \
    "$("${CURL[@]}" -D - -o /dev/null "$url/secret" | tr -d '\r' | grep '^WWW-Authenticate:' |
        sed 's/nonce="[0-9a-f]\{64\}"/nonce="N"/')"
check "curl --digest with the right password" 200 "$(status_of --digest -u u:p "$url/secret")"
check "curl --digest with a wrong password" 401 "$(status_of --digest -u u:wrong "$url/secret")"

e2e_start_webserve basic echo "$work/basic" --auth basic u p
check "Basic with the right password" 200 "$(status_of -u u:p "$url/secret")"
check "Basic with a wrong password" 401 "$(status_of -u u:wrong "$url/secret")"

# Every server stops on SIGTERM and exits cleanly (a sanitizer report would make it fail).
e2e_finish core
