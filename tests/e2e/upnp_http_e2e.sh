#!/usr/bin/env bash
# The UPnP device host over HTTP, driven from outside: upnpdevice runs in a network namespace of
# the test's own (only lo, so nothing it ever announces leaves it) and is checked with curl,
# xmllint and a Python GENA callback listener:
# - the description: 200, its content type, the friendly name, well-formed XML; the port 1024-2047;
# - SOAP: Apply with Operation "Multiply" gets 500 with fault 701 "Invalid Name"; an unknown method
#   gets 405; a 2 MiB body gets 413;
# - GENA: a callback on another address gets 412 and nothing connects there; a callback on the
#   listener gets 200 with a SID, then NOTIFY SEQ 0 with <Value>0</Value>, and after Apply SEQ 1;
#   UNSUBSCRIBE gets 200;
# - SIGTERM stops upnpdevice with status 0 within 5 s and nothing on standard error.
#
# usage: upnp_http_e2e.sh PATH-TO-UPNPDEVICE      (exit 77: network namespaces are refused here)
set -uo pipefail

device=${1:?usage: upnp_http_e2e.sh PATH-TO-UPNPDEVICE}
here=$(cd "$(dirname "$0")" && pwd)
# The script runs itself again inside the namespace.
if [ "${UPNP_HTTP_E2E_INSIDE:-}" != 1 ]; then
  for tool in curl xmllint python3; do
    if ! command -v "$tool" >/dev/null; then
      echo "FAIL: $tool is missing" >&2
      exit 1
    fi
  done
  if ! unshare -n true 2>/dev/null; then
    echo "SKIP: network namespaces are refused here"
    exit 77
  fi
  exec unshare -n env UPNP_HTTP_E2E_INSIDE=1 bash "$here/$(basename "$0")" "$device"
fi

. "$(dirname "$0")/e2e_lib.sh"
ip link set lo up
e2e_init "$device"

# --- the GENA callback listener: records every request, answers 200 ---------------------------
cat >"$work/listener.py" <<'PY'
import http.server, os, sys
folder, port_file, host = sys.argv[1], sys.argv[2], sys.argv[3]
count = 0
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_NOTIFY(self):
        global count
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        path = os.path.join(folder, "notify-%d" % count)
        with open(path + ".tmp", "wb") as out:
            out.write(("%s %s\n" % (self.command, self.path)).encode())
            out.write(str(self.headers).encode() + b"\n" + body)
        os.rename(path + ".tmp", path)
        count += 1
        self.send_response(200)
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *args):
        pass
server = http.server.HTTPServer((host, 0), Handler)
with open(port_file + ".tmp", "w") as out:
    out.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
PY
mkdir -p "$work/notify"
python3 "$work/listener.py" "$work/notify" "$work/listener.port" 127.0.0.1 &
listener=$!
trap 'kill $listener 2>/dev/null; e2e_cleanup' EXIT

