#!/usr/bin/env bash
# dlnaserve under LAN peers that hold connections, inside two network namespaces (netns_lib.sh):
# the server in one, its peers on many addresses of the other (dlna_peers.py, and
# dlna_answer_peers.py for the peers that hold answers or pipeline). GROUP picks the
# checks (one server each, so the groups run as separate tests):
#   basic  99 idle connections from one address do not delay a GET of the description beyond
#          5 s; a real client on an address of its own (the description, a Browse and 1 MB of a
#          file, each within 3 s) beside addresses that trickle heads, stall downloads or
#          reconnect idle connections; a media URL that names nothing servable answers the
#          server's 404 page; a control point on the server's own computer (its LAN address),
#          started once the start-up NOTIFYs are over, finds it by searching.
#   slow   beside 7 x 16 and beside 100 x 1 downloads read slowly (4 KiB of a 4 KiB receive buffer
#          every 2.5 s), a real client on a fresh address is answered within 3 s every time, and
#          a TV streams a file at 400 KB/s to the end while 90 % of its parallel requests are
#          served. Beside 7 x 16 downloads of a film that read nothing (4 KiB receive buffers,
#          reopened when closed), a real client is answered within 3 s in each of 3 rounds 4 s
#          apart (so, into the answers' pause).
#   ties   beside 50 addresses x 2 reopened trickling heads, a TV with 2 streams gets 90 % of its
#          requests and both streams to the end; beside 100 x 1 reopened idle connections, 90 %
#          of a TV's requests are served and its stream, paused for 8 s, goes on.
#   load   one address holding 16 streams read at 400 KB/s asks for 10 more: each refusal is a
#          503 (at most 1 in 10 a reset); 200 kept-alive control points on 50 addresses, 40
#          BrowseMetadata each, twice: every request answered (none refused, none lost).
#   idle   on a server with slots to spare, every answer comes at once: 60 connections opened at
#          once from one address, one 20 KB photo each, all served within 0.5 s; 2 addresses x 30
#          at once, 5 rounds, all served; 2 addresses x a kept-alive pool of 30, each connection
#          used again 2 s later, all served within 0.5 s and none closed by the server. Beside
#          them (they end within seconds; the rest of the pause has the server to itself) a
#          stream paused for 40 s (PAUSE_SECONDS) reads on to the end on its one connection.
#   share  streams read at 16 KB/s and 8 KB/s from one address beside 200 kept-alive control
#          points on 50 addresses, 20 BrowseMetadata each: neither stream cut, every request
#          answered. A TV streams a file to the end and 90 % of its requests are served
#          beside 100 x 1 connections reopened to keep a refused request's drain busy; beside 100
#          downloads read at 64 KB/s from one address; and beside 120 x 1 kept-alive connections
#          that ask for the description every 0.5 s, where a real client on a fresh address is
#          answered within 3 s every time too.
#   silent 99 GETs of a film that read nothing fill the slots (9 addresses x 11), 45 newcomers
#          wait for them once, then 3 of them are swapped for kept-alive connections that send a
#          HEAD every 0.3 s: a real client is answered within 3 s every time, and a TV streams to
#          the end with 90 % of its requests served. Beside 94 such answers (47 addresses x 2)
#          and 15 addresses that poll with a HEAD every 0.3 s and come back at once when closed
#          or refused (5 hold the slots left, the others wait as spares), a TV that streams gets
#          its stream to the end and 90 % of its requests.
#   pipelines  16 kept-alive connections from one address, each sending its next GET of 1 MiB as
#          soon as an answer's head has come and reading at 256 KB/s, beside 84 listeners at
#          7 KB/s (21 addresses x 4) and a fresh client every 0.5 s, for 20 s: every answer comes
#          whole, whether it announced "Connection: close" or not (a reset or a short body fails).
#
#   dlna_connections_e2e.sh DLNASERVE [GROUP]      (GROUP: basic by default)
#
# Exits 77 where namespaces are refused.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"
. "$here/netns_lib.sh"
e2e_init "${1:?usage: dlna_connections_e2e.sh DLNASERVE [GROUP]}"
group=${2:-basic}
case $group in basic | slow | ties | load | idle | share | silent | pipelines) ;; *) fail "unknown group $group" && e2e_finish "DLNA connections" ;; esac
netns_up
trap 'netns_down; e2e_cleanup' EXIT
chmod 755 "$work"
share=$work/share
mkdir -p "$share/Music" "$share/Video" "$share/Pictures" "$share/Items"
head -c 4096 /dev/zero >"$share/Music/song.mp3"
truncate -s 64M "$share/Music/big.mp3"
head -c 2400000 /dev/zero >"$share/Video/tv.mpg"
for i in $(seq 0 9); do head -c 8192 /dev/zero >"$share/Pictures/thumb$i.jpg"; done
for i in $(seq 0 9); do head -c 20480 /dev/zero >"$share/Pictures/photo$i.jpg"; done
truncate -s 16M "$share/Video/film.mpg"
head -c 1048576 /dev/zero >"$share/Video/clip.mpg"
for i in $(seq 10 29); do head -c 4096 /dev/zero >"$share/Items/item$i.mp3"; done
# Peers: 10.231.7.10-149 hostile (and the idle server's bursts), .150-199 control points,
# .200-219 real clients, .220-239 TVs and listeners.
for i in $(seq 10 239); do ip -n "$NS_CP" addr add "10.231.7.$i/24" dev cp0; done
fresh=200 # the next real client's address
tv=220    # the next TV's address

