# shellcheck shell=bash
# netns_lib.sh: two network namespaces joined by one veth pair, for SSDP and DLNA checks.
# Nothing in them reaches the machine's own network: no default route, no forwarding, and a
# resolv.conf that names 127.0.0.1, so no name lookup leaves either.
#
#   device side  NS_DEV  en0 10.231.7.1/24  ── veth ──  cp0 10.231.7.2/24  NS_CP  client side
#
# Source it from bash (also `bash -c '. tests/e2e/netns_lib.sh; ...'`), then:
#   netns_up              creates both namespaces and sets NS_DEV and NS_CP (exits 77 with a
#                         message where namespaces are refused)
#   netns_dev CMD...      runs CMD in the device namespace (ip netns exec)
#   netns_cp CMD...       runs CMD in the client namespace
#   netns_down            ends every process still running in the namespaces (by PID), deletes
#                         both namespaces and their /etc/netns/NAME folders; also runs on EXIT
# Both namespaces have lo up and a 224.0.0.0/4 route on their veth end.

NS_DEV=${NS_DEV:-}
NS_CP=${NS_CP:-}
NETNS_DEV_ADDRESS=10.231.7.1
NETNS_CP_ADDRESS=10.231.7.2
_netns_made=()

_netns_skip() {
  echo "SKIP: network namespaces are refused here: $*"
  netns_down
  exit 77
}

_netns_prepare() { # NAME ADDRESS IFACE
  local ns=$1 address=$2 iface=$3
  mkdir -p "/etc/netns/$ns" || return 1
  echo "nameserver 127.0.0.1" >"/etc/netns/$ns/resolv.conf" || return 1
  ip -n "$ns" link set lo up || return 1
  ip netns exec "$ns" sysctl -qw net.ipv4.ip_forward=0 >/dev/null 2>&1 || true
  ip -n "$ns" addr add "$address/24" brd + dev "$iface" || return 1
  ip -n "$ns" link set "$iface" up || return 1
  ip -n "$ns" route add 224.0.0.0/4 dev "$iface" || return 1
}

netns_up() {
  local tag err
  [ "$(id -u)" = 0 ] || _netns_skip "not running as root"
  command -v ip >/dev/null 2>&1 || _netns_skip "the ip command is missing"
  tag="$$-$RANDOM"
  NS_DEV="lanyard-dev-$tag"
  NS_CP="lanyard-cp-$tag"
  trap netns_down EXIT
  if ! err=$(ip netns add "$NS_DEV" 2>&1); then _netns_skip "$err"; fi
  _netns_made+=("$NS_DEV")
  if ! err=$(ip netns add "$NS_CP" 2>&1); then _netns_skip "$err"; fi
  _netns_made+=("$NS_CP")
  if ! err=$(ip link add en0 netns "$NS_DEV" type veth peer name cp0 netns "$NS_CP" 2>&1); then
    _netns_skip "veth pair refused: $err"
  fi
  _netns_prepare "$NS_DEV" "$NETNS_DEV_ADDRESS" en0 || _netns_skip "setting up $NS_DEV failed"
  _netns_prepare "$NS_CP" "$NETNS_CP_ADDRESS" cp0 || _netns_skip "setting up $NS_CP failed"
  export NS_DEV NS_CP
}

netns_dev() { ip netns exec "$NS_DEV" "$@"; }
netns_cp() { ip netns exec "$NS_CP" "$@"; }

netns_down() {
  local ns pid round
  for ns in "${_netns_made[@]}"; do
    for round in 1 2 3 4 5 6 7 8 9 10; do
      local pids
      pids=$(ip netns pids "$ns" 2>/dev/null)
      [ -n "$pids" ] || break
      for pid in $pids; do
        if [ "$round" -lt 8 ]; then kill -TERM "$pid" 2>/dev/null; else kill -KILL "$pid" 2>/dev/null; fi
      done
      sleep 0.2
    done
    ip netns del "$ns" 2>/dev/null
    rm -rf "/etc/netns/$ns"
  done
  _netns_made=()
}