# Waits until the listener has recorded request N (0-based); fails after 10 s.
wait_notify() {
  local _
  for _ in $(seq 1 100); do
    [ -f "$work/notify/notify-$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# --- the device ---------------------------------------------------------------------------------
e2e_start dev "device at" "$device" --name T
echo "device at $url"
if [[ "$url" =~ ^http://127\.0\.0\.1:([0-9]+)/DeviceDescription\.xml$ ]] &&
  [ "${BASH_REMATCH[1]}" -ge 1024 ] && [ "${BASH_REMATCH[1]}" -le 2047 ]; then
  echo "PASS: description URL on loopback, port 1024-2047"
else
  fail "description URL" "$url"
fi
base="http://127.0.0.1:$port"

status=$(e2e_fetch desc "$url")
[ "$status" = 200 ] || fail "GET description" "$status"
[ "$(e2e_header desc Content-Type)" = 'text/xml; charset="utf-8"' ] ||
  fail "description content type" "$(e2e_header desc Content-Type)"
grep -q '<friendlyName>T</friendlyName>' "$work/desc.body" || fail "friendly name in description"
xmllint --noout "$work/desc.body" || fail "description is not well-formed"
control=$(sed -n 's#.*<controlURL>\(.*\)</controlURL>.*#\1#p' "$work/desc.body")
event=$(sed -n 's#.*<eventSubURL>\(.*\)</eventSubURL>.*#\1#p' "$work/desc.body")
if [ -z "$control" ] || [ -z "$event" ]; then fail "control and event URLs in description"; fi

# --- SOAP ---------------------------------------------------------------------------------------
apply() { # OPERATION AMOUNT
  printf '%s' '<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"' \
    ' s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>' \
    '<u:Apply xmlns:u="urn:schemas-lanyard-org:service:Counter:1">' \
    "<Operation>$1</Operation><Amount>$2</Amount><Note>e2e</Note></u:Apply></s:Body></s:Envelope>"
}
soap_action='SOAPAction: "urn:schemas-lanyard-org:service:Counter:1#Apply"'
status=$(e2e_fetch multiply -X POST -H "$soap_action" -H 'Content-Type: text/xml; charset="utf-8"' \
  --data-binary "$(apply Multiply 1)" "$base$control")
[ "$status" = 500 ] || fail "Apply Multiply status" "$status"
grep -q '<errorCode>701</errorCode>' "$work/multiply.body" || fail "Apply Multiply error code"
grep -q 'Invalid Name' "$work/multiply.body" || fail "Apply Multiply error description"

status=$(e2e_fetch foo -X FOO "$base/")
[ "$status" = 405 ] || fail "method FOO" "$status"

head -c 2097152 /dev/zero >"$work/big"
status=$(e2e_fetch big -X POST -H "$soap_action" --data-binary @"$work/big" "$base$control")
[ "$status" = 413 ] || fail "2 MiB body" "$status"

# --- GENA ---------------------------------------------------------------------------------------
for _ in $(seq 1 100); do [ -f "$work/listener.port" ] && break; sleep 0.1; done
listener_port=$(cat "$work/listener.port" 2>/dev/null)
[ -n "$listener_port" ] || fail "callback listener did not start"

# Another address of the loopback net: refused, and nothing may connect there.
python3 "$work/listener.py" "$work/notify" "$work/stranger.port" 127.0.0.2 &
stranger=$!
for _ in $(seq 1 100); do [ -f "$work/stranger.port" ] && break; sleep 0.1; done
status=$(e2e_fetch stranger -X SUBSCRIBE -H 'NT: upnp:event' \
  -H "CALLBACK: <http://127.0.0.2:$(cat "$work/stranger.port")/x>" "$base$event")
[ "$status" = 412 ] || fail "SUBSCRIBE with a foreign callback" "$status"
status=$(e2e_fetch stranger9 -X SUBSCRIBE -H 'NT: upnp:event' -H 'CALLBACK: <http://127.0.0.2:9/x>' "$base$event")
[ "$status" = 412 ] || fail "SUBSCRIBE with callback 127.0.0.2:9" "$status"
[ -n "$(e2e_header stranger SID)" ] && fail "412 answer carries a SID"

status=$(e2e_fetch subscribe -X SUBSCRIBE -H 'NT: upnp:event' -H 'TIMEOUT: Second-300' \
  -H "CALLBACK: <http://127.0.0.1:$listener_port/event>" "$base$event")
[ "$status" = 200 ] || fail "SUBSCRIBE" "$status"
sid=$(e2e_header subscribe SID)
[[ "$sid" =~ ^uuid:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$ ]] || fail "SID" "$sid"
[ "$(e2e_header subscribe TIMEOUT)" = "Second-300" ] || fail "TIMEOUT (the shorter lease asked for)" "$(e2e_header subscribe TIMEOUT)"
if wait_notify 0; then
  first="$work/notify/notify-0"
  grep -q '^NOTIFY /event' "$first" || fail "initial NOTIFY request line" "$(head -1 "$first")"
  grep -qi "^SID: $sid" "$first" || fail "initial NOTIFY SID"
  grep -qi '^SEQ: 0' "$first" || fail "initial NOTIFY SEQ"
  grep -q '<Value>0</Value>' "$first" || fail "initial NOTIFY value" "$(cat "$first")"
else
  fail "no initial NOTIFY"
fi

status=$(e2e_fetch add -X POST -H "$soap_action" --data-binary "$(apply Add 5)" "$base$control")
[ "$status" = 200 ] || fail "Apply Add" "$status"
grep -q '<NewValue>5</NewValue>' "$work/add.body" || fail "Apply Add result" "$(cat "$work/add.body")"
if wait_notify 1; then
  grep -qi '^SEQ: 1' "$work/notify/notify-1" || fail "second NOTIFY SEQ"
  grep -q '<Value>5</Value>' "$work/notify/notify-1" || fail "second NOTIFY value"
else
  fail "no NOTIFY after Apply"
fi

status=$(e2e_fetch unsubscribe -X UNSUBSCRIBE -H "SID: $sid" "$base$event")
[ "$status" = 200 ] || fail "UNSUBSCRIBE" "$status"
status=$(e2e_fetch unsubscribe2 -X UNSUBSCRIBE -H "SID: $sid" "$base$event")
[ "$status" = 412 ] || fail "second UNSUBSCRIBE" "$status"

kill "$stranger" 2>/dev/null
wait "$stranger" 2>/dev/null
received=$(find "$work/notify" -type f | wc -l)
[ "$received" = 2 ] || fail "requests reached a callback that was refused" "$received requests"

# --- stop within 5 s ----------------------------------------------------------------------------
pid=${E2E_PID[dev]}
kill -TERM "$pid"
for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then
  fail "upnpdevice still running 5 s after SIGTERM"
  e2e_stop dev
else
  E2E_PID[dev]=""
  wait "$pid"
  status=$?
  [ "$status" = 0 ] || fail "upnpdevice exit status on SIGTERM" "$status"
  if [ -s "$work/dev.err" ]; then
    fail "upnpdevice wrote to standard error" "$(cat "$work/dev.err")"
  fi
fi
e2e_finish "UPnP HTTP"
