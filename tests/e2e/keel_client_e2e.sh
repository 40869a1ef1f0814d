#!/usr/bin/env bash
# The runtime's HTTP client from the shell: klfetch against python3's http.server (plain fetch,
# redirect, HEAD, a stopped server), against openssl s_server with certificates made here
# (self-signed, CA-signed, wrong name), through proxy stubs (CONNECT refused with 407, a plain
# proxy chosen from the environment, no_proxy), and klprobe's proxy and hostmatch commands.
# Everything stays on 127.0.0.1; the only name used is localhost.
#
# usage: keel_client_e2e.sh PATH-TO-KLFETCH PATH-TO-KLPROBE
set -uo pipefail

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: keel_client_e2e.sh PATH-TO-KLFETCH PATH-TO-KLPROBE}"
fetch=$1
probe=${2:?usage: keel_client_e2e.sh PATH-TO-KLFETCH PATH-TO-KLPROBE}
for tool in python3 openssl; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing"; exit 77; }
done
# The environment of the caller must not choose proxies for these checks.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY no_proxy NO_PROXY KEEL_NET_CONFIG_PROXY_SELECTOR

# Background helpers that are not e2e servers (they log to stderr by design).
helpers=()
stop_helpers() {
  local pid
  for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  helpers=()
}
trap 'stop_helpers; e2e_cleanup' EXIT

# start_helper NAME PATTERN COMMAND...: runs COMMAND, waits for PATTERN's port in its output,
# sets $helper_port and $helper_pid.
start_helper() {
  local name=$1 pattern=$2 _
  shift 2
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  helper_pid=$!
  helpers+=("$helper_pid")
  helper_port=""
  for _ in $(seq 1 200); do
    helper_port=$(sed -nE "s/.*$pattern([0-9]+).*/\\1/p" "$work/$name.out" "$work/$name.err" | head -n 1)
    [ -z "$helper_port" ] || return 0
    sleep 0.05
  done
  echo "FAIL: $name did not start" >&2
  cat "$work/$name.err" >&2
  exit 1
}

# check NAME EXPECTED-STATUS EXPECTED-LAST-OR-FIRST-LINE KLFETCH-ARGS...: runs klfetch (stdout in
# $work/NAME.body, stderr in $work/NAME.head); for status 0 the first stderr line must equal the
# text, for status 1 the last.
check() {
  local name=$1 expected=$2 line=$3 status=0 got
  shift 3
  timeout 60 "$fetch" "$@" >"$work/$name.body" 2>"$work/$name.head" || status=$?
  if [ "$expected" -eq 0 ]; then got=$(head -n 1 "$work/$name.head"); else got=$(tail -n 1 "$work/$name.head"); fi
  if [ "$status" -ne "$expected" ] || [ "$got" != "$line" ]; then
    fail "$name" "status $status, stderr: $(head -c 400 "$work/$name.head")"
  fi
}

# --- plain HTTP against python3's http.server
mkdir -p "$work/site/sub"
head -c 300000 /dev/urandom >"$work/site/f"
echo "inside" >"$work/site/sub/page.txt"
start_helper http "port " python3 -u -m http.server -b 127.0.0.1 -d "$work/site" 0
http_pid=$helper_pid
N=$helper_port

check plain 0 "HTTP/1.0 200 OK" -o "$work/o" "http://127.0.0.1:$N/f"
cmp -s "$work/o" "$work/site/f" || fail "plain fetch body differs"
check redirect 0 "HTTP/1.0 200 OK" "http://127.0.0.1:$N/sub"
grep -q "page.txt" "$work/redirect.body" || fail "redirect did not reach the listing"
check head 0 "HTTP/1.0 200 OK" --head "http://127.0.0.1:$N/f"
[ ! -s "$work/head.body" ] || fail "HEAD wrote a body"
check missing 0 "HTTP/1.0 404 File not found" "http://127.0.0.1:$N/none"

