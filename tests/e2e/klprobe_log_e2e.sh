#!/usr/bin/env bash
# End-to-end checks of the runtime's logging through `klprobe log`, configured from
# KEEL_LOG_CONFIG: the console line, nothing without the variable, the standard-error output, a
# file, a UDP record caught by a python3 listener, TCP and UDP handlers at ALL (whose sockets log
# themselves) returning normally, and the configurator page asked with curl.
# Usage: klprobe_log_e2e.sh KLPROBE

set -u

# shellcheck source=e2e_lib.sh
. "$(dirname "$0")/e2e_lib.sh"

P=${1:?usage: klprobe_log_e2e.sh PATH_OF_KLPROBE}
e2e_init "$P"
unset KEEL_LOG_CONFIG

pass() { echo "PASS: $1"; }
check() {
    if [[ "$2" == "$3" ]]; then pass "$1"; else fail "$1" "expected '$2', got '$3'"; fi
}
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The console line through the root logger: exactly one line, ending in "INFO: hi" CR LF.
KEEL_LOG_CONFIG='plist:.level=FINE;.handlers=ConsoleHandler' "$P" log keel.http INFO hi >"$work/out" 2>"$work/err"
check "console: exit status and empty stderr" "0 " "$? $(cat "$work/err")"
check "console: one line" "1" "$(wc -l <"$work/out")"
if grep -q '\[keel\.http\] ' "$work/out"; then pass "console: logger name"; else fail "console: logger name" "$(cat "$work/out")"; fi
check "console: ends in INFO: hi CR LF" "494e464f3a2068690d0a" "$(tail -c 10 "$work/out" | od -An -tx1 | tr -d ' \n')"
"$P" log keel.http SEVERE hi >"$work/out" 2>&1
check "no KEEL_LOG_CONFIG: nothing written" "0 0" "$? $(wc -c <"$work/out")"
KEEL_LOG_CONFIG='plist:.level=WARNING' "$P" log keel.http INFO hi >"$work/out" 2>&1
check "below the level: nothing written" "0 0" "$? $(wc -c <"$work/out")"

# Outputs bit 0: standard error, without CR LF; filter 63 leaves the level and message alone.
KEEL_LOG_CONFIG='plist:.level=ALL;.ConsoleHandler.outputs=1;.ConsoleHandler.filter=63' \
    "$P" log x WARNING "to stderr" >"$work/out" 2>"$work/err"
check "outputs=1: stderr line" "WARNING: to stderr" "$(cat "$work/err")"
check "outputs=1: stdout empty" "0" "$(wc -c <"$work/out")"
KEEL_LOG_CONFIG='plist:.level=ALL;.ConsoleHandler.filter=63;.ConsoleHandler.colors=yes' \
    "$P" log x SEVERE red >"$work/out"
check "colours" "$(printf '\033[31;1mSEVERE\033[0m: red\r')" "$(cat "$work/out")"

# A file handler on a named logger, forwarding off.
KEEL_LOG_CONFIG="plist:.level=ALL;a.handlers=FileHandler;a.forward=no;a.FileHandler.filename=$work/a.log;a.FileHandler.filter=63" \
    "$P" log a.b INFO "into the file" >"$work/out"
check "file handler" "INFO: into the file" "$(tr -d '\r' <"$work/a.log")"
check "forward=no keeps it off the console" "0" "$(wc -c <"$work/out")"

# UDP: one datagram per record, the text and its NUL.
cat >"$work/udp.py" <<'PY'
import os, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
s.settimeout(10)
with open(sys.argv[2] + ".tmp", "w") as port:
    print(s.getsockname()[1], file=port)
os.rename(sys.argv[2] + ".tmp", sys.argv[2])
with open(sys.argv[1], "wb") as out:
    try:
        while True:
            data = s.recv(70000)
            out.write(b"%d:" % len(data) + data + b"\n--\n")
            out.flush()
            if data.startswith(b"Logger: keel.test\r\n"):
                break
    except socket.timeout:
        pass
PY
python3 "$work/udp.py" "$work/datagrams" "$work/udp.port" &
udp_listener=$!
for _ in $(seq 1 100); do
    [ -s "$work/udp.port" ] && break
    sleep 0.1
done
udp_port=$(cat "$work/udp.port")
KEEL_LOG_CONFIG="plist:.level=ALL;.handlers=UdpHandler;.UdpHandler.hostname=127.0.0.1;.UdpHandler.port=$udp_port" \
    "$P" log keel.test INFO hi >"$work/out" 2>"$work/err"
check "udp: exit status" "0" "$?"
wait "$udp_listener"
if python3 - "$work/datagrams" <<'PY'; then pass "udp: the record"; else fail "udp: the record" "$(cat "$work/datagrams")"; fi
import sys
blocks = open(sys.argv[1], "rb").read().split(b"\n--\n")
for block in blocks:
    length, _, data = block.partition(b":")
    if data.startswith(b"Logger: keel.test\r\nLevel: INFO\r\n") and data.endswith(b"Content-Length: 2\r\n\r\nhi\x00") \
            and int(length) == len(data):
        sys.exit(0)
sys.exit(1)
PY

# TCP and UDP handlers at ALL: the sockets they send through log too; the run still ends normally.
tcp_port=$(free_port)
KEEL_LOG_CONFIG="plist:.level=ALL;.handlers=UdpHandler,TcpHandler;.UdpHandler.hostname=127.0.0.1;.UdpHandler.port=$udp_port;.TcpHandler.hostname=127.0.0.1;.TcpHandler.port=$tcp_port" \
    timeout 60 "$P" log keel.test INFO hi >"$work/out" 2>"$work/err"
check "network handlers at ALL return" "0 " "$? $(cat "$work/err")"

# The configurator page.
C=$(free_port)
KEEL_LOG_CONFIG="http:port=$C|plist:a.b.level=WARNING" "$P" log --wait 5 a.b.c INFO x >"$work/probe.out" 2>"$work/probe.err" &
probe=$!
page=""
for _ in $(seq 1 30); do
    page=$(curl -s --max-time 2 "http://127.0.0.1:$C/") && [ -n "$page" ] && break
    sleep 0.1
done
check_page() {
    if [[ "$page" == *"$2"* ]]; then pass "$1"; else fail "$1" "$page"; fi
}
check_page "configurator: entry" "<li>a.b.level=WARNING</li>"
check_page "configurator: logger" "<li>a.b.c, level=500, handlers=</li>"
check "configurator: POST" "500" "$(curl -s --max-time 5 -o /dev/null -w '%{http_code}' -X POST "http://127.0.0.1:$C/")"
wait "$probe"
check "configurator: probe exit status and stderr" "0 " "$? $(cat "$work/probe.err")"

e2e_finish "klprobe log"
