#!/usr/bin/env bash
# End-to-end check of `webserve static` with curl: byte ranges, the directory listing, and path
# traversal attempts that must never reach a file placed beside the served folder.
#
# usage: static_e2e.sh PATH-TO-WEBSERVE
set -uo pipefail

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: static_e2e.sh PATH-TO-WEBSERVE}"

# The folder and a secret beside it (also in a sibling whose name begins with the folder's name).
secret="SECRET-BESIDE-THE-FOLDER-$$"
mkdir -p "$work/share/sub" "$work/share2"
printf '%s\n' "$secret" >"$work/secret"
printf '%s\n' "$secret" >"$work/share2/secret"
head -c 1000 /dev/urandom >"$work/share/f.bin"
printf 'deep\n' >"$work/share/sub/deep.txt"
printf 'hidden\n' >"$work/share/.hidden"

e2e_start_webserve static static "$work/share"

# Byte ranges.
status=$(e2e_fetch first -r 0-499 "$url/f.bin")
[ "$status" = 206 ] || fail "range 0-499: status $status"
[ "$(e2e_header first Content-Range)" = "bytes 0-499/1000" ] || fail "range 0-499: Content-Range"
head -c 500 "$work/share/f.bin" >"$work/expected-first"
cmp -s "$work/first.body" "$work/expected-first" || fail "range 0-499: wrong bytes"

status=$(e2e_fetch last -r -500 "$url/f.bin")
[ "$status" = 206 ] || fail "range -500: status $status"
[ "$(e2e_header last Content-Range)" = "bytes 500-999/1000" ] || fail "range -500: Content-Range"
tail -c 500 "$work/share/f.bin" >"$work/expected-last"
cmp -s "$work/last.body" "$work/expected-last" || fail "range -500: wrong bytes"

status=$(e2e_fetch whole "$url/f.bin")
[ "$status" = 200 ] || fail "whole file: status $status"
cmp -s "$work/whole.body" "$work/share/f.bin" || fail "whole file: wrong bytes"

# The listing.
status=$(e2e_fetch listing "$url/")
[ "$status" = 200 ] || fail "listing: status $status"
grep -q '<a href="f.bin">f.bin</a>' "$work/listing.body" || fail "listing: f.bin missing"
grep -q '<a href="sub/">sub/</a>' "$work/listing.body" || fail "listing: sub/ missing"
grep -q 'hidden' "$work/listing.body" && fail "listing shows a dot file"
status=$(e2e_fetch deep "$url/sub/deep.txt")
[ "$status" = 200 ] && [ "$(cat "$work/deep.body")" = deep ] || fail "sub/deep.txt not served"

# Traversal attempts: each must answer 404 and never carry the secret.
i=0
for path in \
  "/../secret" "/../../secret" "/%2e%2e/secret" "/%2E%2E/secret" "/..%2fsecret" "/..%2Fsecret" \
  "/%2e%2e%2fsecret" "/sub/../../secret" "/sub/..%2f..%2fsecret" "/sub/%2e%2e/%2e%2e/secret" \
  "/./../secret" "//../secret" "/../share2/secret" "/.." "/../"; do
  i=$((i + 1))
  status=$(e2e_fetch "traversal$i" --path-as-is "$url$path")
  [ "$status" = 404 ] || fail "traversal $path: status $status"
  if grep -q "$secret" "$work/traversal$i.body" "$work/traversal$i.head" 2>/dev/null; then
    fail "traversal $path: the secret was served"
  fi
done

e2e_finish static
