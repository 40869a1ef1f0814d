#!/usr/bin/env bash
# dlnaserve under clients that hold connections, inside two network namespaces (netns_lib.sh):
# 99 idle connections from the client namespace (one peer address: 16 are kept, the others
# closed at once) do not delay a GET of the description beyond 5 s; and a media URL that names
# nothing servable answers the server's 404 page.
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