# --- proxies: a stub that refuses CONNECT with 407 and relays plain GETs by answering them itself
cat >"$work/proxy.py" <<'PY'
import http.server, signal, sys
log = open(sys.argv[1], "a")
class Stub(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def log_message(self, *args):
        pass
    def do_CONNECT(self):
        log.write(self.requestline + "\n"); log.flush()
        self.send_response(407, "Proxy Authentication Required")
        self.send_header("Content-Length", "0")
        self.end_headers()
    def do_GET(self):
        log.write(self.requestline + "\n"); log.flush()
        body = b"via proxy\n"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
server = http.server.HTTPServer(("127.0.0.1", 0), Stub)
print("listening on http://127.0.0.1:%d/" % server.server_address[1], flush=True)
server.serve_forever()
PY
e2e_start proxy "listening on" python3 "$work/proxy.py" "$work/proxy.log"
Q=$port

KEEL_NET_CONFIG_PROXY_SELECTOR=env http_proxy=127.0.0.1:$Q \
  check envproxy 0 "HTTP/1.0 200 OK" "http://localhost:$N/f"
grep -qx "GET http://localhost:$N/f HTTP/1.1" "$work/proxy.log" || fail "the proxy did not get the absolute request"
[ "$(cat "$work/envproxy.body")" = "via proxy" ] || fail "the answer did not come from the proxy"
KEEL_NET_CONFIG_PROXY_SELECTOR=ENV http_proxy=127.0.0.1:$Q no_proxy=localhost \
  check noproxy 0 "HTTP/1.0 200 OK" "http://localhost:$N/f"
cmp -s "$work/noproxy.body" "$work/site/f" || fail "no_proxy did not go direct"
http_proxy=127.0.0.1:$Q check unselected 0 "HTTP/1.0 200 OK" "http://localhost:$N/f"
cmp -s "$work/unselected.body" "$work/site/f" || fail "a proxy was used without the selector variable"

out=$(KEEL_NET_CONFIG_PROXY_SELECTOR=env http_proxy=127.0.0.1:$Q "$probe" proxy "http://localhost:$N/" 2>&1)
[ "$out" = "127.0.0.1:$Q" ] || fail "klprobe proxy" "$out"
status=0
out=$(KEEL_NET_CONFIG_PROXY_SELECTOR=env http_proxy=127.0.0.1:$Q no_proxy=localhost \
  "$probe" proxy "http://localhost:$N/" 2>&1) || status=$?
if [ "$status" -ne 1 ] || [ "$out" != "KL_ERROR_HTTP_NO_PROXY" ]; then
  fail "klprobe proxy with no_proxy" "$status $out"
fi

kill "$http_pid"; wait "$http_pid" 2>/dev/null
check stopped 1 "KL_ERROR_CONNECTION_REFUSED" -o "$work/o2" "http://127.0.0.1:$N/f"

# --- TLS against openssl s_server
ssl() { openssl "$@" >/dev/null 2>&1 || fail "openssl $1"; }
ssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/self.key" -out "$work/self.pem" -subj /CN=localhost
ssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout "$work/ca.key" -out "$work/ca.pem" -subj "/CN=Lanyard Test CA"
ssl req -newkey rsa:2048 -nodes -keyout "$work/leaf.key" -out "$work/leaf.csr" -subj /CN=localhost
printf 'subjectAltName=DNS:localhost\n' >"$work/leaf.ext"
ssl x509 -req -in "$work/leaf.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -CAcreateserial -days 2 \
  -extfile "$work/leaf.ext" -out "$work/leaf.pem"
openssl x509 -in "$work/ca.pem" -outform DER -out "$work/ca.der" 2>/dev/null

start_helper selfsigned "ACCEPT 127.0.0.1:" openssl s_server -accept 127.0.0.1:0 -www \
  -cert "$work/self.pem" -key "$work/self.key"
T=$helper_port
start_helper casigned "ACCEPT 127.0.0.1:" openssl s_server -accept 127.0.0.1:0 -www \
  -cert "$work/leaf.pem" -key "$work/leaf.key"
S=$helper_port

check selfsigned 1 "KL_ERROR_TLS_CERTIFICATE_SELF_SIGNED" "https://localhost:$T/"
check insecure 0 "HTTP/1.0 200 ok" --insecure "https://localhost:$T/"
check insecure-ip 0 "HTTP/1.0 200 ok" --insecure "https://127.0.0.1:$T/"
check ca 0 "HTTP/1.0 200 ok" --ca "$work/ca.pem" "https://localhost:$S/"
check ca-der 0 "HTTP/1.0 200 ok" --ca "$work/ca.der" "https://localhost:$S/"
check ca-wrong-name 1 "KL_ERROR_TLS_DNS_NAME_MISMATCH" --ca "$work/ca.pem" "https://127.0.0.1:$S/"
check no-ca 1 "KL_ERROR_TLS_CERTIFICATE_NO_TRUST_ANCHOR" "https://localhost:$S/"
check connect-407 1 "KL_ERROR_HTTP_INVALID_RESPONSE_LINE" --proxy "http://127.0.0.1:$Q" "https://localhost:$T/"
grep -qx "CONNECT localhost:$T HTTP/1.1" "$work/proxy.log" || fail "the proxy did not get CONNECT"

# --- host-name rule
while read -r pattern name expected; do
  out=$("$probe" hostmatch "$pattern" "$name")
  [ "$out" = "$expected" ] || fail "hostmatch $pattern $name" "$out"
done <<'TABLE'
*.example.com www.example.com match
*.example.com WWW.EXAMPLE.COM match
*.example.com example.com no match
*.example.com a.b.example.com no match
example.com EXAMPLE.com match
*example.com www.example.com no match
TABLE

stop_helpers
e2e_finish "klfetch"
