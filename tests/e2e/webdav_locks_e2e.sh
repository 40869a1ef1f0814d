#!/usr/bin/env bash
# WebDAV writers that wait for an item hold up no other request. In a mount namespace of its own, a
# tmpfs mounted inside the share makes a second file system there; while a MOVE of a tree of files
# from it runs and PUTs of its destination come in (more than the server has workers), a GET of
# another file is answered within 0.5 s. Then the move is whole, its source gone, and nothing of
# the server's staging is left. A PUT of a moved file's source while it is copied is never lost,
# nor one into a folder moved to the tmpfs (see below). While COPYs of many small files run, a 1 KB
# PUT from another address answers within 0.5 s. An upload form onto a full tmpfs answers 507.
# Exits 77 where mount namespaces are refused.
#
#   webdav_locks_e2e.sh WEBSERVE
set -euo pipefail

if [ -z "${WEBDAV_LOCKS_E2E_INSIDE:-}" ]; then
  if ! unshare -rm true 2>/dev/null; then
    echo "SKIP: mount namespaces refused; a second file system in the share is not tried"
    exit 77
  fi
  exec unshare -rm env WEBDAV_LOCKS_E2E_INSIDE=1 bash "$0" "$@"
fi

. "$(dirname "$0")/e2e_lib.sh"
e2e_init "${1:?usage: webdav_locks_e2e.sh WEBSERVE}"

