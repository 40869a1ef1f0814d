#!/usr/bin/env bash
# The shared folder that goes and comes back, under a running `webserve uploader` and
# `webserve webdav`, with curl: moved away, the folder answers as a missing item; a new folder at
# its path is served without a restart; deleted and made again, likewise; a PUT whose staged body
# another program removes stores nothing; and after an upload and a stop the folder holds only what
# was shared and uploaded.
#
# usage: shared_folder_e2e.sh PATH-TO-WEBSERVE
set -uo pipefail

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: shared_folder_e2e.sh PATH-TO-WEBSERVE}"

expect() { # WHAT ACTUAL EXPECTED
  [ "$2" == "$3" ] || fail "$1: got [$2], expected [$3]"
}
message() { # NAME: the message of an error page, character references decoded
  sed -n 's/.*<h1>HTTP Error [0-9]*: \(.*\)<\/h1>.*/\1/p' "$work/$1.body" | sed 's/&quot;/"/g'
}
contents() { # FOLDER: its names, sorted, on one line
  (cd "$1" && find . -mindepth 1 -printf '%P\n' | sort | paste -sd' ')
}

# ---- the file manager ----
F=$work/F
mkdir -p "$F"
printf 'a\n' >"$F/a.txt"
e2e_start_webserve uploader uploader "$F"
up=$url
expect "list" "$(e2e_fetch l1 "$up/list?path=/")" 200
mv "$F" "$work/F.away"
expect "list of a folder moved away" "$(e2e_fetch l2 "$up/list?path=/")" 404
expect "its message" "$(message l2)" '"/" does not exist'
expect "download from it" "$(e2e_fetch d1 "$up/download?path=/a.txt")" 404
expect "upload into it" "$(e2e_fetch u1 -F path=/ -F "files[]=@$work/F.away/a.txt;filename=u.txt" "$up/upload")" 404
mkdir "$F"
printf 'one\n' >"$F/one.txt"
expect "download from a new folder" "$(e2e_fetch d2 "$up/download?path=/one.txt")" 200
expect "its bytes" "$(cat "$work/d2.body")" "one"
expect "list of the new folder" "$(e2e_fetch l3 "$up/list?path=/")" 200
expect "its listing" "$(cat "$work/l3.body")" '[{"name":"one.txt","path":"/one.txt","size":4}]'
rm -rf "$F"
expect "list of a deleted folder" "$(e2e_fetch l4 "$up/list?path=/")" 404
mkdir "$F"
printf 'one\n' >"$F/one.txt"
expect "upload into the folder made again" \
  "$(e2e_fetch u2 -F path=/ -F "files[]=@$work/F.away/a.txt;filename=up.txt" "$up/upload")" 200
e2e_stop uploader
expect "the folder after an upload and a stop" "$(contents "$F")" "one.txt up.txt"
expect "the folder moved away" "$(contents "$work/F.away")" "a.txt"

# ---- WebDAV ----
D=$work/D
mkdir -p "$D"
printf 'a\n' >"$D/a.txt"
e2e_start_webserve webdav webdav "$D"
dav=$url
propfind() { e2e_fetch "$1" -X PROPFIND -H 'Depth: 1' "$dav/"; }
expect "PROPFIND" "$(propfind p1)" 207
mv "$D" "$work/D.away"
expect "PROPFIND of a folder moved away" "$(propfind p2)" 404
expect "GET from it" "$(e2e_fetch g1 "$dav/a.txt")" 404
expect "PUT into it" "$(e2e_fetch put1 -T "$work/D.away/a.txt" "$dav/b.txt")" 404
mkdir "$D"
printf 'one\n' >"$D/one.txt"
expect "PROPFIND of a new folder" "$(propfind p3)" 207
grep -q '<D:href>/one.txt</D:href>' "$work/p3.body" || fail "the new folder's file is listed"
grep -q 'a.txt' "$work/p3.body" && fail "the old folder is still listed"
expect "GET from the new folder" "$(e2e_fetch g2 "$dav/one.txt")" 200
expect "its bytes" "$(cat "$work/g2.body")" "one"
rm -rf "$D"
expect "PROPFIND of a deleted folder" "$(propfind p4)" 404
mkdir "$D"
expect "PROPFIND of the folder made again" "$(propfind p5)" 207
expect "PUT into it" "$(e2e_fetch put2 -T "$work/D.away/a.txt" "$dav/b.txt")" 201
# A PUT whose staged body another program removes while it is received is never answered with
# success, and its target is neither made nor changed.
head -c 300000 /dev/urandom >"$work/slow.bin" # about 3 s at 100 KB/s
for target in c.txt b.txt; do
  curl --silent --max-time 30 --limit-rate 100k -o /dev/null -w '%{http_code}' -T "$work/slow.bin" \
    "$dav/$target" >"$work/slow.status" &
  slow=$!
  staged=$(e2e_await_file "$D" '.lanyard-staging-*')
  [ -n "$staged" ] || fail "the PUT of $target was not staged"
  rm -f "$staged"
  wait "$slow"
  case "$(cat "$work/slow.status")" in
    2*) fail "the PUT of $target whose staged body was removed answered $(cat "$work/slow.status")" ;;
  esac
done
expect "the WebDAV folder after those PUTs" "$(contents "$D")" "b.txt"
expect "the target those PUTs left alone" "$(cat "$D/b.txt")" "a"
e2e_stop webdav
expect "the WebDAV folder after a PUT and a stop" "$(contents "$D")" "b.txt"
expect "the WebDAV folder moved away" "$(contents "$work/D.away")" "a.txt"

e2e_finish "shared folder"
