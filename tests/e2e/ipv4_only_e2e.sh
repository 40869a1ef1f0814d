#!/usr/bin/env bash
# A host without IPv6 serves on IPv4 alone: inside a network namespace of its own with IPv6 turned
# off, `webserve echo` starts and answers on 127.0.0.1 (and nothing listens on ::1).
#
# usage: ipv4_only_e2e.sh PATH-TO-WEBSERVE        (exit 77: network namespaces are refused here)
set -uo pipefail

webserve=${1:?usage: ipv4_only_e2e.sh PATH-TO-WEBSERVE}
if ! unshare -n true 2>/dev/null; then
  echo "SKIP: network namespaces are refused here"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unshare -n bash -s "$webserve" "$work" <<'INNER'
set -uo pipefail
webserve=$1
work=$2
ip link set lo up
sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 net.ipv6.conf.lo.disable_ipv6=1
"$webserve" echo "$work" 0 --localhost >"$work/out" 2>"$work/err" &
server=$!
url=""
for _ in $(seq 1 100); do
  url=$(sed -n 's/^listening on //p' "$work/out")
  [ -n "$url" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
failures=0
if [ -z "$url" ]; then
  echo "FAIL: the server did not start without IPv6"; cat "$work/err"; exit 1
fi
port=${url##*:}
status=$(curl -s -o /dev/null -w '%{http_code}' --max-time 5 "http://127.0.0.1:$port/ping")
if [ "$status" = 200 ]; then echo "PASS: IPv4 answers 200"; else echo "FAIL: IPv4 answered $status"; failures=1; fi
if curl -s -g -o /dev/null --max-time 2 "http://[::1]:$port/ping"; then
  echo "FAIL: something answered on ::1"; failures=1
else
  echo "PASS: nothing on ::1"
fi
kill -TERM "$server"; wait "$server"
code=$?
if [ "$code" != 0 ] || [ -s "$work/err" ]; then echo "FAIL: the server exited with $code"; cat "$work/err"; failures=1; fi
exit $failures
INNER
