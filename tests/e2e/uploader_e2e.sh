#!/usr/bin/env bash
# End-to-end check of `webserve uploader` with curl: the eight routes of the web file manager,
# their answers and messages, the folder on disk after each change, and the staging folder (a
# user's items in it kept, a FIFO as its lock file never waited on, the server's own folder in the
# system's temporary folder when the share's cannot be used, a lock another program holds).
#
# usage: uploader_e2e.sh PATH-TO-WEBSERVE
set -uo pipefail

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: uploader_e2e.sh PATH-TO-WEBSERVE}"

# expect WHAT ACTUAL EXPECTED
expect() {
  [ "$2" == "$3" ] || fail "$1: got [$2], expected [$3]"
}

share="$work/Share"
mkdir -p "$share/Photos" "$share/.git" "$work/Share2"
printf 'outside\n' >"$work/Share2/outside.txt"
printf 'notes\n' >"$share/notes.txt"
printf 'two\n' >"$share/file 2.txt"
printf 'ten\n' >"$share/file 10.txt"
printf 'secret\n' >"$share/.secret"
head -c 70000 /dev/urandom >"$share/Photos/beach.jpg"
# A folder of the staging folder's name that holds a user's file and subfolder, and what a server
# killed during an upload left in it (a staged file and the lock file): the server's entries are
# gone once the server listens; the user's stay through the start, the uploads and the stop.
staged_name='????????-????-????-????-????????????'
mkdir -p "$share/.lanyard-uploads/mine"
printf 'mine\n' >"$share/.lanyard-uploads/notes.txt"
printf 'inner\n' >"$share/.lanyard-uploads/mine/inner.txt"
leftover="$share/.lanyard-uploads/$(tr a-f A-F </proc/sys/kernel/random/uuid)"
printf 'partial\n' >"$leftover"
: >"$share/.lanyard-uploads/lock"
user_items() { # the user's items in the staging folder, on one line
  (cd "$share/.lanyard-uploads" 2>/dev/null && find . -mindepth 1 ! -name lock -printf '%P\n' | sort | paste -sd' ')
}

e2e_start_webserve uploader uploader "$share"
[ -e "$leftover" ] && fail "the staged file left from before is still there at start"
expect "the user's items in the staging folder at start" "$(user_items)" "mine mine/inner.txt notes.txt"

message() { # NAME: the message of an error page, character references decoded
  sed -n 's/.*<h1>HTTP Error [0-9]*: \(.*\)<\/h1>.*/\1/p' "$work/$1.body" | sed 's/&quot;/"/g; s/&amp;/\&/g'
}
# refused NAME STATUS MESSAGE CURL-ARGS...
refused() {
  local name=$1 status=$2 text=$3
  shift 3
  expect "$name status" "$(e2e_fetch "$name" "$@")" "$status"
  expect "$name message" "$(message "$name")" "$text"
}

# ---- 1 and 2: the page and its resources ----
expect "start page" "$(e2e_fetch page "$url/")" 200
expect "start page type" "$(e2e_header page Content-Type)" "text/html; charset=utf-8"
grep -q '<title>webserve</title>' "$work/page.body" || fail "the title defaults to the program's name"
grep -q '%[a-z]*%' "$work/page.body" && fail "a template variable was left in the page"
expect "script" "$(e2e_fetch script "$url/js/api.js")" 200
expect "script type" "$(e2e_header script Content-Type)" "text/javascript"
expect "script cache" "$(e2e_header script Cache-Control | cut -d, -f1)" "max-age=3600"
expect "icon" "$(e2e_fetch icon "$url/icons/folder.svg")" 200
expect "missing resource" "$(e2e_fetch nores "$url/js/nothing.js")" 404

