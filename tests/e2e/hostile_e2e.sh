#!/usr/bin/env bash
# The web servers under hostile requests: one table of requests against webserve (WebDAV, the
# file manager and the static server; authentication off and on), each with the status it must
# get and nothing changed on disk (Digest headers replayed, gzip bombs, partial and refused PUTs);
# idle and trickling connections under a small descriptor limit, one address's share and room for
# other addresses when descriptors run low, every write answered then; an upload to a share on a
# full file system (in a mount namespace of its own, skipped where refused).
#
#   hostile_e2e.sh WEBSERVE
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"
e2e_init "${1:?usage: hostile_e2e.sh WEBSERVE}"

share=$work/share
outside=$work/outside
mkdir -p "$share/dir" "$outside"
echo "secret" >"$outside/secret.txt"
echo "hello" >"$share/f.txt"
echo "inner" >"$share/dir/a.txt"
ln -s "$outside" "$share/etc-link"
mkdir "$share/.hidden"
echo "hidden" >"$share/.hidden/h.txt"
ln -s .hidden "$share/shown"

# Every name, size, mode and time below both folders, and every file's bytes (but for the file
# manager's staging folder, which comes and goes with each upload, and the times of folders: a file
# made and removed again changes them, and what a folder holds is listed anyway).
state() {
  (cd "$work" && find share outside ! -path share/.lanyard-uploads \
    \( \( -type d -printf '%p %m %y\n' \) -o -printf '%p %s %m %T@ %y\n' \) | sort &&
    find share outside -type f -exec md5sum {} + | sort)
}

# raw PORT BYTES: sends BYTES (printf escapes) on one connection, prints the reply's status line
# codes in order ("100 401" when a 100 came first), "none" when nothing came.
raw() {
  python3 - "$1" "$2" <<'EOF'
import re, socket, sys
port, data = int(sys.argv[1]), sys.argv[2].encode('latin-1').decode('unicode_escape').encode('latin-1')
s = socket.create_connection(('127.0.0.1', port), timeout=20)
try:
    s.sendall(data)
except OSError:
    pass
reply = b''
try:
    while True:
        piece = s.recv(65536)
        if not piece:
            break
        reply += piece
except OSError:
    pass
codes = re.findall(rb'HTTP/1\.1 (\d{3}) ', reply)
print(' '.join(c.decode() for c in codes) if codes else 'none')
EOF
}

# multipart PARTS SIZE [gzip]: a multipart body of PARTS text parts of SIZE bytes, as a file.
multipart() {
  python3 - "$1" "$2" "${3:-}" "$work/body" <<'EOF'
import gzip, sys
parts, size, packed, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3] == 'gzip', sys.argv[4]
body = b''.join(b'--B\r\nContent-Disposition: form-data; name="t%d"\r\n\r\n' % i + b'x' * size + b'\r\n'
                for i in range(parts)) + b'--B--\r\n'
open(out, 'wb').write(gzip.compress(body) if packed else body)
EOF
}

# A 2 MB gzip body that decodes to 2 GiB of zeros, and a multipart body with one such file part.
python3 - "$work/bomb.gz" "$work/bomb-part.gz" <<'EOF'
import sys, zlib
def bomb(out, head=b'', tail=b''):
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)
    zeros = bytes(1 << 20)
    with open(out, 'wb') as f:
        f.write(packer.compress(head))
        for _ in range(2048):
            f.write(packer.compress(zeros))
        f.write(packer.compress(tail) + packer.flush())
bomb(sys.argv[1])
bomb(sys.argv[2], b'--B\r\nContent-Disposition: form-data; name="path"\r\n\r\n/\r\n'
     b'--B\r\nContent-Disposition: form-data; name="files[]"; filename="z.bin"\r\n\r\n', b'\r\n--B--\r\n')
EOF

# check NAME EXPECTED ACTUAL: also that nothing changed on disk since the last check.
before=$(state)
check() {
  if [ "$2" != "$3" ]; then fail "$1" "expected '$2', got '$3'"; else echo "PASS: $1"; fi
  local now
  now=$(state)
  if [ "$now" != "$before" ]; then
    fail "$1: the disk changed" "$(diff <(echo "$before") <(echo "$now") | head -5)"
    before=$now
  fi
}
status_of() { curl -s -o /dev/null -w '%{http_code}' --max-time 30 "$@"; }

