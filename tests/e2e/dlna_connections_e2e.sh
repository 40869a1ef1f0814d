#!/usr/bin/env bash
# dlnaserve under clients that hold connections, inside two network namespaces (netns_lib.sh):
# 99 idle connections from the client namespace (one peer address: 16 are kept, the others
# refused at once) do not delay a GET of the description beyond 5 s; a real client on an address
# of its own is answered within 3 s beside many addresses that trickle heads, stall downloads or
# reconnect idle connections; a media URL that names nothing servable answers the server's 404
# page; and a control point on the server's own computer (its LAN address), started once the
# start-up NOTIFYs are over, finds it by searching.
#
#   dlna_connections_e2e.sh DLNASERVE
#
# Exits 77 where namespaces are refused.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"
. "$here/netns_lib.sh"
e2e_init "${1:?usage: dlna_connections_e2e.sh DLNASERVE}"
netns_up
trap 'netns_down; e2e_cleanup' EXIT
chmod 755 "$work"
share=$work/share
mkdir -p "$share/Music"
head -c 4096 /dev/zero >"$share/Music/song.mp3"

e2e_start dlnaserve "device at" ip netns exec "$NS_DEV" "$E2E_PROGRAM" "$share" "Lanyard Slots"
location=$url
base=${location%/DeviceDescription.xml}

# A player on the same computer searches from the LAN address (multicast, looped back to the
# server) 3 s after the start: only an answer to its search can show it the server.
sleep 3
if command -v gssdp-discover >/dev/null 2>&1; then
  netns_dev timeout 10 gssdp-discover -i en0 -t urn:schemas-upnp-org:device:MediaServer:1 -n 6 >"$work/own.out" 2>&1
  grep -q "Location: $location" "$work/own.out" ||
    fail "gssdp-discover on the server's own address finds it within 6 s" "$(tr '\n' ' ' <"$work/own.out")"
else
  own=$(netns_dev timeout 10 /usr/bin/python3 "$here/upnp_ssdp_search.py" count 239.255.255.250 "$NETNS_DEV_ADDRESS" \
    urn:schemas-upnp-org:device:MediaServer:1)
  [ "$own" = 2 ] || fail "a search from the server's own address is answered" "$own answers"
fi

# 99 connections that never send a byte, held open while the description is fetched.
netns_cp /usr/bin/python3 - "$NETNS_DEV_ADDRESS" "$port" "$work/held" <<'PYEOF' &
import socket, sys, time
host, port, marker = sys.argv[1], int(sys.argv[2]), sys.argv[3]
held = []
for _ in range(99):
    s = socket.socket()
    s.settimeout(5)
    try:
        s.connect((host, port))
    except OSError:
        pass
    held.append(s)
open(marker, "w").write("held\n")
time.sleep(30)
PYEOF
holder=$!
for _ in $(seq 1 100); do [ -s "$work/held" ] && break; sleep 0.1; done
[ -s "$work/held" ] || fail "99 connections opened"
status=$(netns_cp curl -s -m 5 -o "$work/description.body" -w '%{http_code}' "$location" || true)
[ "$status" = 200 ] || fail "GET of the description within 5 s beside 99 idle connections" "status $status"
grep -q '<friendlyName>Lanyard Slots</friendlyName>' "$work/description.body" || fail "the description's body"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

# A real client on an address of its own (the description, a Browse and 1 MB of a file, each
# answered within 3 s) beside hosts that hold more connections than the server has slots:
# (heads) 7 addresses x 16 always part way through a head spread over 9.5 s, kept alive;
# (downloads) 7 x 16 that ask for a large file and read nothing; (idle) 20 x 16 that send nothing
# and reconnect as soon as the server closes them. Each flood stops by itself after 20 s.
truncate -s 64M "$share/Music/big.mp3"
for i in $(seq 10 29) 100; do ip -n "$NS_CP" addr add "10.231.7.$i/24" dev cp0; done
control=$(grep -o '/ContentDirectory/[^<]*/control.xml' "$work/description.body" | head -1)
browse='<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Browse xmlns:u="urn:schemas-upnp-org:service:ContentDirectory:1"><ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>'
cat >"$work/flood.py" <<'PYEOF'
import errno, socket, sys, time
shape, host, port, marker = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
start = time.time()
head = b"GET /DeviceDescription.xml HTTP/1.1\r\nHost: x\r\nX-Slow: "
def connect(address):
    s = socket.socket()
    if shape == "downloads":
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.setblocking(False)
    s.bind((address, 0))
    try:
        s.connect((host, port))
    except BlockingIOError:
        pass
    return {"s": s, "a": address, "head": time.time(), "sent": False}