share=$work/share
mkdir -p "$share/other"
mount -t tmpfs -o size=256m lanyard-other "$share/other"
trap 'umount -l "$share/other" "$share/small" 2>/dev/null; e2e_cleanup' EXIT
echo "hello" >"$share/f.txt"
# A tree whose copy takes a while (made quickly on the tmpfs): 80 folders of 100 files.
python3 - "$share/other/tree" <<'EOF'
import os, sys
for i in range(8000):
    folder = os.path.join(sys.argv[1], 'd%d' % (i // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'f%d.txt' % i), 'w') as f:
        f.write('x' * 100)
EOF

e2e_start_webserve webdav webdav "$share" --max-per-peer 100

curl -s -o /dev/null -w '%{http_code}' --max-time 120 -X MOVE -H "Destination: $url/tree" \
  -H "Overwrite: T" "$url/other/tree" >"$work/move.status" &
move=$!
# The copy has begun once its hidden item is beside the destination.
for _ in $(seq 1 200); do
  compgen -G "$share/.lanyard-staging-*" >/dev/null && break
  sleep 0.05
done
puts=()
for i in $(seq 1 40); do
  curl -s -o /dev/null -w '%{http_code}\n' --max-time 120 -T - "$url/tree" \
    <<<"put $i" >"$work/put.$i.status" &
  puts+=($!)
done
sleep 0.3
get=$(curl -s -o "$work/get.body" -w '%{http_code} %{time_total}' --max-time 20 "$url/f.txt" || true)
if kill -0 "$move" 2>/dev/null; then moving=yes; else moving=no; fi
read -r status seconds <<<"$get"
echo "GET during the move: $status in $seconds s (move still running: $moving)"
if [ "$status" != 200 ] || [ "$(cat "$work/get.body")" != hello ]; then
  fail "GET of another file during the move" "$get"
fi
awk -v s="$seconds" 'BEGIN { exit !(s < 0.5) }' || fail "GET of another file took ${seconds} s"
[ "$moving" = yes ] || fail "the move ended before the GET was answered"

wait "$move" || true
for pid in "${puts[@]}"; do wait "$pid" || true; done
move_status=$(cat "$work/move.status")
[ "$move_status" = 201 ] || [ "$move_status" = 204 ] || fail "MOVE across file systems" "$move_status"
put_statuses=$(cat "$work"/put.*.status | sort | uniq -c | tr -s ' \n' ' ')
# A PUT that comes once the tree is in place finds a folder there (405).
grep -qvE '^(201|204|405)$' "$work"/put.*.status && fail "PUTs of the destination" "$put_statuses"
moved=$(find "$share/tree" -type f 2>/dev/null | wc -l)
[ "$moved" = 8000 ] || fail "files in the moved tree" "$moved"
[ ! -e "$share/other/tree" ] || fail "the source of the move is still there"
left=$(find "$share" -name '.lanyard-staging-*' | wc -l)
[ "$left" = 0 ] || fail "staging items left behind" "$left"
echo "MOVE $move_status, PUTs: $put_statuses, $moved files moved"

# A PUT of the source while the move copies it: the PUT's bytes are kept, moved or at the source.
head -c 200000000 /dev/zero >"$share/other/big.bin"
curl -s -o /dev/null -w '%{http_code}' --max-time 120 -X MOVE -H "Destination: $url/big.bin" \
  "$url/other/big.bin" >"$work/move2.status" &
move=$!
for _ in $(seq 1 200); do
  compgen -G "$share/.lanyard-staging-*" >/dev/null && break
  sleep 0.01
done
put=$(curl -s -o /dev/null -w '%{http_code}' --max-time 60 -T - "$url/other/big.bin" <<<"mine")
wait "$move" || true
kept=0
for file in "$share/big.bin" "$share/other/big.bin"; do
  if [ "$(head -c 10 "$file" 2>/dev/null)" = mine ]; then kept=$((kept + 1)); fi
done
echo "PUT of the source during the move: $put, MOVE $(cat "$work/move2.status"), its bytes kept: $kept"
[ "$kept" = 1 ] || fail "the bytes of a PUT of the source during the move"
left=$(find "$share" -name '.lanyard-staging-*' | wc -l)
[ "$left" = 0 ] || fail "staging items left behind" "$left"

# Long copies never hold a short write: while COPYs of a folder of many small files run (as many
# as the file-operations pool has threads, at least 4), a 1 KB PUT from another address answers
# within 0.5 s.
python3 - "$share/many" <<'EOF'
import os, sys
os.makedirs(sys.argv[1])
for i in range(5000):
    with open(os.path.join(sys.argv[1], 'f%d.txt' % i), 'w') as f:
        f.write('x' * 100)
EOF
copies=$(($(nproc) / 2))
[ "$copies" -ge 4 ] || copies=4
copiers=()
for i in $(seq 1 "$copies"); do
  curl -s -o /dev/null -w '%{http_code}' --max-time 120 -X COPY -H "Destination: $url/many.$i" \
    "$url/many" >"$work/copy.$i.status" &
  copiers+=($!)
done
# The copies have begun once their hidden items are beside their destinations.
for _ in $(seq 1 200); do
  [ "$(find "$share" -maxdepth 1 -name '.lanyard-staging-*' | wc -l)" -ge "$copies" ] && break
  sleep 0.05
done
head -c 1024 /dev/urandom >"$work/kb.bin"
put=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' --max-time 30 --interface 127.0.0.2 \
  -T "$work/kb.bin" "${url/localhost/127.0.0.1}/kb.bin" || true)
running=0
for pid in "${copiers[@]}"; do
  if kill -0 "$pid" 2>/dev/null; then running=$((running + 1)); fi
done
read -r status seconds <<<"$put"
echo "1 KB PUT from 127.0.0.2 beside $copies COPYs of 5,000 files: $status in $seconds s ($running copies still running)"
[ "$status" = 201 ] || fail "PUT of 1 KB during the copies" "$put"
cmp -s "$work/kb.bin" "$share/kb.bin" || fail "the PUT's 1 KB stored"
awk -v s="$seconds" 'BEGIN { exit !(s < 0.5) }' || fail "PUT of 1 KB during the copies took ${seconds} s"
[ "$running" -gt 0 ] || fail "the copies ended before the PUT was answered"
for i in $(seq 1 "$copies"); do
  wait "${copiers[$((i - 1))]}" || true
  [ "$(cat "$work/copy.$i.status")" = 201 ] || fail "COPY $i" "$(cat "$work/copy.$i.status")"
  copied=$(find "$share/many.$i" -type f | wc -l)
  [ "$copied" = 5000 ] || fail "files in copy $i" "$copied"
done

# A move to the tmpfs while 4 clients PUT into what it moves (into its subfolder, into the folder
# itself; by WebDAV and by the file manager's /move): every PUT answered 2xx is found whole
# afterwards, at the destination or still in the source. A source that never stays still may be
# given up (503): then it is whole and nothing of it is at the destination.
davurl=$url
e2e_start_webserve uploader uploader "$share"
upurl=$url

# 1,500 files: half in the folder, half in its subfolder "sub".
make_folder() {
  python3 - "$1" <<'EOF'
import os, sys
for i in range(1500):
    folder = os.path.join(sys.argv[1], 'sub' if i % 2 else '')
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'f%d.txt' % i), 'w') as f:
        f.write('f%d ' % i + 'x' * (i % 300))
EOF
}