for auth in off on; do
  args=()
  [ "$auth" = off ] || args=(--auth digest u p)
  e2e_start_webserve "dav-$auth" webdav "$share" "${args[@]}"
  p=$port
  H="Host: 127.0.0.1:$p\r\n"
  if [ "$auth" = on ]; then
    # Without credentials: 401 on the head, no 100, no body read, nothing written.
    check "[$auth] anonymous 1 GB PUT" 401 "$(raw "$p" "PUT /f.txt HTTP/1.1\r\n${H}Content-Length: 1000000000\r\n\r\nxx")"
    check "[$auth] anonymous PUT with 100-continue" 401 \
      "$(raw "$p" "PUT /f.txt HTTP/1.1\r\n${H}Expect: 100-continue\r\nContent-Length: 5\r\n\r\nworld")"
    # A Digest header made for another path, replayed here.
    replay=$(python3 - "$p" <<'EOF'
import hashlib, re, socket, sys
port = int(sys.argv[1])
def exchange(request):
    s = socket.create_connection(('127.0.0.1', port), timeout=20)
    s.sendall(request.encode())
    reply = b''
    while True:
        piece = s.recv(65536)
        if not piece:
            return reply.decode('latin-1')
        reply += piece
nonce = re.search(r'nonce="([0-9a-f]+)"', exchange('DELETE /other HTTP/1.1\r\nHost: x\r\n\r\n')).group(1)
md5 = lambda text: hashlib.md5(text.encode()).hexdigest()
answer = md5(md5('u:WebDAVServer:p') + ':' + nonce + ':' + md5('DELETE:/other'))
header = ('Authorization: Digest username="u", realm="WebDAVServer", nonce="%s", uri="/other", '
          'response="%s"\r\n' % (nonce, answer))
print(exchange('DELETE /f.txt HTTP/1.1\r\nHost: x\r\n' + header + '\r\n').split(' ')[1])
EOF
)
    check "[$auth] Digest header of another path replayed" 401 "$replay"
    # A header sniffed from curl --digest (qop=auth) replayed on its own URL with other bytes.
    curl -sv --max-time 30 -o /dev/null -w 'status %{http_code}\n' --digest -u u:p -T "$share/f.txt" \
      "http://127.0.0.1:$p/doc.txt" >"$work/sniffed" 2>&1
    sniffed=$(sed -n 's/^> \(Authorization: Digest .*\)\r$/\1/p' "$work/sniffed" | tail -1)
    before=$(state)
    check "[$auth] curl --digest PUT" "201 $(cat "$share/f.txt")" \
      "$(sed -n 's/^status //p' "$work/sniffed") $(cat "$share/doc.txt")"
    check "[$auth] sniffed Digest PUT header replayed" 401 \
      "$(status_of -X PUT -H "$sniffed" --data-binary 'other bytes' "http://127.0.0.1:$p/doc.txt")"
    rm -f "$share/doc.txt"
    before=$(state)
    e2e_stop "dav-$auth"
    continue
  fi
  check "[$auth] PUT with Transfer-Encoding: gzip, chunked" 501 \
    "$(raw "$p" "PUT /f.txt HTTP/1.1\r\n${H}Transfer-Encoding: gzip, chunked\r\n\r\n5\r\nworld\r\n0\r\n\r\n")"
  check "[$auth] PUT with two Content-Lengths" 400 \
    "$(raw "$p" "PUT /f.txt HTTP/1.1\r\n${H}Content-Length: 5\r\nContent-Length: 6\r\n\r\nworld!")"
  check "[$auth] PUT with Content-Length and chunked" 400 \
    "$(raw "$p" "PUT /f.txt HTTP/1.1\r\n${H}Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nworld\r\n0\r\n\r\n")"
  check "[$auth] head ending in bare LF" 200 "$(raw "$p" "GET /f.txt HTTP/1.1\nHost: x\n\n")"
  check "[$auth] PUT with Content-Range" 400 \
    "$(raw "$p" "PUT /f.txt HTTP/1.1\r\n${H}Content-Range: bytes 5-7/10\r\nContent-Length: 3\r\n\r\nxyz")"
  check "[$auth] PUT of a hidden name with 100-continue: no 100" 403 \
    "$(raw "$p" "PUT /.h HTTP/1.1\r\n${H}Expect: 100-continue\r\nContent-Length: 5\r\n\r\n")"
  check "[$auth] PUT into a missing folder with 100-continue: no 100" 409 \
    "$(raw "$p" "PUT /no/such/dir/x HTTP/1.1\r\n${H}Expect: 100-continue\r\nContent-Length: 5\r\n\r\n")"
  check "[$auth] 2 MB gzip PUT that decodes to 2 GiB" 413 \
    "$(status_of -T "$work/bomb.gz" -H 'Content-Encoding: gzip' "http://127.0.0.1:$p/f.txt")"
  check "[$auth] If-Modified-Since in 3988" 200 \
    "$(status_of -H 'If-Modified-Since: Sun, 06 Nov 3988 08:49:37 GMT' "http://127.0.0.1:$p/f.txt")"
  check "[$auth] COPY to another server's URL" 502 \
    "$(status_of -X COPY -H "Destination: http://evil.example/127.0.0.1:$p/copy.txt" "http://127.0.0.1:$p/f.txt")"
  check "[$auth] PROPFIND Depth 1 on a link to an outside folder" 404 \
    "$(status_of -X PROPFIND -H 'Depth: 1' "http://127.0.0.1:$p/etc-link")"
  check "[$auth] GET through a link to an outside folder" 404 "$(status_of "http://127.0.0.1:$p/etc-link/secret.txt")"
  check "[$auth] DELETE through a link to an outside folder" 404 \
    "$(status_of -X DELETE "http://127.0.0.1:$p/etc-link/secret.txt")"
  check "[$auth] GET through a visible link to a hidden folder" 404 "$(status_of "http://127.0.0.1:$p/shown/h.txt")"
  check "[$auth] PROPFIND Depth 1 through a visible link to a hidden folder" 404 \
    "$(status_of -X PROPFIND -H 'Depth: 1' "http://127.0.0.1:$p/shown/")"
  check "[$auth] GET /../outside/secret.txt" 404 \
    "$(status_of --path-as-is "http://127.0.0.1:$p/../outside/secret.txt")"
  lock=$(curl -s --max-time 30 -X LOCK -A 'WebDAVFS/3.0.0' -H 'Depth: 0' -H $'Timeout: Second-\xff\xfe' \
    --data-binary $'<?xml version="1.0"?><lockinfo xmlns="DAV:"><lockscope><exclusive/></lockscope><locktype><write/></locktype><owner><href>o\xe9</href></owner></lockinfo>' \
    "http://127.0.0.1:$p/f.txt")
  check "[$auth] LOCK answer with non-UTF-8 owner and Timeout is well-formed" ok \
    "$(xmllint --noout - <<<"$lock" 2>/dev/null && echo ok || echo "ill-formed: $lock")"
  e2e_stop "dav-$auth"
