#!/usr/bin/env bash
# DNS-SD publication through a real Avahi daemon, isolated from the machine's network: inside
# namespaces of its own (network with only "lo", mount, process) the script starts a private
# D-Bus system bus and a private avahi-daemon (host name lanyard-test, "lo" only, IPv4), then
#   - `bonjour_probe hold` publishes one server beside an unpublished one, and avahi-browse must
#     see the first (host, address, port) and not the second; once the probe has stopped the
#     server (the process still running), the service must be gone;
#   - `bonjour_probe check` publishes a sequence of servers and checks what each reports
#     (name, renaming on collision, type, URL, main-queue notification, withdrawal on stop).
# Nothing can leave the machine: the namespace's only interface is its own loopback.
#
# avahi-daemon is never installed: `apt-get download` fetches it (with avahi-utils and the
# libraries it needs) once into CACHE-FOLDER, unpacked with dpkg-deb -x.
#
# usage: bonjour_e2e.sh PATH-TO-BONJOUR_PROBE [CACHE-FOLDER]
#        (exit 77: namespaces refused, or avahi-daemon cannot be obtained)
# shellcheck disable=SC2317 # functions called through traps and wait_for
set -uo pipefail

readonly HOST_NAME=lanyard-test
readonly HOLD_NAME="Lanyard Hold"

skip() {
  echo "SKIP: $*"
  exit 77
}

# ---- Inside the namespaces (the script runs itself again there) ----

inside_pids=()

inside_cleanup() {
  local pid _
  exec 7>&-
  for pid in "${inside_pids[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for _ in $(seq 1 50); do
    pid=""
    for pid in "${inside_pids[@]}"; do kill -0 "$pid" 2>/dev/null && break; pid=""; done
    [ -n "$pid" ] || break
    sleep 0.1
  done
  for pid in "${inside_pids[@]}"; do kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
}

