#!/usr/bin/env bash
# dlnaserve under clients that hold connections, inside two network namespaces (netns_lib.sh):
# 99 idle connections from the client namespace (one peer address: 16 are kept, the others
# closed at once) do not delay a GET of the description beyond 5 s; a media URL that names
# nothing servable answers the server's 404 page; and a control point on the server's own
# computer (its LAN address), started once the start-up NOTIFYs are over, finds it by searching.
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

# Nothing servable under the media URL root: the server's own 404 page.
for path in none.mp3 Music Music/../../share/Music/song.mp3; do
  netns_cp curl -s -m 10 --path-as-is -o "$work/missing.body" -D "$work/missing.head" "$base/%25/$path" || true
  head -1 "$work/missing.head" | grep -q '^HTTP/1.1 404 Not Found' ||
    fail "GET /%25/$path answers 404 Not Found" "$(head -1 "$work/missing.head")"
  grep -q '<title>404 Not Found</title>' "$work/missing.body" || fail "GET /%25/$path carries the 404 page"
done

e2e_stop dlnaserve
e2e_finish "DLNA connections"