done

for auth in off on; do
  args=()
  [ "$auth" = off ] || args=(--auth digest u p)
  e2e_start_webserve "up-$auth" uploader "$share" "${args[@]}"
  p=$port
  if [ "$auth" = on ]; then
    check "[$auth] anonymous 100 MB upload" 401 \
      "$(raw "$p" "POST /upload HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=B\r\nExpect: 100-continue\r\nContent-Length: 100000000\r\n\r\n")"
    # The Authorization header of a curl --digest delete of a.txt, replayed to delete b.txt.
    echo a >"$share/a.txt"
    echo b >"$share/b.txt"
    curl -sv --max-time 30 -o /dev/null -w 'status %{http_code}\n' --digest -u u:p -d path=/a.txt \
      "http://127.0.0.1:$p/delete" >"$work/sniffed" 2>&1
    sniffed=$(sed -n 's/^> \(Authorization: Digest .*\)\r$/\1/p' "$work/sniffed" | tail -1)
    before=$(state)
    check "[$auth] curl --digest delete of a.txt" "200 gone" \
      "$(sed -n 's/^status //p' "$work/sniffed") $([ -e "$share/a.txt" ] && echo there || echo gone)"
    check "[$auth] its header replayed to delete b.txt" 401 \
      "$(status_of -H "$sniffed" -d path=/b.txt "http://127.0.0.1:$p/delete")"
    rm -f "$share/b.txt"
    before=$(state)
    e2e_stop "up-$auth"
    continue
  fi
  check "[$auth] list a link to an outside folder" 400 "$(status_of "http://127.0.0.1:$p/list?path=/etc-link")"
  check "[$auth] download through a link to an outside folder" 404 \
    "$(status_of "http://127.0.0.1:$p/download?path=/etc-link/secret.txt")"
  check "[$auth] download through a visible link to a hidden folder" 404 \
    "$(status_of "http://127.0.0.1:$p/download?path=/shown/h.txt")"
  check "[$auth] move through a link to an outside folder" 404 \
    "$(status_of -d 'oldPath=/etc-link/secret.txt&newPath=/stolen.txt' "http://127.0.0.1:$p/move")"
  multipart 40 524288
  check "[$auth] 40 text parts of 512 KiB" 413 \
    "$(status_of -H 'Content-Type: multipart/form-data; boundary=B' --data-binary @"$work/body" "http://127.0.0.1:$p/upload")"
  multipart 200000 0 gzip
  check "[$auth] 200,000 empty text parts, gzip" 413 \
    "$(status_of -H 'Content-Type: multipart/form-data; boundary=B' -H 'Content-Encoding: gzip' --data-binary @"$work/body" "http://127.0.0.1:$p/upload")"
  check "[$auth] gzip upload whose file part decodes to 2 GiB" 413 \
    "$(status_of -H 'Content-Type: multipart/form-data; boundary=B' -H 'Content-Encoding: gzip' --data-binary @"$work/bomb-part.gz" "http://127.0.0.1:$p/upload")"
  e2e_stop "up-$auth"
