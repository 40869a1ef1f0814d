#!/usr/bin/env bash
# End-to-end check of `webserve static` with curl: byte ranges, the directory listing, and path
# traversal attempts that must never reach a file placed beside the served folder.
#
# usage: static_e2e.sh PATH-TO-WEBSERVE
set -uo pipefail

webserve=${1:?usage: static_e2e.sh PATH-TO-WEBSERVE}
work=$(mktemp -d)
server_pid=""
failures=0

cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The folder and a secret beside it (also in a sibling whose name begins with the folder's name).
secret="SECRET-BESIDE-THE-FOLDER-$$"
mkdir -p "$work/share/sub" "$work/share2"
printf '%s\n' "$secret" >"$work/secret"
printf '%s\n' "$secret" >"$work/share2/secret"
head -c 1000 /dev/urandom >"$work/share/f.bin"
printf 'deep\n' >"$work/share/sub/deep.txt"
printf 'hidden\n' >"$work/share/.hidden"

"$webserve" static "$work/share" 0 --localhost >"$work/server.out" 2>"$work/server.err" &
server_pid=$!

url=""
for _ in $(seq 1 100); do
  url=$(sed -n 's/^listening on //p' "$work/server.out" | head -n 1)
  [ -n "$url" ] && break
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "webserve exited early:" >&2
    cat "$work/server.err" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$url" ]; then
  echo "webserve did not report that it listens" >&2
  exit 1
fi
echo "server at $url"

# fetch NAME CURL-ARGS...: body into $work/NAME.body, head into $work/NAME.head; prints the status.
fetch() {
  local name=$1
  shift
  curl --silent --show-error --max-time 10 -D "$work/$name.head" -o "$work/$name.body" \
    -w '%{http_code}' "$@" || echo "curl-failed"
}

header() { # header NAME FILE: the value of a response header, without CR
  grep -i "^$1:" "$2" | head -n 1 | cut -d: -f2- | sed 's/^ *//' | tr -d '\r'
}

# Byte ranges.
status=$(fetch first -r 0-499 "$url/f.bin")
[ "$status" = 206 ] || fail "range 0-499: status $status"
[ "$(header Content-Range "$work/first.head")" = "bytes 0-499/1000" ] || fail "range 0-499: Content-Range"
head -c 500 "$work/share/f.bin" >"$work/expected-first"
cmp -s "$work/first.body" "$work/expected-first" || fail "range 0-499: wrong bytes"

status=$(fetch last -r -500 "$url/f.bin")
[ "$status" = 206 ] || fail "range -500: status $status"
[ "$(header Content-Range "$work/last.head")" = "bytes 500-999/1000" ] || fail "range -500: Content-Range"
tail -c 500 "$work/share/f.bin" >"$work/expected-last"
cmp -s "$work/last.body" "$work/expected-last" || fail "range -500: wrong bytes"

status=$(fetch whole "$url/f.bin")
[ "$status" = 200 ] || fail "whole file: status $status"
cmp -s "$work/whole.body" "$work/share/f.bin" || fail "whole file: wrong bytes"

# The listing.
status=$(fetch listing "$url/")
[ "$status" = 200 ] || fail "listing: status $status"
grep -q '<a href="f.bin">f.bin</a>' "$work/listing.body" || fail "listing: f.bin missing"
grep -q '<a href="sub/">sub/</a>' "$work/listing.body" || fail "listing: sub/ missing"
grep -q 'hidden' "$work/listing.body" && fail "listing shows a dot file"
status=$(fetch deep "$url/sub/deep.txt")
[ "$status" = 200 ] && [ "$(cat "$work/deep.body")" = deep ] || fail "sub/deep.txt not served"

# Traversal attempts: each must answer 404 and never carry the secret.
i=0
for path in \
  "/../secret" "/../../secret" "/%2e%2e/secret" "/%2E%2E/secret" "/..%2fsecret" "/..%2Fsecret" \
  "/%2e%2e%2fsecret" "/sub/../../secret" "/sub/..%2f..%2fsecret" "/sub/%2e%2e/%2e%2e/secret" \
  "/./../secret" "//../secret" "/../share2/secret" "/.." "/../"; do
  i=$((i + 1))
  status=$(fetch "traversal$i" --path-as-is "$url$path")
  [ "$status" = 404 ] || fail "traversal $path: status $status"
  if grep -q "$secret" "$work/traversal$i.body" "$work/traversal$i.head" 2>/dev/null; then
    fail "traversal $path: the secret was served"
  fi
done

if ! kill -0 "$server_pid" 2>/dev/null; then
  fail "webserve is no longer running"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all static checks passed"