# Retries the command $1 (a function name) every 0.1 s until it succeeds or $2 seconds pass.
wait_for() {
  local deadline=$((${EPOCHREALTIME/./} + $2 * 1000000))
  until "$1"; do
    [ "${EPOCHREALTIME/./}" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

write_configs() {
  cat >"$work/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>unix:path=$work/system_bus_socket</listen>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.Avahi"/>
    <allow receive_sender="org.freedesktop.Avahi"/>
  </policy>
  <policy user="root">
    <allow own="org.freedesktop.Avahi"/>
  </policy>
</busconfig>
EOF
  cat >"$work/avahi-daemon.conf" <<EOF
[server]
host-name=$HOST_NAME
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
publish-hinfo=no
publish-domain=no
publish-addresses=yes
[reflector]
enable-reflector=no
EOF
}

# Only "lo", with multicast; the machine's /run (its system bus, any Avahi socket) and
# /etc/avahi are hidden; avahi-daemon looks up its user even when it keeps root, so "avahi" is an
# alias of root in this mount namespace.
isolate() {
  ip link set lo up && ip link set lo multicast on || return 1
  mount -t tmpfs -o mode=0755,size=16m lanyard-run /run || return 1
  mkdir -p /run/avahi-daemon
  if [ -d /etc/avahi ]; then mount -t tmpfs -o mode=0755,size=1m lanyard-avahi /etc/avahi || return 1; fi
  cp /etc/passwd "$work/passwd" && echo "avahi:x:0:0:avahi:/nonexistent:/usr/sbin/nologin" >>"$work/passwd"
  cp /etc/group "$work/group" && echo "avahi:x:0:" >>"$work/group"
  mount --bind "$work/passwd" /etc/passwd && mount --bind "$work/group" /etc/group
}

bus_ready() { [ -S "$work/system_bus_socket" ]; }
avahi_ready() { grep -q "Server startup complete" "$work/avahi.log"; }

start_daemons() {
  dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/dbus.log" 2>&1 </dev/null &
  inside_pids+=($!)
  if ! wait_for bus_ready 10; then
    echo "FAIL: the private D-Bus system bus did not start"; cat "$work/dbus.log"; return 1
  fi
  LD_LIBRARY_PATH=$libdir "$avahi_root/usr/sbin/avahi-daemon" --no-drop-root --no-chroot --no-rlimits \
    --no-proc-title -f "$work/avahi-daemon.conf" >"$work/avahi.log" 2>&1 </dev/null &
  inside_pids+=($!)
  if ! wait_for avahi_ready 20; then
    echo "FAIL: the private avahi-daemon did not start within 20 s"; cat "$work/avahi.log"; return 1
  fi
  echo "private D-Bus and avahi-daemon running (host name $HOST_NAME.local)"
}

browse() {
  LD_LIBRARY_PATH=$libdir timeout 10 "$avahi_root/usr/bin/avahi-browse" -rptk _http._tcp 2>>"$work/browse.err" </dev/null
}

run_check() {
  local status=0
  timeout 120 "$probe" check "$HOST_NAME.local" --port80 >"$work/check.out" 2>"$work/check.err" </dev/null || status=$?
  cat "$work/check.out"
  [ "$status" -eq 0 ] || fail "bonjour_probe check exited with status $status"
  if [ -s "$work/check.err" ]; then fail "bonjour_probe check wrote to standard error:"; cat "$work/check.err"; fi
}

hold_published() { grep -q "^published " "$work/hold.out"; }
hold_stopped() { grep -q "^stopped" "$work/hold.out"; }
hold_gone() { ! kill -0 "$hold_pid" 2>/dev/null; }
hold_unlisted() { browse >"$work/browse-after.out" && ! grep -q "Lanyard\\\\032Hold" "$work/browse-after.out"; }

# The published service as avahi-browse reports it, resolved: interface, protocol, name, type,
# domain, host, address and port.
check_browse_listed() {
  local port=$1 unpublished_port=$2
  browse >"$work/browse.out"
  cat "$work/browse.out"
  grep -qF "=;lo;IPv4;Lanyard\\032Hold;_http._tcp;local;$HOST_NAME.local;127.0.0.1;$port;" "$work/browse.out" ||
    fail "avahi-browse does not list \"$HOLD_NAME\" on $HOST_NAME.local port $port"
  if grep -q ";$unpublished_port;" "$work/browse.out"; then
    fail "the server started without BonjourName is published (port $unpublished_port)"
  fi
}

run_hold() {
  local port unpublished_port status=0
  mkfifo "$work/hold.in"
  "$probe" hold "$HOST_NAME.local" "$HOLD_NAME" <"$work/hold.in" >"$work/hold.out" 2>"$work/hold.err" &
  hold_pid=$!
  inside_pids+=("$hold_pid")
  exec 7>"$work/hold.in"
  if ! wait_for hold_published 20; then
    fail "bonjour_probe hold did not publish within 20 s"; cat "$work/hold.out" "$work/hold.err"; return
  fi
  read -r _ port unpublished_port _ <<<"$(grep "^published " "$work/hold.out")"
  check_browse_listed "$port" "$unpublished_port"
  echo stop >&7
  wait_for hold_stopped 15 || fail "bonjour_probe hold did not stop its server within 15 s"
  if wait_for hold_unlisted 10; then
    echo "PASS: \"$HOLD_NAME\" is gone once stopped (its process still running)"
  else
    fail "\"$HOLD_NAME\" is still listed 10 s after stop"; cat "$work/browse-after.out"
  fi
  kill -0 "$hold_pid" 2>/dev/null || fail "bonjour_probe hold exited before it was told to"
  echo quit >&7
  exec 7>&-
  wait_for hold_gone 20 || fail "bonjour_probe hold did not exit within 20 s"
  wait "$hold_pid" || status=$?
  cat "$work/hold.out"
  [ "$status" -eq 0 ] || fail "bonjour_probe hold exited with status $status"
  if [ -s "$work/hold.err" ]; then fail "bonjour_probe hold wrote to standard error:"; cat "$work/hold.err"; fi
}

inside() {
  # shellcheck source=e2e_lib.sh
  . "$(dirname "$0")/e2e_lib.sh" # for fail and $failures (it resets $work: assign after it)
  probe=$1 avahi_root=$2 libdir=$3 work=$4
  if [ ! -d "$work" ]; then echo "FAIL: no work folder: $work"; exit 1; fi
  trap inside_cleanup EXIT
  isolate || { echo "FAIL: cannot set up the namespace (lo, /run, /etc/passwd)"; exit 1; }
  write_configs
  export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$work/system_bus_socket"
  start_daemons || exit 1
  # The browsing checks first, while the daemon knows no other service: a port of the check's
  # servers, still in its cache, could otherwise come back as the unpublished server's.
  run_hold
  run_check
  if [ "$failures" -ne 0 ]; then
    echo "--- avahi-daemon log"; cat "$work/avahi.log"
    echo "$failures Bonjour check(s) failed" >&2
    exit 1
  fi
  echo "all Bonjour checks passed"
  exit 0
}

if [ "${1:-}" = "--inside" ]; then
  # Only as the first process of the namespaces made below: never on the machine itself.
  if [ "$$" -ne 1 ]; then echo "FAIL: --inside is for the script's own namespaces" >&2; exit 1; fi
  shift
  inside "$@"
fi

# ---- Outside: obtain the daemon, then enter the namespaces ----

probe=${1:?usage: bonjour_e2e.sh PATH-TO-BONJOUR_PROBE [CACHE-FOLDER]}
cache=${2:-$(dirname "$probe")/avahi-cache}
if [ ! -x "$probe" ]; then
  echo "FAIL: bonjour_probe is not an executable file: $probe" >&2
  exit 1
fi
for tool in unshare ip mount dbus-daemon dpkg-deb timeout; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
if ! unshare -n -m -p -f --kill-child --mount-proc true 2>/dev/null; then
  skip "network, mount and process namespaces are refused here"
fi

# The daemon and its libraries, unpacked once; a partial download never counts.
fetch_avahi() {
  local staging deb
  command -v apt-get >/dev/null || return 1
  mkdir -p "$(dirname "$cache")" || return 1
  staging=$(mktemp -d "$cache.XXXXXX") || return 1
  if ! (cd "$staging" && apt-get -q -o APT::Sandbox::User=root download \
    avahi-daemon avahi-utils libavahi-core7 libdaemon0 libavahi-common3 libavahi-client3) \
    >"$staging/download.log" 2>&1; then
    cat "$staging/download.log"
    rm -rf "$staging"
    return 1
  fi
  for deb in "$staging"/*.deb; do
    dpkg-deb -x "$deb" "$staging/root" || { rm -rf "$staging"; return 1; }
  done
  rm -f "$staging"/*.deb
  touch "$staging/complete"
  rm -rf "$cache" 2>/dev/null
  mv -T "$staging" "$cache" 2>/dev/null || rm -rf "$staging" # another run may have won
  [ -f "$cache/complete" ]
}

if [ ! -f "$cache/complete" ]; then
  echo "fetching avahi-daemon into $cache (apt-get download; nothing is installed)"
  fetch_avahi || skip "cannot obtain avahi-daemon with apt-get download"
fi
avahi_root=$(realpath "$cache")/root
core=$(find "$avahi_root" -name 'libavahi-core.so.7' -print -quit)
if [ ! -x "$avahi_root/usr/sbin/avahi-daemon" ] || [ ! -x "$avahi_root/usr/bin/avahi-browse" ] || [ -z "$core" ]; then
  skip "the unpacked avahi-daemon in $cache is incomplete (remove the folder to fetch it again)"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/lanyard-bonjour-XXXXXX")
namespace_pid=""
outside_cleanup() {
  if [ -n "$namespace_pid" ]; then
    kill -KILL "$namespace_pid" 2>/dev/null
    wait "$namespace_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap outside_cleanup EXIT
trap 'exit 1' TERM INT HUP
# A process namespace of its own: when the script inside ends, or unshare is killed, every process
# started there ends with it.
unshare -n -m -p -f --kill-child --mount-proc \
  bash "$0" --inside "$(realpath "$probe")" "$avahi_root" "$(dirname "$core")" "$work" </dev/null &
namespace_pid=$!
wait "$namespace_pid"
status=$?
namespace_pid=""
exit "$status"
