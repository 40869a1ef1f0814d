#!/usr/bin/env bash
# Interfaces and multicast in a network namespace of the test's own (nothing leaves it):
# - `klprobe ifaces --loopback` lists nothing while lo lacks the multicast flag, then lo; the
#   loopback fallback (`--loopback-only`) takes lo either way;
# - with a route for 224.0.0.0/4 on lo, `klprobe mcast-recv` receives what `klprobe mcast-send`
#   sends to 239.255.255.250, and times out when nothing comes;
# - a veth pair named en0/eth9 (a labelled second address on en0) is enumerated with the names,
#   flags, hardware addresses, addresses, masks and broadcasts that `ip` shows.
#
# usage: net_namespace_e2e.sh PATH-TO-KLPROBE        (exit 77: network namespaces are refused here)
set -uo pipefail

klprobe=${1:?usage: net_namespace_e2e.sh PATH-TO-KLPROBE}
if ! unshare -n true 2>/dev/null; then
  echo "SKIP: network namespaces are refused here"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unshare -n bash -s "$klprobe" "$work" <<'INNER'
set -uo pipefail
P=$1
work=$2
failures=0
pass() { echo "PASS: $1"; }
fail() { echo "FAIL: $1"; [ $# -gt 1 ] && printf '%s\n' "$2"; failures=$((failures + 1)); }

# --- loopback and the multicast flag -------------------------------------------------------
ip link set lo up
out=$("$P" ifaces --loopback 2>&1)
if [ $? = 0 ] && [ -z "$out" ]; then pass "lo without multicast is not usable"; else fail "lo listed without multicast" "$out"; fi
out=$("$P" ifaces --loopback-only 2>&1)
expected="lo flags=0x01 mac=00:00:00:00:00:00
  127.0.0.1 mask 255.0.0.0 brd 0.0.0.0 dst 0.0.0.0"
if [ "$out" = "$expected" ]; then pass "the loopback fallback takes lo without multicast"; else
  fail "ifaces --loopback-only without multicast" "$out"
fi
ip link set lo multicast on
out=$("$P" ifaces --loopback-only 2>&1)
expected="lo flags=0x09 mac=00:00:00:00:00:00
  127.0.0.1 mask 255.0.0.0 brd 0.0.0.0 dst 0.0.0.0"
if [ "$out" = "$expected" ]; then pass "lo with multicast is usable"; else fail "ifaces --loopback-only" "$out"; fi
out=$("$P" ifaces 2>&1)
if [ $? = 0 ] && [ -z "$out" ]; then pass "no usable interface besides loopback"; else fail "ifaces without loopback" "$out"; fi

# --- multicast on loopback ------------------------------------------------------------------
ip route add 224.0.0.0/4 dev lo
"$P" mcast-recv 239.255.255.250 1900 127.0.0.1 1 5000 >"$work/recv.out" 2>"$work/recv.err" &
receiver=$!
for _ in $(seq 1 50); do
  kill -0 "$receiver" 2>/dev/null || break
  "$P" mcast-send 239.255.255.250 1900 127.0.0.1 hi || fail "mcast-send failed"
  sleep 0.1
done
wait "$receiver"
code=$?
if [ "$code" = 0 ] && grep -Eqx '127\.0\.0\.1:[0-9]+ hi' "$work/recv.out"; then
  pass "datagram received from the group"
else
  fail "mcast-recv exited $code" "$(cat "$work/recv.out" "$work/recv.err")"
fi
"$P" mcast-recv 239.255.255.250 1901 127.0.0.1 1 300 >"$work/quiet.out" 2>"$work/quiet.err"
code=$?
if [ "$code" = 1 ] && [ "$(cat "$work/quiet.err")" = KL_ERROR_TIMEOUT ] && [ ! -s "$work/quiet.out" ]; then
  pass "nothing sent: KL_ERROR_TIMEOUT"
else
  fail "quiet mcast-recv exited $code" "$(cat "$work/quiet.out" "$work/quiet.err")"
fi

# --- a veth pair as the LAN ----------------------------------------------------------------
if ! ip link add en0 type veth peer name eth9 2>"$work/veth.err"; then
  echo "SKIP: veth pairs are refused here: $(cat "$work/veth.err")"
  exit 77
fi
ip addr add 10.77.0.1/24 brd + dev en0
ip addr add 10.78.0.1/16 dev en0 label en0:1
ip addr add 10.77.0.2/24 brd + dev eth9
ip link set en0 up
ip link set eth9 up

mask() { # prefix length -> dotted net mask
  local bits=$(( 0xFFFFFFFF ^ ((1 << (32 - $1)) - 1) ))
  echo "$(( bits >> 24 & 255 )).$(( bits >> 16 & 255 )).$(( bits >> 8 & 255 )).$(( bits & 255 ))"
}
# What ip shows: "NAME ADDRESS mask M brd B" per address of an interface that is up.
ip -4 -o addr show up | while read -r _ name _ cidr rest; do
  brd=0.0.0.0
  set -- $rest
  [ "${1:-}" = brd ] && brd=$2
  echo "$name ${cidr%/*} mask $(mask "${cidr#*/}") brd $brd"
done | sort >"$work/ip.txt"
"$P" ifaces --all >"$work/ifaces.txt" || fail "ifaces --all failed"
awk '/^[^ ]/ { name = $1 } /^  / { print name, $1, $2, $3, $4, $5 }' "$work/ifaces.txt" | sort >"$work/probe.txt"
if diff "$work/ip.txt" "$work/probe.txt" >"$work/diff.txt"; then
  pass "ifaces --all shows the addresses ip shows"
else
  fail "ifaces --all differs from ip" "$(cat "$work/diff.txt")"
fi
for name in en0 eth9; do
  mac=$(ip -o link show "$name" | sed -n 's/.*link\/ether \([0-9a-f:]*\) .*/\1/p')
  if grep -qx "$name flags=0x0c mac=$mac" "$work/ifaces.txt"; then
    pass "$name: flags and hardware address"
  else
    fail "$name record (mac $mac)" "$(cat "$work/ifaces.txt")"
  fi
done
out=$("$P" ifaces | grep -v '^ ' | cut -d' ' -f1 | sort | tr '\n' ' ')
if [ "$out" = "en0 eth9 " ]; then pass "usable: en0 and eth9"; else fail "usable interfaces: $out"; fi
out=$("$P" ifaces --loopback | grep -v '^ ' | cut -d' ' -f1 | sort | tr '\n' ' ')
if [ "$out" = "en0 eth9 lo " ]; then pass "usable with loopback: en0, eth9 and lo"; else fail "usable with loopback: $out"; fi
exit $failures
INNER