# 4 clients PUT new files into the folder $1 (a path on the server), each pausing $4 s before
# each PUT, until $2 exists; each answer is noted as "path status" in $3 ($3.started is made at
# the first).
write_during() {
  python3 - "$davurl" "$1" "$2" "$3" "$4" <<'EOF'
import http.client, os, sys, threading, time, urllib.parse
base, folder, stop, out = sys.argv[1:5]
pause = float(sys.argv[5])
host = urllib.parse.urlsplit(base).netloc
lines, lock = [], threading.Lock()
def client(c):
    connection, deadline = None, time.time() + 60
    for n in range(100000):
        if os.path.exists(stop) or time.time() > deadline:
            break
        path = '%s/w%d-%d.txt' % (folder, c, n)
        try:
            connection = connection or http.client.HTTPConnection(host, timeout=30)
            time.sleep(pause)
            connection.request('PUT', path, body=(path + ' ' + 'y' * (n % 500)).encode())
            response = connection.getresponse()
            response.read()
            status = response.status
            if response.getheader('Connection', '').lower() == 'close':
                connection.close(); connection = None
        except Exception:
            status = 0
            connection = None
        with lock:
            lines.append('%s %d' % (path, status))
            if len(lines) == 1:
                open(out + '.started', 'w').close()
threads = [threading.Thread(target=client, args=(c,)) for c in range(4)]
for t in threads: t.start()
for t in threads: t.join()
open(out, 'w').write('\n'.join(lines) + '\n')
EOF
}

# Every PUT answered 2xx in $1 is whole in the source $2 or under the destination $3 (paths below
# the share); prints "answered moved left".
check_kept() {
  python3 - "$share" "$1" "$2" "$3" <<'EOF'
import os, sys
share, notes, source, destination = sys.argv[1:5]
answered = moved = left = 0
for line in open(notes).read().splitlines():
    if not line:
        continue
    path, status = line.rsplit(' ', 1)
    if not status.startswith('2'):
        continue
    answered += 1
    n = int(path.rsplit('-', 1)[1].split('.')[0])
    body = (path + ' ' + 'y' * (n % 500)).encode()
    relative = path[len('/' + source):]
    places = [os.path.join(share, destination) + relative, os.path.join(share, source) + relative]
    found = [p for p in places if os.path.isfile(p) and open(p, 'rb').read() == body]
    if not found:
        sys.exit('LOST: %s (answered %s)' % (path, status))
    if found[0] == places[0]: moved += 1
    else: left += 1
print(answered, moved, left)
EOF
}

# Moves $2 to $3 (paths below the share) by WebDAV or the file manager ($1); prints the status.
move_by() {
  if [ "$1" = WebDAV ]; then
    curl -s -o /dev/null -w '%{http_code}' --max-time 120 -X MOVE -H "Destination: $davurl/$3" "$davurl/$2"
  else
    curl -s -o /dev/null -w '%{http_code}' --max-time 120 \
      --data-urlencode "oldPath=/$2" --data-urlencode "newPath=/$3" "$upurl/move"
  fi
}