e2e_start dlnaserve "device at" ip netns exec "$NS_DEV" "$E2E_PROGRAM" "$share" "Lanyard Slots"
location=$url
base=${location%/DeviceDescription.xml}
status=$(netns_cp curl -s -m 5 -o "$work/description.body" -w '%{http_code}' "$location" || true)
[ "$status" = 200 ] || fail "GET of the description" "status $status"
control=$(grep -o '/ContentDirectory/[^<]*/control.xml' "$work/description.body" | head -1)
browse='<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Browse xmlns:u="urn:schemas-upnp-org:service:ContentDirectory:1"><ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>'

# peers_script MODE: the script of a dlna_peers.py mode or flood shape, or of dlna_answer_peers.py's.
peers_script() { case $1 in marked | pipelines) echo "$here/dlna_answer_peers.py" ;; *) echo "$here/dlna_peers.py" ;; esac; }
peers() { netns_cp timeout 150 /usr/bin/python3 "$(peers_script "$1")" "$@"; }

# flood_start SHAPE SOURCES PER SETTLE [ARGS...]: the flood runs (at most 90 s) until flood_stop,
# beside those started before it.
floods=()
flood_start() {
  local shape=$1 sources=$2 per=$3 settle=$4 _
  shift 4
  rm -f "$work/flood-up"
  # ip netns exec becomes python, so that flood_stop ends the flood itself
  ip netns exec "$NS_CP" /usr/bin/python3 "$(peers_script "$shape")" flood "$shape" "$NETNS_DEV_ADDRESS" "$port" \
    "10.231.7.$sources" "$per" 90 "$settle" "$work/flood-up" "$@" &
  floods+=($!)
  for _ in $(seq 1 $((settle * 10 + 200))); do [ -s "$work/flood-up" ] && break; sleep 0.1; done
  [ -s "$work/flood-up" ] || fail "$shape: the flood started"
}
flood_stop() {
  kill "${floods[@]}" 2>/dev/null
  wait "${floods[@]}" 2>/dev/null
  floods=()
}

# real_client WHAT: the description, a Browse and 1 MB of a file, each within 3 s, from a fresh address.
real_client() {
  local what=$1 status real
  real=(netns_cp curl -s -m 3 --interface "10.231.7.$fresh" -w '%{http_code}')
  fresh=$((fresh + 1))
  status=$("${real[@]}" -o "$work/real.body" "$location" || true)
  [ "$status" = 200 ] || fail "$what: the description within 3 s" "status $status"
  status=$("${real[@]}" -o "$work/real.body" -H 'Content-Type: text/xml; charset="utf-8"' \
    -H 'SOAPAction: "urn:schemas-upnp-org:service:ContentDirectory:1#Browse"' --data-binary "$browse" \
    "$base$control" || true)
  { [ "$status" = 200 ] && grep -q 'Music' "$work/real.body"; } || fail "$what: a Browse within 3 s" "status $status"
  status=$("${real[@]}" -o "$work/real.body" -r 0-1048575 "$base/%25/Music/big.mp3" || true)
  { [ "$status" = 206 ] && [ "$(stat -c %s "$work/real.body")" = 1048576 ]; } ||
    fail "$what: 1 MB of a file within 3 s" "status $status"
}

# tv_check WHAT STREAMS PAUSE: a TV on an address of its own (dlna_peers.py tv).
tv_check() {
  local what=$1 out
  out=$(peers tv "$NETNS_DEV_ADDRESS" "$port" "10.231.7.$tv" "$2" "$3" 2>&1) ||
    fail "$what: a TV's streams to the end and 90 % of its requests served" "$out"
  echo "$what: TV $out"
  tv=$((tv + 1))
}

basic() {
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
  local holder=$! _ path
  for _ in $(seq 1 100); do [ -s "$work/held" ] && break; sleep 0.1; done
  [ -s "$work/held" ] || fail "99 connections opened"
  status=$(netns_cp curl -s -m 5 -o "$work/description.body" -w '%{http_code}' "$location" || true)
  [ "$status" = 200 ] || fail "GET of the description within 5 s beside 99 idle connections" "status $status"
  grep -q '<friendlyName>Lanyard Slots</friendlyName>' "$work/description.body" || fail "the description's body"
  kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null

  # Hosts that hold more connections than the server has slots: 7 addresses x 16 always part
  # way through a head; 7 x 16 that ask for a large file and read nothing (until their answers
  # have been paused for 22 s: a shorter pause is a viewer's, whose answer keeps its slot);
  # 20 x 16 that send nothing and reconnect as soon as the server closes them.
  flood_start heads 10-16 16 1
  real_client heads
  flood_stop
  flood_start stalls 10-16 16 22
  real_client downloads
  flood_stop
  flood_start idle 10-29 16 1
  real_client idle
  flood_stop

  # Nothing servable under the media URL root: the server's own 404 page.
  for path in none.mp3 Music Music/../../share/Music/song.mp3; do
    netns_cp curl -s -m 10 --path-as-is -o "$work/missing.body" -D "$work/missing.head" "$base/%25/$path" || true
    head -1 "$work/missing.head" | grep -q '^HTTP/1.1 404 Not Found' ||
      fail "GET /%25/$path answers 404 Not Found" "$(head -1 "$work/missing.head")"
    grep -q '<title>404 Not Found</title>' "$work/missing.body" || fail "GET /%25/$path carries the 404 page"
  done
}

