#!/usr/bin/env bash
# SSDP and the engine with real control points: upnpdevice runs in the device namespace of
# netns_lib.sh, the clients in the client namespace (cp0), every step bounded by timeout.
# - gssdp-discover lists the 4 resources with the printed Location, finds the device type (not
#   version 2), and reports the 4 USNs unavailable once upnpdevice stops;
# - a GUPnP 1.6 control point (python3-gi) calls Apply, gets 701 for a refused value and the
#   initial and a later event of Value; the device logs exactly one new subscription;
# - Net::UPnP finds the device, reads its description and calls Apply;
# - raw M-SEARCHes: the malformed ones get no answer, "ssdp:all" 8, a sender off the subnet none,
#   a search repeated while its answer is pending none, a forged broadcast source none;
# - gssdp-discover still finds the device beside a sender flooding M-SEARCHes;
# - during 3 s of forged M-SEARCHes from random hosts of the subnet (300 a second) and from one
#   victim (200 a second), at least 8 of 10 real searches are answered and the victim receives
#   at most 100 answers in any second;
# - in a namespace whose only interface is lo (without the multicast flag), upnpdevice announces
#   on loopback and answers an M-SEARCH from 127.0.0.1;
# - with 0.0.0.0:1900 held without reuse upnpdevice fails with KL_ERROR_ADDRESS_IN_USE.
#
# usage: upnp_ssdp_e2e.sh PATH-TO-UPNPDEVICE     (exit 77: namespaces refused or a client missing)
set -uo pipefail

upnpdevice=${1:?usage: upnp_ssdp_e2e.sh PATH-TO-UPNPDEVICE}
here=$(cd "$(dirname "$0")" && pwd)
device_type=urn:schemas-lanyard-org:device:TestDevice:1
service_type=urn:schemas-lanyard-org:service:Counter:1

skip() {
  echo "SKIP: $*"
  exit 77
}
for tool in gssdp-discover perl timeout stdbuf; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing (scripts/install-deps installs it)"
done
/usr/bin/python3 -c 'import gi; gi.require_version("GUPnP", "1.6"); from gi.repository import GUPnP' 2>/dev/null ||
  skip "GUPnP 1.6 for python3 is missing (gir1.2-gupnp-1.6)"
perl -MNet::UPnP::ControlPoint -e 1 2>/dev/null || skip "Net::UPnP is missing (libnet-upnp-perl)"

# shellcheck source=e2e_lib.sh
. "$here/e2e_lib.sh"
# shellcheck source=netns_lib.sh
. "$here/netns_lib.sh"
e2e_init "$upnpdevice"
netns_up
trap 'e2e_cleanup; netns_down' EXIT

pass() { echo "PASS: $1"; }

export KEEL_LOG_CONFIG="plist:upnp.level=FINE;upnp.handlers=FileHandler;upnp.FileHandler.filename=$work/device.log;upnp.FileHandler.flush=true;upnp.forward=no"
e2e_start device "device at" ip netns exec "$NS_DEV" "$upnpdevice"
unset KEEL_LOG_CONFIG
location="http://$NETNS_DEV_ADDRESS:$port/DeviceDescription.xml"
if [ "$url" = "$location" ]; then pass "device at $url"; else fail "device URL" "$url"; fi

# --- gssdp-discover --------------------------------------------------------------------------
discover() { # OUTPUT ARGS...
  local out=$1
  shift
  netns_cp timeout 20 stdbuf -oL gssdp-discover -i cp0 "$@" >"$work/$out" 2>&1
}
discover all.out -n 6 &
all_pid=$!
discover type.out -n 4 -t "$device_type" &
type_pid=$!
discover type2.out -n 4 -t "${device_type%1}2" &
type2_pid=$!
wait "$all_pid" "$type_pid" "$type2_pid"
lists_four() { # OUTPUT
  local usns locations
  usns=$(awk '/^ *USN:/ { print $2 }' "$work/$1" | sort -u)
  locations=$(awk '/^ *Location:/ { print $2 }' "$work/$1" | sort -u)
  [ "$(grep -c 'resource available' "$work/$1")" = 4 ] && [ "$(wc -l <<<"$usns")" = 4 ] &&
    [ "$locations" = "$location" ]
}
# Datagrams of a loaded machine (the other checks run beside this one) may come late: one more
# scan on its own before the verdict.
if lists_four all.out || { discover all-again.out -n 6; lists_four all-again.out; }; then
  pass "gssdp-discover lists 4 resources at $location"
else
  fail "gssdp-discover -n 6" "$(cat "$work/all.out"; echo ---; cat "$work/all-again.out")"
fi
if grep -q "USN: *uuid:.*::$device_type" "$work/type.out"; then pass "gssdp-discover -t finds the device type"; else
  fail "gssdp-discover -t $device_type" "$(cat "$work/type.out")"
fi
if ! grep -q 'resource available' "$work/type2.out"; then pass "version 2 of the type finds nothing"; else
  fail "gssdp-discover -t version 2" "$(cat "$work/type2.out")"
