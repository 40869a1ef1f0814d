#!/usr/bin/env bash
# WebDAV writers that wait for an item hold up no other request. In a mount namespace of its own, a
# tmpfs mounted inside the share makes a second file system there; while a MOVE of a tree of files
# from it runs and PUTs of its destination come in (more than the server has workers), a GET of
# another file is answered within 0.5 s. Then the move is whole, its source gone, and nothing of
# the server's staging is left. A PUT of a moved file's source while it is copied is never lost.
# While COPYs of many small files run, a 1 KB PUT from another address answers within 0.5 s.
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
trap 'umount -l "$share/other" 2>/dev/null; e2e_cleanup' EXIT
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

e2e_finish "WebDAV item lock"
