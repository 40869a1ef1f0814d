#!/usr/bin/env bash
# End-to-end check of `webserve webdav` with cadaver: a scripted session that creates a folder,
# uploads, downloads, copies, moves and deletes, checked on the client and in the shared folder;
# then conditional PUTs and DELETEs with curl (If-Match, If-None-Match, the older date forms,
# racing create-only and If-Match PUTs) and GETs with unreadable ranges.
#
# usage: webdav_cadaver.sh PATH-TO-WEBSERVE
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"

command -v cadaver >/dev/null || { echo "cadaver is not installed" >&2; exit 1; }
e2e_init "${1:?usage: webdav_cadaver.sh PATH-TO-WEBSERVE}"
share="$work/share"
e2e_start_webserve webdav webdav "$share"

cd "$work" || exit 1
printf 'first line\nsecond line ü\n' >local.txt
head -c 200000 /dev/urandom >blob.bin

# cadaver reads its commands from standard input when it is not a terminal.
timeout 60 cadaver "$url/" >session.log 2>&1 <<'COMMANDS'
mkcol docs
put local.txt docs/notes.txt
put blob.bin docs/blob.bin
get docs/notes.txt fetched.txt
get docs/blob.bin fetched.bin
copy docs/notes.txt docs/copy.txt
mkcol archive
move docs/copy.txt archive/moved.txt
ls docs
delete docs/blob.bin
mkcol docs
ls archive
quit
COMMANDS
status=$?
cat session.log
[ "$status" = 0 ] || fail "cadaver exited with status $status"

expect_line() { # expect_line TEXT: the session log has a line containing TEXT
  grep -qF -- "$1" session.log || fail "session: no line with '$1'"
}
expect_line "Creating \`docs': succeeded."
expect_line "Uploading local.txt to \`/docs/notes.txt': [.. succeeded."
expect_line "Downloading \`/docs/notes.txt' to fetched.txt"
expect_line "Copying \`/docs/notes.txt' to \`/docs/copy.txt':  succeeded."
expect_line "Moving \`/docs/copy.txt' to \`/archive/moved.txt':  succeeded."
expect_line "Deleting \`docs/blob.bin': succeeded."
expect_line "moved.txt"
# The second MKCOL of docs is refused (405), which cadaver reports as a failure.
grep -c "Creating \`docs': failed" session.log | grep -q '^1$' || fail "second mkcol of docs was not refused"

cmp -s local.txt fetched.txt || fail "fetched.txt differs from what was put"
cmp -s blob.bin fetched.bin || fail "fetched.bin differs from what was put"
cmp -s local.txt "$share/docs/notes.txt" || fail "the shared folder does not hold notes.txt"
cmp -s local.txt "$share/archive/moved.txt" || fail "the shared folder does not hold archive/moved.txt"
[ ! -e "$share/docs/copy.txt" ] || fail "docs/copy.txt is still there after the move"
[ ! -e "$share/docs/blob.bin" ] || fail "docs/blob.bin is still there after the delete"
echo "== conditional PUT and DELETE (curl): a false condition answers 412 and changes nothing"
printf 'kept\n' >kept.txt
printf 'changed\n' >changed.txt
expect_status() { # expect_status STATUS WHAT CURL-ARGS...
  local want=$1 what=$2 got
  shift 2
  got=$(e2e_fetch cond "$@")
  [ "$got" = "$want" ] || fail "$what answered $got, not $want"
}
expect_status 201 "PUT of cond.txt" -T kept.txt "$url/cond.txt"
e2e_fetch tag "$url/cond.txt" >/dev/null
tag=$(e2e_header tag ETag)
expect_status 412 "PUT with If-None-Match: *" -H 'If-None-Match: *' -T changed.txt "$url/cond.txt"
expect_status 412 "PUT with a wrong If-Match" -H 'If-Match: "nope"' -T changed.txt "$url/cond.txt"
expect_status 412 "DELETE with a wrong If-Match" -H 'If-Match: "nope"' -X DELETE "$url/cond.txt"
cmp -s kept.txt "$share/cond.txt" || fail "a refused conditional request changed cond.txt"
expect_status 204 "PUT with the file's own ETag" -H "If-Match: $tag" -T changed.txt "$url/cond.txt"
cmp -s changed.txt "$share/cond.txt" || fail "the PUT with the file's own ETag did not store it"
e2e_fetch tag "$url/cond.txt" >/dev/null
expect_status 204 "DELETE with the file's own ETag" -H "If-Match: $(e2e_header tag ETag)" -X DELETE \
  "$url/cond.txt"
# Two create-only PUTs racing for one name: exactly one stores its file.
for round in 1 2 3 4 5 6 7 8 9 10; do
  rm -f "$share/race.txt"
  pids=()
  for which in kept changed; do
    curl --silent --max-time 10 -o /dev/null -w '%{http_code}\n' -H 'If-None-Match: *' -T "$which.txt" \
      "$url/race.txt" >"race-$which.status" &
    pids+=($!)
  done
  wait "${pids[@]}"
  statuses=$(sort race-kept.status race-changed.status | tr '\n' ' ')
  [ "$statuses" = "201 412 " ] || fail "racing create-only PUTs, round $round, answered $statuses"
done

echo "== preconditions as clients write them, racing conditional PUTs, unreadable ranges (curl)"
expect_status 201 "PUT of tags.txt" -T kept.txt "$url/tags.txt"
e2e_fetch tag "$url/tags.txt" >/dev/null
tag=$(e2e_header tag ETag)
expect_status 304 "GET with the quoted ETag in If-None-Match" -H "If-None-Match: \"$tag\"" "$url/tags.txt"
for date in 'Sunday, 06-Nov-94 08:49:37 GMT' 'Sun Nov  6 08:49:37 1994'; do
  expect_status 412 "PUT with If-Unmodified-Since: $date" -H "If-Unmodified-Since: $date" -T changed.txt \
    "$url/tags.txt"
done
cmp -s kept.txt "$share/tags.txt" || fail "a PUT with a 1994 If-Unmodified-Since changed tags.txt"
for range in 'bytes=a-b' 'bytes=0x0-0x5'; do
  expect_status 200 "GET with Range: $range" -H "Range: $range" "$url/tags.txt"
  cmp -s kept.txt cond.body || fail "GET with Range: $range did not send the whole file"
done
expect_status 204 "PUT with the quoted ETag in If-Match" -H "If-Match: \"$tag\"" -T changed.txt "$url/tags.txt"
# Four PUTs with one If-Match at once: exactly one replaces the file, the others get 412.
for round in 1 2 3 4 5 6 7 8 9 10; do
  e2e_fetch tag "$url/tags.txt" >/dev/null
  tag=$(e2e_header tag ETag)
  pids=()
  for which in 1 2 3 4; do
    printf 'writer %s\n' "$which" >"writer-$which.txt"
    curl --silent --max-time 10 -o /dev/null -w '%{http_code}\n' -H "If-Match: \"$tag\"" \
      -T "writer-$which.txt" "$url/tags.txt" >"writer-$which.status" &
    pids+=($!)
  done
  wait "${pids[@]}"
  statuses=$(sort writer-*.status | tr '\n' ' ')
  [ "$statuses" = "204 412 412 412 " ] || fail "racing If-Match PUTs, round $round, answered $statuses"
done

leftovers=$(find "$share" -name '.*' | head -n 5)
[ -z "$leftovers" ] || fail "hidden leftovers in the shared folder: $leftovers"

e2e_finish cadaver