done

e2e_start_webserve static-off static "$share"
check "static: a link inside the folder is not served" 404 "$(status_of "http://127.0.0.1:$port/etc-link/secret.txt")"
e2e_stop static-off

# Idle connections under a small descriptor limit: they are closed after the idle time-out, and
# the server goes on accepting (it backs off while descriptors are out rather than spinning).
e2e_start idle "listening on" bash -c 'ulimit -n 128 && exec "$@"' _ \
  "$E2E_WEBSERVE" webdav "$share" 0 --localhost --idle-timeout 1
if python3 - "$port" <<'EOF'; then
import socket, sys, time
port = int(sys.argv[1])
held = []
for _ in range(300):
    try:
        held.append(socket.create_connection(('127.0.0.1', port), timeout=5))
    except OSError:
        break
time.sleep(3)
s = socket.create_connection(('127.0.0.1', port), timeout=20)
s.sendall(b'GET /f.txt HTTP/1.1\r\nHost: x\r\n\r\n')
reply = s.recv(100)
sys.exit(0 if reply.startswith(b'HTTP/1.1 200') else 1)
EOF
  echo "PASS: 300 idle connections under ulimit -n 128 are closed and the server goes on"
else
  fail "300 idle connections under ulimit -n 128"
fi
e2e_stop idle

# Heads that trickle in (a byte every second, well within the idle time-out) are closed at the
# head time-out of their first byte (those beyond the address's share at once), and a real client
# from another address is served meanwhile.
e2e_start slowhead "listening on" bash -c 'ulimit -n 256 && exec "$@"' _ \
  "$E2E_WEBSERVE" webdav "$share" 0 --localhost --idle-timeout 60 --head-timeout 2
if python3 - "$port" <<'EOF'; then
import socket, sys, time
port = int(sys.argv[1])
held = [socket.create_connection(('127.0.0.1', port), timeout=5) for _ in range(200)]
served = False
start = time.monotonic()
while held and time.monotonic() - start < 8:
    for s in list(held):
        try:
            s.send(b'G')
        except OSError:
            held.remove(s)
    if not served and time.monotonic() - start > 1:
        c = socket.create_connection(('127.0.0.1', port), timeout=10, source_address=('127.0.0.2', 0))
        c.sendall(b'GET /f.txt HTTP/1.1\r\nHost: x\r\n\r\n')
        served = c.recv(100).startswith(b'HTTP/1.1 200')
    time.sleep(1)
print('still open: %d, served: %s' % (len(held), served))
sys.exit(0 if not held and served else 1)
EOF
  echo "PASS: 200 trickling heads are closed at the head time-out and a real client is served"
else
  fail "200 trickling heads under --head-timeout 2"
fi
e2e_stop slowhead

