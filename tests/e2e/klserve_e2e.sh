#!/usr/bin/env bash
# klserve (the runtime's HTTP server loop and file handler) against curl: whole files, byte
# ranges, a missing file, a refused method, a listing, paths that try to leave the folder, a port
# already taken, and a clean stop.
#
# usage: klserve_e2e.sh PATH-TO-KLSERVE
set -uo pipefail

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: klserve_e2e.sh PATH-TO-KLSERVE}"
klserve=$1
root=$work/root
mkdir -p "$root/sub dir"
head -c 1000 /dev/urandom >"$root/f"
printf 'text' >"$root/sub dir/n#1.txt"
e2e_start files "listening on" "$klserve" "$root" 0 --localhost
case $url in http://127.0.0.1:*) ;; *) fail "ready line names 127.0.0.1" "$url" ;; esac

# expect NAME STATUS CURL-ARGS...: the fetch answers STATUS.
expect() {
  local name=$1 want=$2 got
  shift 2
  got=$(e2e_fetch "$name" "$@")
  [ "$got" = "$want" ] || fail "$name: status $got, expected $want"
}
# header_is NAME HEADER VALUE
header_is() {
  local got
  got=$(e2e_header "$1" "$2")
  [ "$got" = "$3" ] || fail "$1: $2 is '$got', expected '$3'"
}

expect whole 200 "$url/f"
header_is whole Content-Length 1000
header_is whole Server Keel/1.0.0
header_is whole Accept-Ranges bytes
cmp -s "$work/whole.body" "$root/f" || fail "whole: body differs from the file"

# Ranges: curl option, first and last byte served.
while read -r range first last; do
  expect "range$range" 206 -r "$range" "$url/f"
  header_is "range$range" Content-Range "bytes $first-$last/1000"
  cmp -s "$work/range$range.body" <(tail -c +"$((first + 1))" "$root/f" | head -c "$((last - first + 1))") ||
    fail "range $range: body differs from bytes $first-$last of the file"
done <<'RANGES'
0-99 0 99
-100 900 999
900- 900 999
0-1000 0 999
RANGES
expect beyond 416 -r 1000- "$url/f"
expect several 416 -H 'Range: bytes=0-1,5-6' "$url/f"
header_is several Content-Range 'bytes */1000'

expect missing 404 -I "$url/none"
header_is missing Content-Type text/html
header_is missing Content-Length 132
# The whole answer to a HEAD ends with the head.
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'HEAD /none HTTP/1.0\r\n\r\n' >&3
timeout 10 cat <&3 >"$work/head.raw"
exec 3<&-
[ "$(tail -c 4 "$work/head.raw" | od -An -tx1 | tr -d ' \n')" = 0d0a0d0a ] ||
  fail "HEAD of a missing file: the answer goes on after its head"
expect post 405 -X POST "$url/f"

expect listing 200 "$url/"
header_is listing Content-Type text/html
grep -qF '<li><a href="/sub%20dir">sub dir/</a><br>' "$work/listing.body" || fail "listing: no link to 'sub dir'"
expect sublisting 200 "$url/sub%20dir/"
grep -qF '<a href="/sub%20dir/n%231.txt">n#1.txt</a>' "$work/sublisting.body" ||
  fail "listing: the link to 'n#1.txt' is not percent-encoded" "$(cat "$work/sublisting.body")"
expect linked 200 "$url/sub%20dir/n%231.txt"
header_is linked Content-Type text/plain

for path in /../../etc/passwd /%2e%2e/%2e%2e/etc/passwd /sub%20dir/..%2f..%2f..%2fetc/passwd /f%00.txt; do
  expect traversal 403 --path-as-is "$url$path"
done

# A second server on the same port fails to start.
if "$klserve" "$root" "$port" --localhost >"$work/taken.out" 2>"$work/taken.err"; then
  fail "a second klserve on port $port started"
else
  grep -qx KL_ERROR_ADDRESS_IN_USE "$work/taken.err" || fail "taken port: stderr" "$(cat "$work/taken.err")"
  [ ! -s "$work/taken.out" ] || fail "taken port: printed a ready line"
fi

# SIGINT stops it as cleanly as SIGTERM, also as a background job (started with SIGINT ignored).
e2e_start interrupted "listening on" "$klserve" "$root" 0 --localhost
pid=${E2E_PID[interrupted]}
E2E_PID[interrupted]=""
kill -INT "$pid"
status=0
if ! timeout 20 tail --pid="$pid" -f /dev/null; then
  fail "SIGINT did not stop klserve within 20 s"
  kill -KILL "$pid"
fi
wait "$pid" || status=$?
[ "$status" -eq 0 ] || fail "klserve exited with status $status on SIGINT"
[ ! -s "$work/interrupted.err" ] || fail "klserve wrote to standard error on SIGINT" "$(cat "$work/interrupted.err")"

e2e_finish klserve