# ---- 3: list ----
expect "list" "$(e2e_fetch list "$url/list?path=/")" 200
expect "list type" "$(e2e_header list Content-Type)" "application/json"
names=$(grep -o '"name":"[^"]*"' "$work/list.body" | sed 's/"name":"//; s/"$//' | paste -sd'|')
expect "listing order, hidden items left out" "$names" "file 2.txt|file 10.txt|notes.txt|Photos"
grep -q '"path":"/Photos/"' "$work/list.body" || fail "a folder's path ends in /"
grep -q '"size":6' "$work/list.body" || fail "sizes are numbers"
expect "LIST in capitals" "$(e2e_fetch listcaps "$url/LIST?path=/Photos")" 200
grep -q '"path":"/Photos/beach.jpg"' "$work/listcaps.body" || fail "listing of /Photos"
refused list404 404 '"/nope" does not exist' "$url/list?path=/nope"
refused listdots 404 '"/../Share2" does not exist' "$url/list?path=/../Share2"
refused listfile 400 '"/notes.txt" is not a directory' "$url/list?path=/notes.txt"
refused listhidden 403 'Listing directory name ".git" is not allowed' "$url/list?path=/.git"
refused listmissing 400 'Missing "path" field' "$url/list"

# ---- 4: download ----
expect "download" "$(e2e_fetch dl "$url/download?path=/Photos/beach.jpg")" 200
cmp -s "$work/dl.body" "$share/Photos/beach.jpg" || fail "downloaded bytes differ"
expect "download disposition" "$(e2e_header dl Content-Disposition)" "attachment; filename=\"beach.jpg\"; filename*=UTF-8''beach.jpg"
refused dldir 400 '"/Photos" is a directory' "$url/download?path=/Photos"
refused dlhidden 403 'Downlading file name ".secret" is not allowed' "$url/download?path=/.secret"
refused dlout 404 '"../Share2/outside.txt" does not exist' "$url/download?path=../Share2/outside.txt"
refused dlmissing 400 'Missing "path" field' "$url/download"

# ---- 5: upload ----
printf 'first\n' >"$work/a.txt"
printf 'second\n' >"$work/a2.txt"
expect "upload" "$(e2e_fetch up1 -H 'Accept: application/json' -F path=/ -F "files[]=@$work/a.txt;filename=a.txt" "$url/upload")" 200
expect "upload reply" "$(cat "$work/up1.body")" "{}"
expect "upload reply type" "$(e2e_header up1 Content-Type)" "application/json"
expect "upload again" "$(e2e_fetch up2 -F path=/ -F "files[]=@$work/a2.txt;filename=a.txt" "$url/upload")" 200
expect "plain reply type" "$(e2e_header up2 Content-Type)" "text/plain; charset=utf-8"
expect "first upload on disk" "$(cat "$share/a.txt")" "first"
expect "second upload takes a free name" "$(cat "$share/a (1).txt")" "second"
expect "three files in one form" "$(e2e_fetch up3 -F path=/Photos -F "files[]=@$work/a.txt;filename=one.txt" \
  -F "files[]=@$work/a2.txt;filename=two.txt" -F "files[]=@$work/a.txt;filename=one.txt" "$url/upload")" 200
expect "each of them on disk" "$(cat "$share/Photos/one.txt" "$share/Photos/two.txt" "$share/Photos/one (1).txt")" \
  "$(printf 'first\nsecond\nfirst')"
refused uphidden 403 'Uploaded file name ".profile" is not allowed' -F path=/ -F "files[]=@$work/a.txt;filename=.profile" "$url/upload"
refused upout 404 '"/../Share2" does not exist' -F path=/../Share2 -F "files[]=@$work/a.txt;filename=x.txt" "$url/upload"
refused upnofile 400 'Missing "files[]" field' -F path=/ "$url/upload"
refused upnopath 400 'Missing "path" field' -F "files[]=@$work/a.txt;filename=x.txt" "$url/upload"
[ -e "$share/.profile" ] && fail "a hidden upload was stored"
[ -e "$work/Share2/x.txt" ] && fail "an upload left the folder"