# Uploads that trickle in from one address (above the minimum body rate; each holds a socket and a
# file, and each one closed comes back at once) take no more than that address's share: under a
# small descriptor limit, another address is answered within 3 s all along.
slowshare=$work/slowshare
mkdir -p "$slowshare"
echo "hello" >"$slowshare/f.txt"
e2e_start slowput "listening on" bash -c 'ulimit -n 256 && exec "$@"' _ \
  "$E2E_WEBSERVE" webdav "$slowshare" 0 --localhost
if python3 - "$port" <<'EOF'; then
import socket, sys, threading, time
port = int(sys.argv[1])
stop = time.monotonic() + 8
def put(i):
    s = socket.socket()
    s.setblocking(False)
    s.connect_ex(('127.0.0.1', port))
    return [s, b'PUT /slow%d.bin HTTP/1.1\r\nHost: x\r\nContent-Length: 10000000\r\n\r\n' % i]
def flood():  # 200 uploads at 1,100 bytes/s each, for 8 s
    puts = [put(i) for i in range(200)]
    while time.monotonic() < stop:
        for i, p in enumerate(puts):
            try:
                p[0].send(p[1] + b'x' * 110)
                p[1] = b''
            except BlockingIOError:
                pass
            except OSError:
                p[0].close()
                puts[i] = put(i)
        time.sleep(0.1)
    for p in puts:
        p[0].close()
threading.Thread(target=flood).start()
time.sleep(1.5)
worst, failed = 0.0, 0
while time.monotonic() < stop - 0.5:
    begin = time.monotonic()
    try:
        c = socket.create_connection(('127.0.0.1', port), timeout=3, source_address=('127.0.0.2', 0))
        c.sendall(b'GET /f.txt HTTP/1.1\r\nHost: x\r\n\r\n')
        failed += not c.recv(100).startswith(b'HTTP/1.1 200')
        c.close()
    except OSError:
        failed += 1
    worst = max(worst, time.monotonic() - begin)
    time.sleep(0.5)
print('GETs from another address: %d failed, slowest %.2f s' % (failed, worst))
sys.exit(1 if failed else 0)
EOF
  echo "PASS: 200 trickling uploads from one address under ulimit -n 256; another address is served"
else
  fail "200 trickling uploads from one address under ulimit -n 256"
fi
e2e_stop slowput

# When descriptors run low, the address that holds the most gives up its slowest connections to
# addresses that hold less.
e2e_start crowded "listening on" bash -c 'ulimit -n 64 && exec "$@"' _ \
  "$E2E_WEBSERVE" webdav "$slowshare" 0 --localhost
if python3 - "$port" <<'EOF'; then
import select, socket, sys, time
port = int(sys.argv[1])
def unanswered(socks):
    return len(socks) - len(select.select(socks, [], [], 0)[0])
held = []
for _ in range(40):
    s = socket.create_connection(('127.0.0.1', port), timeout=5)
    s.sendall(b'GET /f.txt HTTP/1.1\r\nHo')
    held.append(s)
time.sleep(0.5)
before, served = unanswered(held), 0
for n in range(2, 7):
    try:
        c = socket.create_connection(('127.0.0.1', port), timeout=3, source_address=('127.0.0.%d' % n, 0))
        c.sendall(b'GET /f.txt HTTP/1.1\r\nHost: x\r\n\r\n')
        served += c.recv(100).startswith(b'HTTP/1.1 200')
    except OSError:
        pass
time.sleep(0.5)
after = unanswered(held)
print('held from one address: %d, then %d; served from others: %d of 5' % (before, after, served))
sys.exit(0 if served == 5 and after < before else 1)
EOF
  echo "PASS: under ulimit -n 64, the biggest holder makes room for other addresses"
else
  fail "the biggest holder under ulimit -n 64"
fi
e2e_stop crowded

# Writes while descriptors are short: ten idle connections from other addresses (made again as
# they are shed), and four writers each sending 25 PUTs (WebDAV) or forms (the file manager), one
# after another. Every write is answered: stored with 2xx, or 503 with nothing stored.
for mode in webdav uploader; do
  short=$work/short-$mode
  mkdir -p "$short"
  e2e_start "short$mode" "listening on" bash -c 'ulimit -n 64 && exec "$@"' _ \
    "$E2E_WEBSERVE" "$mode" "$short" 0 --localhost
  if python3 - "$port" "$mode" "$short" <<'EOF'; then