# Moves $2 to $3 (by $1) while 4 clients write into $4, pausing $5 s between PUTs: without pauses
# the source rarely stays still long enough, and the move is mostly given up; with them, it is
# mostly done with the last PUTs left in the source. Either way nothing answered is lost.
move_while_writing() {
  local how=$1 source=$2 destination=$3 into=$4 pause=$5 status kept originals
  make_folder "$share/$source"
  rm -f "$work/stop"
  write_during "/$into" "$work/stop" "$work/writes.$source" "$pause" &
  local writers=$!
  for _ in $(seq 1 200); do
    [ -e "$work/writes.$source.started" ] && break
    sleep 0.05
  done
  status=$(move_by "$how" "$source" "$destination")
  touch "$work/stop"
  wait "$writers"
  kept=$(check_kept "$work/writes.$source" "$source" "$destination") || fail "$how move of $source" "$kept"
  case $status in
    2*) originals=$(find "$share/$destination" -name 'f*.txt' | wc -l) ;;
    503) originals=$(find "$share/$source" -name 'f*.txt' | wc -l)
      [ ! -e "$share/$destination" ] || fail "$how move of $source given up, yet its destination is there" ;;
    *) fail "$how move of $source into the tmpfs" "$status" ;;
  esac
  [ "$originals" = 1500 ] || fail "$how move of $source: files of the folder where they belong" "$originals"
  left=$(find "$share/other" -name '.lanyard-staging-*' | wc -l)
  [ "$left" = 0 ] || fail "staging items left at the destination" "$left"
  read -r answered moved remained <<<"$kept"
  echo "$how move of $source while PUTs land in /$into (pause $pause s): $status; $answered PUTs answered" \
    "2xx, all whole" \
    "($moved moved, $remained still in the source)"
}

move_while_writing WebDAV src1 other/moved1 src1/sub 0
move_while_writing WebDAV src2 other/moved2 src2 0.01
move_while_writing "file manager" src3 other/moved3 src3/sub 0.01

# A user's items named like the server's own go with a move like any other.
for how in WebDAV "file manager"; do
  mkdir -p "$share/mine/sub/.lanyard-uploads" "$share/mine/x"
  echo notes >"$share/mine/sub/.lanyard-uploads/notes.txt"
  echo staged >"$share/mine/x/.lanyard-staging-notes.txt"
  status=$(move_by "$how" mine other/mine)
  [ "$(cat "$share/other/mine/sub/.lanyard-uploads/notes.txt" 2>/dev/null)" = notes ] &&
    [ "$(cat "$share/other/mine/x/.lanyard-staging-notes.txt" 2>/dev/null)" = staged ] &&
    [ ! -e "$share/mine" ] || fail "$how move of a user's items named like the server's" "$status"
  echo "$how move of a user's .lanyard-uploads and .lanyard-staging-notes.txt: $status, both moved"
  rm -rf "$share/other/mine"
done

# An upload form onto a full file system (a small tmpfs inside the share; the form is staged on the
# share's own disk and copied in) answers 507, as a PUT does, and leaves nothing there.
mkdir -p "$share/small"
mount -t tmpfs -o size=1m lanyard-small "$share/small"
head -c 3000000 /dev/urandom >"$work/big.form.bin"
full=$(curl -s -o /dev/null -w '%{http_code}' --max-time 60 -F path=/small \
  -F "files[]=@$work/big.form.bin;filename=big.bin" "$upurl/upload")
echo "an upload form onto a full tmpfs: $full"
[ "$full" = 507 ] || fail "an upload form onto a full tmpfs answers 507" "$full"
left=$(find "$share/small" -mindepth 1 | wc -l)
[ "$left" = 0 ] || fail "what a form onto a full tmpfs left there" "$left"

e2e_finish "WebDAV item lock"