peers = 20 if shape == "idle" else 7
conns = [connect("10.231.7.%d" % (10 + i)) for i in range(peers) for _ in range(16)]
settle = 5 if shape == "downloads" else 1  # downloads: until their answers have stalled for 3 s
while time.time() - start < 20:
    now = time.time()
    if marker and now - start > settle:
        open(marker, "w").write("up\n")
        marker = ""
    for c in conns:
        s = c["s"]
        try:
            if shape == "downloads":
                if not c["sent"]:
                    s.send(b"GET /%25/Music/big.mp3 HTTP/1.1\r\nHost: x\r\n\r\n")
                    c["sent"] = True
                continue
            if shape == "heads":
                if not c["sent"] or now - c["head"] >= 9.5:  # the next head starts at once
                    s.send((b"\r\n\r\n" if c["sent"] else b"") + head)
                    c["head"], c["sent"] = now, True
                else:
                    s.send(b"x")
            if s.recv(65536) == b"":
                raise ConnectionResetError()
        except (BlockingIOError, InterruptedError):
            pass
        except OSError as e:
            if e.errno not in (errno.ENOTCONN, errno.EAGAIN):
                s.close()
                c.update(connect(c["a"]))
    time.sleep(0.01 if shape == "idle" else 0.5)
PYEOF
for shape in heads downloads idle; do
  rm -f "$work/flood-up"
  ip netns exec "$NS_CP" python3 "$work/flood.py" "$shape" "$NETNS_DEV_ADDRESS" "$port" "$work/flood-up" &
  flood=$!
  for _ in $(seq 1 100); do [ -s "$work/flood-up" ] && break; sleep 0.1; done
  [ -s "$work/flood-up" ] || fail "$shape: the flood started"
  real=(netns_cp curl -s -m 3 --interface 10.231.7.100 -w '%{http_code}')
  status=$("${real[@]}" -o "$work/real.body" "$location" || true)
  [ "$status" = 200 ] || fail "$shape: the description within 3 s" "status $status"
  status=$("${real[@]}" -o "$work/real.body" -H 'Content-Type: text/xml; charset="utf-8"' \
    -H 'SOAPAction: "urn:schemas-upnp-org:service:ContentDirectory:1#Browse"' --data-binary "$browse" \
    "$base$control" || true)
  { [ "$status" = 200 ] && grep -q 'Music' "$work/real.body"; } || fail "$shape: a Browse within 3 s" "status $status"
  status=$("${real[@]}" -o "$work/real.body" -r 0-1048575 "$base/%25/Music/big.mp3" || true)
  { [ "$status" = 206 ] && [ "$(stat -c %s "$work/real.body")" = 1048576 ]; } ||
    fail "$shape: 1 MB of a file within 3 s" "status $status"
  kill "$flood" 2>/dev/null
  wait "$flood" 2>/dev/null
done

# Nothing servable under the media URL root: the server's own 404 page.
for path in none.mp3 Music Music/../../share/Music/song.mp3; do
  netns_cp curl -s -m 10 --path-as-is -o "$work/missing.body" -D "$work/missing.head" "$base/%25/$path" || true
  head -1 "$work/missing.head" | grep -q '^HTTP/1.1 404 Not Found' ||
    fail "GET /%25/$path answers 404 Not Found" "$(head -1 "$work/missing.head")"
  grep -q '<title>404 Not Found</title>' "$work/missing.body" || fail "GET /%25/$path carries the 404 page"
done

e2e_stop dlnaserve
e2e_finish "DLNA connections"