import os, socket, sys, threading, time
port, mode, share = int(sys.argv[1]), sys.argv[2], sys.argv[3]
stop, lock, seen = threading.Event(), threading.Lock(), {}
def hold(n):
    while not stop.is_set():
        try:
            s = socket.create_connection(('127.0.0.1', port), timeout=5, source_address=('127.0.0.%d' % (100 + n), 0))
            s.sendall(b'GET /f HTTP/1.1\r\nHo')
            s.settimeout(0.2)
            while not stop.is_set():
                try:
                    if not s.recv(100):
                        break
                except socket.timeout:
                    pass
            s.close()
        except OSError:
            time.sleep(0.05)
def request(name):
    if mode == 'webdav':
        return b'PUT /%s HTTP/1.1\r\nHost: x\r\nContent-Length: 4\r\n\r\ndata' % name.encode()
    form = (b'--B\r\nContent-Disposition: form-data; name="path"\r\n\r\n/\r\n--B\r\nContent-Disposition: '
            b'form-data; name="files[]"; filename="%s"\r\n\r\ndata\r\n--B--\r\n' % name.encode())
    return (b'POST /upload HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=B\r\n'
            b'Content-Length: %d\r\n\r\n' % len(form) + form)
def write(w):
    for r in range(25):
        name, reply = 'w%d-%d.txt' % (w, r), b''
        try:
            c = socket.create_connection(('127.0.0.1', port), timeout=10, source_address=('127.0.0.%d' % (2 + w), 0))
            c.sendall(request(name))
            while True:
                piece = c.recv(65536)
                if not piece:
                    break
                reply += piece
            c.close()
        except OSError:
            pass
        status = reply[9:12].decode() if reply.startswith(b'HTTP/1.1 ') else 'none'
        stored = os.path.exists(os.path.join(share, name))
        with lock:
            key = (status, stored)
            seen[key] = seen.get(key, 0) + 1
holders = [threading.Thread(target=hold, args=(n,), daemon=True) for n in range(10)]
for t in holders:
    t.start()
time.sleep(0.5)
writers = [threading.Thread(target=write, args=(w,)) for w in range(4)]
for t in writers:
    t.start()
for t in writers:
    t.join()
stop.set()
print('%s writes under ulimit -n 64 (status, stored): %s' % (mode, sorted(seen.items())))
answered = all((s == '503' and not stored) or (s in ('200', '201') and stored) for s, stored in seen)
sys.exit(0 if answered else 1)
EOF
    echo "PASS: every $mode write under ulimit -n 64 beside idle holders is answered"
  else
    fail "$mode writes under ulimit -n 64 beside idle holders"
  fi
  e2e_stop "short$mode"
done

# Uploads are staged in the share itself (the system's temporary folder is unusable here), and on
# a full disk the upload fails with nothing left behind.
if unshare -rm true 2>/dev/null; then
  small=$work/small
  mkdir -p "$small"
  head -c 100000 /dev/urandom >"$work/small.bin"
  head -c 8000000 /dev/urandom >"$work/big.bin"
  result=$(unshare -rm bash -c '
    set -e
    mount -t tmpfs -o size=2m tmpfs "$1"
    TMPDIR=/nonexistent "$2" uploader "$1" 0 --localhost >"$3/full.out" 2>"$3/full.err" &
    pid=$!
    for _ in $(seq 1 100); do grep -q "listening on" "$3/full.out" && break; sleep 0.1; done
    url=$(sed -n "s/^listening on //p" "$3/full.out")
    fits=$(curl -s -o /dev/null -w "%{http_code}" --max-time 60 -F "files[]=@$3/small.bin" -F path=/ "$url/upload")
    full=$(curl -s -o /dev/null -w "%{http_code}" --max-time 60 -F "files[]=@$3/big.bin" -F path=/ "$url/upload")
    left=$(find "$1" -type f | wc -l)
    kill -TERM $pid; wait $pid
    echo "$fits $full $left"' _ "$small" "$E2E_WEBSERVE" "$work" 2>&1 | tail -1)
  check "uploads staged in the share; a full share answers 507 and leaves nothing" "200 507 1" "$result"
else
  echo "SKIP: mount namespaces refused; uploads to a full share are not tried"
fi

e2e_finish "hostile"