# A form with one refused name stores none of its files, however often it is sent.
for round in 1 2; do
  refused "upmixed$round" 403 'Uploaded file name ".m3.txt" is not allowed' -F path=/ \
    -F "files[]=@$work/a.txt;filename=m1.txt" -F "files[]=@$work/a.txt;filename=m2.txt" \
    -F "files[]=@$work/a.txt;filename=.m3.txt" -F "files[]=@$work/a.txt;filename=m4.txt" "$url/upload"
done
find "$share" -name 'm[0-9]*' | grep -q . && fail "the form with a refused name stored files"
# Names the file system cannot take: 400, and nothing stored.
long="$(head -c 296 /dev/zero | tr '\0' n).txt"
refused uplong 400 "Uploaded file name \"$long\" is too long" -F path=/ -F "files[]=@$work/a.txt;filename=$long" "$url/upload"
refused upnotutf8 400 'Uploaded file name "caf%E9.txt" is not UTF-8 text' \
  -F path=/ -F "files[]=@$work/a.txt;filename=$(printf 'caf\351.txt')" "$url/upload"
# A bare line feed inside a quoted name (curl would escape it, so the body is written by hand).
printf -- '--B\r\nContent-Disposition: form-data; name="path"\r\n\r\n/\r\n--B\r\nContent-Disposition: form-data; name="files[]"; filename="a\nb.txt"\r\n\r\nx\r\n--B--\r\n' >"$work/lf.form"
refused uplf 400 'Uploaded file name "a%0Ab.txt" holds a control character' \
  -H 'Content-Type: multipart/form-data; boundary=B' --data-binary "@$work/lf.form" "$url/upload"
find "$share" -name 'nnnn*' -o -name 'caf*' -o -name 'a?b.txt' | grep -q . && fail "a name that cannot be stored was stored"
# A quote escaped in the quoted-string (curl --form-escape writes it so) is a quote of the name.
expect "escaped quote" "$(e2e_fetch upquote --form-escape -F path=/ -F "files[]=@$work/a.txt;filename=\"quote\\\".txt\"" "$url/upload")" 200
expect "the quote in the name" "$(cat "$share/quote\".txt" 2>/dev/null)" "first"
rm -f "$share/quote\".txt"
# A browser writes a quote in a file name as %22 (and CR and LF as %0D and %0A): a quote is stored.
printf -- '--B\r\nContent-Disposition: form-data; name="path"\r\n\r\n/\r\n--B\r\nContent-Disposition: form-data; name="files[]"; filename="Rapport %%22final%%22 2024.txt"\r\n\r\nx\r\n--B--\r\n' >"$work/pct22.form"
expect "a browser's quote" "$(e2e_fetch uppct22 -H 'Content-Type: multipart/form-data; boundary=B' --data-binary "@$work/pct22.form" "$url/upload")" 200
expect "the quote stored as a quote" "$(cat "$share/Rapport \"final\" 2024.txt" 2>/dev/null)" "x"
rm -f "$share/Rapport \"final\" 2024.txt"
# A part header folded inside the file name: 400, and the name is never cut.
printf -- '--B\r\nContent-Disposition: form-data; name="path"\r\n\r\n/\r\n--B\r\nContent-Disposition: form-data; name="files[]"; filename="a\r\n b.txt"\r\n\r\nx\r\n--B--\r\n' >"$work/fold.form"
refused upfold 400 'Uploaded file name "a%0D%0A b.txt" holds a control character' \
  -H 'Content-Type: multipart/form-data; boundary=B' --data-binary "@$work/fold.form" "$url/upload"
# A NUL in the folder "path" (a raw byte of its text part): 400.
printf -- '--B\r\nContent-Disposition: form-data; name="path"\r\n\r\n/x\0y\r\n--B\r\nContent-Disposition: form-data; name="files[]"; filename="x1.txt"\r\n\r\nx\r\n--B--\r\n' >"$work/nul.form"
refused upnul 400 'Path "/x%00y" holds a control character' \
  -H 'Content-Type: multipart/form-data; boundary=B' --data-binary "@$work/nul.form" "$url/upload"
