#!/usr/bin/env bash
# The TCP echo server and client of klprobe on 127.0.0.1: the server reports its ephemeral port,
# echoes, stops through Cancel when its standard input ends (exit 0, nothing on stderr), and a
# connection afterwards is refused. Also: `ifaces --all` lists what `ip -4 -o addr show up` shows.
#
# usage: klprobe_echo_e2e.sh PATH-TO-KLPROBE
set -uo pipefail

P=${1:?usage: klprobe_echo_e2e.sh PATH-TO-KLPROBE}
work=$(mktemp -d)
server=""
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  exec 3>&-
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
pass() { echo "PASS: $1"; }
fail() { echo "FAIL: $1"; [ $# -gt 1 ] && printf '%s\n' "$2"; failures=$((failures + 1)); }

mkfifo "$work/in"
"$P" echo 0 <"$work/in" >"$work/out" 2>"$work/err" &
server=$!
exec 3>"$work/in"
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/out")
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$port" ]; then
  fail "the echo server did not report its port" "$(cat "$work/out" "$work/err")"
  exit 1
fi
out=$("$P" connect 127.0.0.1 "$port" hello 2>&1)
if [ "$(sed -n 2p <<<"$out")" = hello ] && grep -Eqx "connected 127\.0\.0\.1:[0-9]+ 127\.0\.0\.1:$port" <<<"$(sed -n 1p <<<"$out")"; then
  pass "connect echoes hello"
else
  fail "connect 127.0.0.1 $port hello" "$out"
fi
exec 3>&-
wait "$server"
code=$?
server=""
if [ "$code" = 0 ] && [ ! -s "$work/err" ]; then pass "the server stops when its input ends"; else fail "the server exited $code" "$(cat "$work/err")"; fi
out=$("$P" connect 127.0.0.1 "$port" 2>&1)
code=$?
if [ "$code" = 1 ] && [ "$out" = KL_ERROR_CONNECTION_REFUSED ]; then pass "then the port refuses"; else fail "connect after the stop: $code" "$out"; fi

mask() {
  local bits=$(( 0xFFFFFFFF ^ ((1 << (32 - $1)) - 1) ))
  echo "$(( bits >> 24 & 255 )).$(( bits >> 16 & 255 )).$(( bits >> 8 & 255 )).$(( bits & 255 ))"
}
ip -4 -o addr show up | while read -r _ name _ cidr _; do echo "$name ${cidr%/*} mask $(mask "${cidr#*/}")"; done | sort >"$work/ip.txt"
"$P" ifaces --all | awk '/^[^ ]/ { name = $1 } /^  / { print name, $1, $2, $3 }' | sort >"$work/probe.txt"
if diff "$work/ip.txt" "$work/probe.txt" >"$work/diff.txt"; then pass "ifaces --all matches ip"; else fail "ifaces --all differs from ip" "$(cat "$work/diff.txt")"; fi
exit $failures