fi

# --- GUPnP control point -------------------------------------------------------------------
if netns_cp timeout 40 /usr/bin/python3 "$here/upnp_ssdp_client.py" "$device_type" "$service_type" >"$work/gupnp.out" 2>&1; then
  pass "GUPnP control point: Apply, 701, events"
else
  fail "GUPnP control point" "$(cat "$work/gupnp.out")"
fi
subscriptions=$(grep -c "New subscription for" "$work/device.log" 2>/dev/null)
if [ "$subscriptions" = 1 ]; then pass "exactly one new subscription logged"; else
  fail "\"New subscription for\" lines: $subscriptions"
fi

# --- Net::UPnP -------------------------------------------------------------------------------
cat >"$work/netupnp.pl" <<'PERL'
use strict;
use warnings;
use Net::UPnP::ControlPoint;
my ($device_type, $service_type) = @ARGV;
my %found;
for my $dev (Net::UPnP::ControlPoint->new()->search(st => 'upnp:rootdevice', mx => 2)) {
    $found{$dev->getudn()} = $dev if $dev->getdevicetype() eq $device_type;
}
die "found " . scalar(keys %found) . " test devices\n" unless keys %found == 1;
my ($dev) = values %found;
my $service = $dev->getservicebyname($service_type) or die "no Counter service in the description\n";
my $res = $service->postcontrol('Apply', { Operation => 'Set', Amount => 9, Note => 'perl' });
die "Apply answered " . $res->getstatuscode() . "\n" unless $res->getstatuscode() == 200;
my $value = $res->getargumentlist()->{'NewValue'};
die "NewValue " . ($value // 'none') . "\n" unless defined $value && $value == 9;
print "found " . $dev->getfriendlyname() . ", NewValue $value\n";
PERL
if netns_cp timeout 30 perl "$work/netupnp.pl" "$device_type" "$service_type" >"$work/perl.out" 2>&1; then
  pass "Net::UPnP: $(cat "$work/perl.out")"
else
  fail "Net::UPnP" "$(cat "$work/perl.out")"
fi

# --- raw M-SEARCHes ----------------------------------------------------------------------------
uuid=$(awk '/^ *USN:/ { print $2; exit }' "$work/all.out" | sed -E 's/^uuid:([^:]*).*/\1/')
if netns_cp timeout 30 /usr/bin/python3 "$here/upnp_ssdp_search.py" table "$NETNS_DEV_ADDRESS" "$NETNS_CP_ADDRESS" \
  "$uuid" "$device_type" "$service_type" >"$work/table.out" 2>&1; then
  pass "M-SEARCH table ($(grep -c PASS "$work/table.out") cases)"
else
  fail "M-SEARCH table" "$(grep -v PASS "$work/table.out")"
fi
netns_cp ip addr add 10.231.8.2/24 dev cp0
netns_dev ip route add 10.231.8.0/24 dev en0
off=$(netns_cp timeout 10 /usr/bin/python3 "$here/upnp_ssdp_search.py" count "$NETNS_DEV_ADDRESS" 10.231.8.2 ssdp:all)
on=$(netns_cp timeout 10 /usr/bin/python3 "$here/upnp_ssdp_search.py" count "$NETNS_DEV_ADDRESS" "$NETNS_CP_ADDRESS" ssdp:all)
netns_dev ip route del 10.231.8.0/24 dev en0
netns_cp ip addr del 10.231.8.2/24 dev cp0
if [ "$off" = 0 ] && [ "$on" = 8 ]; then pass "ssdp:all: 8 answers on the subnet, none off it"; else
  fail "ssdp:all answers" "on the subnet $on, off it $off"
fi

# --- forged and flooding senders -------------------------------------------------------------
# A raw socket forges the source: the subnet's broadcast address would make the answer a broadcast.
forged_broadcast=$(netns_cp timeout 10 /usr/bin/python3 "$here/upnp_ssdp_search.py" forged "$NETNS_DEV_ADDRESS" 10.231.7.255)
forged_real=$(netns_cp timeout 10 /usr/bin/python3 "$here/upnp_ssdp_search.py" forged "$NETNS_DEV_ADDRESS" "$NETNS_CP_ADDRESS")
if [ "$forged_broadcast" = 0 ] && [ "$forged_real" = 8 ]; then
  pass "a forged broadcast source gets no answer (a raw datagram from the real source gets 8)"
else
  fail "raw M-SEARCHes" "from the broadcast address $forged_broadcast answers, from $NETNS_CP_ADDRESS $forged_real"
fi
# Another host of the subnet (a forged source: its answers go nowhere) floods searches, 500 a
# second with MX 5, while gssdp-discover searches.
netns_cp timeout 20 /usr/bin/python3 "$here/upnp_ssdp_search.py" flood "$NETNS_DEV_ADDRESS" 10.231.7.50 7 500 \
  ssdp:all upnp:rootdevice "$device_type" "$service_type" >"$work/flood.out" 2>&1 &
flood_pid=$!
sleep 1
discover flooded.out -n 4 -t "$device_type"
wait "$flood_pid"
if grep -q "USN: *uuid:.*::$device_type" "$work/flooded.out"; then
  pass "gssdp-discover finds the device beside $(cat "$work/flood.out") flooding searches"
else
  fail "gssdp-discover beside a flooding sender" "$(cat "$work/flooded.out" "$work/flood.out")"
fi

# Forged searches from many hosts of the subnet fill no table that real searches need, and forged
# searches naming one victim (an address of the client namespace, so that it can count) bring it
# at most 100 answers in any second (a bucket of 25 refilled at 75 a second): over the 3.5 s
# counted, 300.
netns_cp ip addr add 10.231.7.77/24 dev cp0
siege=$(netns_cp timeout 20 /usr/bin/python3 "$here/upnp_ssdp_search.py" siege "$NETNS_DEV_ADDRESS" "$NETNS_CP_ADDRESS" \
  "$device_type" 10.231.7.77 3 300 200)
netns_cp ip addr del 10.231.7.77/24 dev cp0
read -r _ answered _ _ _ victim <<<"$siege"
if [ "${answered:-0}" -ge 8 ] && [ -n "${victim:-}" ] && [ "$victim" -le 300 ]; then
  pass "under 300 forged searches a second and 200 naming a victim: $siege"
else
  fail "forged searches from many hosts and against a victim" "$siege"
fi

# --- loopback only -----------------------------------------------------------------------------
# A namespace of its own with lo alone: a group member on 127.0.0.1 (bound to the group, so that
# unicast searches reach upnpdevice only) counts the alive NOTIFYs, then one M-SEARCH is answered.
unshare -n bash -s "$upnpdevice" "$here" "$work" >"$work/loopback.out" 2>&1 <<'INNER'
device=$1 here=$2 work=$3
ip link set lo up
/usr/bin/python3 -c 'import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("239.255.255.250", 1900))
s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton("239.255.255.250") + socket.inet_aton("127.0.0.1"))
print("member", flush=True)
s.settimeout(0.2)
alive, end = 0, time.monotonic() + 5
while time.monotonic() < end and alive == 0:
    try:
        alive += b"NTS: ssdp:alive" in s.recv(4096)
    except socket.timeout:
        pass