# A folder that does not exist, or that is a file: 404 and 409, and nothing stored.
refused upnowhere 404 '"/nowhere" does not exist' -F path=/nowhere -F "files[]=@$work/a.txt;filename=x1.txt" "$url/upload"
refused upintofile 409 '"/notes.txt" is not a directory' -F path=/notes.txt -F "files[]=@$work/a.txt;filename=x1.txt" "$url/upload"
find "$share" -name 'x1.txt' -o -name a -o -name 'a*b.txt' | grep -q . && fail "a form refused for its folder or a folded name stored files"
# 3,000 parts of one name: each takes the next free number, and placing them costs linear time (the
# bound is generous: a form like this took over 10 s when each part searched from the first name).
mkdir "$share/Many"
{
  printf -- '--B\r\nContent-Disposition: form-data; name="path"\r\n\r\n/Many\r\n'
  for _ in $(seq 1 3000); do
    printf -- '--B\r\nContent-Disposition: form-data; name="files[]"; filename="same.txt"\r\n\r\nx\r\n'
  done
  printf -- '--B--\r\n'
} >"$work/many.form"
expect "3,000 parts of one name within 15 s" "$(e2e_fetch upmany --max-time 15 -H 'Content-Type: multipart/form-data; boundary=B' --data-binary "@$work/many.form" "$url/upload")" 200
expect "3,000 files stored" "$(find "$share/Many" -type f | wc -l)" 3000
[ -f "$share/Many/same.txt" ] && [ -f "$share/Many/same (2999).txt" ] || fail "the 3,000 parts took the names same.txt to same (2999).txt"
rm -rf "$share/Many"

# A second server started on the folder during an upload of the first leaves that upload alone.
head -c 800000 /dev/urandom >"$work/slow.bin" # about 8 s at 100 KB/s
curl --silent --max-time 30 --limit-rate 100k -o "$work/slow.body" -w '%{http_code}' -F path=/ \
  -F "files[]=@$work/slow.bin;filename=slow.bin" "$url/upload" >"$work/slow.status" &
slow=$!
for _ in $(seq 1 100); do
  find "$share/.lanyard-uploads" -maxdepth 1 -type f -name "$staged_name" 2>/dev/null | grep -q . && break
  sleep 0.05
done
find "$share/.lanyard-uploads" -maxdepth 1 -type f -name "$staged_name" 2>/dev/null | grep -q . ||
  fail "the slow upload was not staged"
first_url=$url
e2e_start_webserve uploader2 uploader "$share"
url=$first_url
kill -0 "$slow" 2>/dev/null || fail "the slow upload ended before the second server listened"
wait "$slow"
expect "the upload during the second server's start" "$(cat "$work/slow.status")" 200
cmp -s "$work/slow.bin" "$share/slow.bin" || fail "the upload during the second server's start differs"
e2e_stop uploader2
rm -f "$share/slow.bin"

# ---- 6: move ----
expect "rename" "$(e2e_fetch mv1 --data-urlencode 'oldPath=/a (1).txt' --data-urlencode 'newPath=/b.txt' "$url/move")" 200
expect "rename reply" "$(cat "$work/mv1.body")" "{}"
[ -f "$share/b.txt" ] && [ ! -e "$share/a (1).txt" ] || fail "rename on disk"
expect "move onto a name" "$(e2e_fetch mv2 --data-urlencode 'oldPath=/b.txt' --data-urlencode 'newPath=/a.txt' "$url/move")" 200
expect "moved file takes a free name" "$(cat "$share/a (1).txt")" "second"
expect "move a folder" "$(e2e_fetch mv3 -d oldPath=/Photos -d newPath=/Pictures "$url/move")" 200
[ -f "$share/Pictures/beach.jpg" ] || fail "a folder moves with its contents"
refused mvmissing 404 '"/nope" does not exist' -d oldPath=/nope -d newPath=/x "$url/move"
refused mvout 404 '"../Share2/a.txt" does not exist' -d oldPath=/a.txt -d newPath=../Share2/a.txt "$url/move"
refused mvhidden 403 'Moving to item name ".a" is not allowed' -d oldPath=/a.txt -d newPath=/.a "$url/move"
refused mvsource 403 'Moving item name ".secret" is not allowed' -d oldPath=/.secret -d newPath=/shown.txt "$url/move"
refused mvroot 403 'Moving "/" to "/Pictures/Share" is not permitted' -d oldPath=/ -d newPath=/Pictures/Share "$url/move"
refused mvnone 400 'Missing "newPath" field' -d oldPath=/a.txt "$url/move"
[ -f "$share/.secret" ] || fail "the hidden file stayed"