# Downloads read slowly keep moving, at about 2 KB/s each: they hold their slots for 11 s first.
slow_round() { # SOURCES PER WHAT
  flood_start slowreads "$1" "$2" 11
  real_client "$3"
  real_client "$3"
  real_client "$3"
  tv_check "$3" 1 0
  flood_stop
}
slow() {
  slow_round 10-16 16 "7 x 16 slow downloads"
  slow_round 10-109 1 "100 x 1 slow downloads"
  # Reading nothing, reopened when closed: each round a few seconds further into their pause.
  flood_start silent 10-16 16 3
  real_client "7 x 16 downloads reading nothing"
  sleep 4
  real_client "7 x 16 downloads reading nothing"
  sleep 4
  real_client "7 x 16 downloads reading nothing"
  flood_stop
}

ties() {
  flood_start heads 10-59 2 2
  tv_check "50 x 2 heads" 2 0
  flood_stop
  flood_start idle 10-109 1 2
  tv_check "100 x 1 idle" 2 8
  flood_stop
}

load() {
  local out
  out=$(peers refusals "$NETNS_DEV_ADDRESS" "$port" 10.231.7.$tv 2>&1) ||
    fail "16 streams read on and 10 more refused with a 503 (at most 1 in 10 a reset)" "$out"
  echo "refusals: $out"
  for round in 1 2; do
    out=$(peers control "$NETNS_DEV_ADDRESS" "$port" 10.231.7.150-199 200 40 2>&1) ||
      fail "200 control points, round $round: every request answered" "$out"
    echo "control points, round $round: $out"
  done
}

# peers_check WHAT MODE ARGS...: a dlna_peers.py mode against the server, its figures printed.
peers_check() {
  local what=$1 mode=$2 out
  shift 2
  out=$(peers "$mode" "$NETNS_DEV_ADDRESS" "$port" "$@" 2>&1) || fail "$what" "$out"
  echo "$mode: $out"
}

idle() {
  local pause=${PAUSE_SECONDS:-40} pauser
  peers pause "$NETNS_DEV_ADDRESS" "$port" "10.231.7.$tv" "$pause" >"$work/pause.out" 2>&1 &
  pauser=$!
  tv=$((tv + 1))
  peers_check "60 at once from one address: all served within 0.5 s" burst 10.231.7.10 60 1 0.5
  peers_check "2 addresses x 30 at once, 5 rounds: all served" burst 10.231.7.11-12 30 5 10
  peers_check "2 kept-alive pools of 30, used again 2 s later: all served within 0.5 s, none closed" \
    pools 10.231.7.13-14 30 2 0.5
  wait "$pauser" || fail "a stream paused for $pause s reads on to the end" "$(cat "$work/pause.out")"
  echo "pause: $(cat "$work/pause.out")"
}

share() {
  peers_check "streams at 16 and 8 KB/s beside 200 control points: neither cut, every request answered" \
    listeners "10.231.7.$tv" 16000,8000 10 10.231.7.150-199 200 20
  tv=$((tv + 1))
  flood_start refused 10-109 1 3
  tv_check "100 x 1 refused requests" 1 0
  flood_stop
  flood_start downloads 10 100 3
  tv_check "100 downloads from one address" 1 0
  flood_stop
  flood_start polls 10-129 1 3
  real_client "120 x 1 polling"
  real_client "120 x 1 polling"
  real_client "120 x 1 polling"
  tv_check "120 x 1 polling" 1 0
  flood_stop
}

silent() {
  flood_start marked 10-18 11 3 10.231.7.100-144 3
  echo "99 silent answers, 45 newcomers: $(cat "$work/flood-up")"
  real_client "99 silent answers and pollers"
  real_client "99 silent answers and pollers"
  tv_check "99 silent answers and pollers" 1 0
  real_client "99 silent answers and pollers"
  flood_stop
  flood_start silent 10-56 2 3
  flood_start returning 130-144 1 2
  tv_check "94 silent answers and 15 returning pollers" 1 0
  flood_stop
}

pipelines() {
  peers_check "16 pipelining connections beside 84 listeners at 7 KB/s and a fresh client every 0.5 s: every answer whole" \
    pipelines 10.231.7.10 16 10.231.7.20-40 4 10.231.7.150-199 20
}

"$group"
e2e_stop dlnaserve
e2e_finish "DLNA connections ($group)"