print("alive", alive, flush=True)' >"$work/lo-member.out" 2>&1 &
member=$!
for _ in $(seq 1 50); do grep -q member "$work/lo-member.out" && break; sleep 0.1; done
"$device" >"$work/lo-device.out" 2>&1 &
pid=$!
for _ in $(seq 1 100); do grep -q "device at" "$work/lo-device.out" && break; sleep 0.1; done
wait "$member"
echo "device: $(cat "$work/lo-device.out")"
echo "$(grep alive "$work/lo-member.out"), answers $(timeout 10 /usr/bin/python3 "$here/upnp_ssdp_search.py" count 127.0.0.1 127.0.0.1 ssdp:all)"
kill -TERM "$pid"
wait "$pid"
INNER
if grep -q "^alive 1, answers 8$" "$work/loopback.out"; then pass "with lo alone: alive NOTIFYs and 8 answers on loopback"; else
  fail "loopback only" "$(cat "$work/loopback.out")"
fi

# --- byebye ------------------------------------------------------------------------------------
netns_cp timeout 30 stdbuf -oL gssdp-discover -i cp0 -m unavailable >"$work/bye.out" 2>&1 &
bye_pid=$!
# The device answers one search per sender and target after a random delay of up to MX (3 s in
# gssdp-discover): wait past it, so the client has seen every resource before the byebyes go out.
sleep 4.5
e2e_stop device
sleep 1
kill -TERM "$bye_pid" 2>/dev/null
wait "$bye_pid" 2>/dev/null
if [ "$(grep -c 'resource unavailable' "$work/bye.out")" = 4 ]; then pass "4 resources reported unavailable"; else
  fail "byebye seen by gssdp-discover" "$(cat "$work/bye.out")"
fi

# --- port 1900 held without reuse ----------------------------------------------------------
netns_dev /usr/bin/python3 -c 'import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 1900))
print("held", flush=True)
time.sleep(30)' >"$work/holder.out" 2>&1 &
for _ in $(seq 1 50); do
  grep -q held "$work/holder.out" && break
  sleep 0.1
done
netns_dev timeout 20 "$upnpdevice" >"$work/held.out" 2>"$work/held.err"
status=$?
if [ "$status" = 1 ] && [ "$(cat "$work/held.err")" = KL_ERROR_ADDRESS_IN_USE ] && [ ! -s "$work/held.out" ]; then
  pass "1900 held without reuse: KL_ERROR_ADDRESS_IN_USE, exit 1"
else
  fail "upnpdevice with 1900 held exited $status" "$(cat "$work/held.out" "$work/held.err")"
fi

e2e_finish "SSDP"