# ---- 7: delete ----
expect "delete" "$(e2e_fetch rm1 -d 'path=/file 2.txt' "$url/delete")" 200
[ ! -e "$share/file 2.txt" ] || fail "delete on disk"
expect "delete a folder" "$(e2e_fetch rm2 -d path=/Pictures "$url/delete")" 200
[ ! -e "$share/Pictures" ] || fail "a folder goes with its contents"
refused rmmissing 404 '"/nope" does not exist' -d path=/nope "$url/delete"
refused rmhidden 403 'Deleting item name ".secret" is not allowed' -d path=/.secret "$url/delete"
refused rmroot 403 'Deleting "/" is not permitted' -d path=/ "$url/delete"
refused rmout 404 '"/../Share2/outside.txt" does not exist' -d path=/../Share2/outside.txt "$url/delete"
refused rmnone 400 'Missing "path" field' -d other=1 "$url/delete"
[ -d "$share" ] && [ -f "$work/Share2/outside.txt" ] || fail "nothing outside was deleted"

# ---- 8: create ----
expect "create" "$(e2e_fetch mk1 -d path=/new "$url/create")" 200
expect "create again" "$(e2e_fetch mk2 -d path=/new "$url/create")" 200
[ -d "$share/new" ] && [ -d "$share/new (1)" ] || fail "new and new (1)"
refused mkhidden 403 'Creating directory name ".cache" is not allowed' -d path=/.cache "$url/create"
refused mkdeep 404 '"/a" does not exist' -d path=/a/b "$url/create"
refused mknul 400 'Path "/x%00y/b" holds a control character' -d 'path=/x%00y/b' "$url/create"
refused mkout 404 '"../Share2/new" does not exist' -d path=../Share2/new "$url/create"
refused mknone 400 'Missing "path" field' -d x=1 "$url/create"

expect "the user's items in the staging folder after the uploads" "$(user_items)" "mine mine/inner.txt notes.txt"
e2e_stop uploader
expect "the user's items in the staging folder after the stop" "$(user_items)" "mine mine/inner.txt notes.txt"
[ -e "$share/.lanyard-uploads/lock" ] && fail "the server's lock file is still there after the stop"
find "$share/.lanyard-uploads" -name "$staged_name" 2>/dev/null | grep -q . && fail "a staged file is still there after the stop"

# A FIFO named lock in the staging folder is never waited on: the server listens, takes an upload
# and stops, each within 2 s, and the FIFO stays. (A server stuck opening it is let through after
# 5 s, so that a wait fails here rather than holding the script.)
fifo_share="$work/FifoShare"
mkdir -p "$fifo_share/.lanyard-uploads"
mkfifo "$fifo_share/.lanyard-uploads/lock"
(
  sleep 5
  timeout 2 sh -c ': >"$1"' _ "$fifo_share/.lanyard-uploads/lock"
) &
unblocker=$!
ms() { echo $(($(date +%s%N) / 1000000)); }
t0=$(ms)
e2e_start_webserve fifo uploader "$fifo_share"
[ $(($(ms) - t0)) -le 2000 ] || fail "the server with a FIFO as lock listened after $(($(ms) - t0)) ms"
expect "an upload beside a FIFO as lock" \
  "$(e2e_fetch fifoup --max-time 2 -F path=/ -F "files[]=@$work/a.txt;filename=f.txt" "$url/upload")" 200
expect "its file" "$(cat "$fifo_share/f.txt" 2>/dev/null)" "first"
t0=$(ms)
e2e_stop fifo
[ $(($(ms) - t0)) -le 2000 ] || fail "the server with a FIFO as lock stopped after $(($(ms) - t0)) ms"
[ -p "$fifo_share/.lanyard-uploads/lock" ] || fail "the FIFO is gone"
kill "$unblocker" 2>/dev/null
wait "$unblocker" 2>/dev/null

# A folder named lock in the staging folder: uploads are staged in the server's own folder in the
# system's temporary folder. A part a killed server left there goes at start, a user's file stays;
# a part in flight is readable by the user only (and the folder closed to others); the file stored
# gets the permissions a new file gets; nothing of the server's is left after the stop.
tmp="$work/tmp"
own="$tmp/lanyard-uploads-$(id -u)"
lock_share="$work/LockShare"
mkdir -p "$lock_share/.lanyard-uploads/lock" "$own"
chmod 700 "$own"
left="$own/$(tr a-f A-F </proc/sys/kernel/random/uuid)"
printf 'partial\n' >"$left"
printf 'mine\n' >"$own/notes.txt"
TMPDIR=$tmp e2e_start_webserve locked uploader "$lock_share"
[ -e "$left" ] && fail "a part a killed server left in the temporary folder is still there at start"
head -c 200000 /dev/urandom >"$work/slow.bin" # about 2 s at 100 KB/s
curl --silent --max-time 30 --limit-rate 100k -o /dev/null -w '%{http_code}' -F path=/ \
  -F "files[]=@$work/slow.bin;filename=slow.bin" "$url/upload" >"$work/slow.status" &
slow=$!
staged=$(e2e_await_file "$own" "$staged_name")
[ -n "$staged" ] || fail "the slow upload was not staged in the temporary folder"
expect "the permissions of a part in flight" "$(stat -c %a "$staged" 2>/dev/null)" 600
expect "the permissions of the server's folder" "$(stat -c %a "$own")" 700
wait "$slow"
expect "the slow upload" "$(cat "$work/slow.status")" 200
cmp -s "$work/slow.bin" "$lock_share/slow.bin" || fail "the slow upload's file is not whole"
expect "the permissions of the file stored" "$(stat -c %a "$lock_share/slow.bin")" \
  "$(printf '%o' $((0644 & ~$(umask))))"
e2e_stop locked
expect "the server's folder after the stop" "$(ls -A "$own" | paste -sd' ')" "notes.txt"

# A lock file another program holds exclusively is never waited for: 20 uploads at once are stored
# (staged in the temporary folder), and a listing meanwhile answers at once.
held_share="$work/HeldShare"
TMPDIR=$tmp e2e_start_webserve held uploader "$held_share"
mkdir -p "$held_share/.lanyard-uploads"
flock --exclusive "$held_share/.lanyard-uploads/lock" sleep 30 &
holder=$!
for _ in $(seq 1 50); do
  flock --nonblock --shared "$held_share/.lanyard-uploads/lock" true || break
  sleep 0.05
done
uploads=()
for i in $(seq 1 20); do
  curl --silent --max-time 10 -o /dev/null -w '%{http_code}\n' -F path=/ \
    -F "files[]=@$work/a.txt;filename=held$i.txt" "$url/upload" >"$work/held$i.status" &
  uploads+=($!)
done
expect "a listing beside them" "$(e2e_fetch heldlist --max-time 1 "$url/list?path=/")" 200
wait "${uploads[@]}"
expect "the uploads beside a lock held by another program" "$(sort -u "$work"/held*.status | paste -sd' ')" 200
expect "their files" "$(find "$held_share" -maxdepth 1 -name 'held*.txt' | wc -l)" 20
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
e2e_stop held

e2e_finish uploader
