#!/usr/bin/env bash
# Clients that pipeline: 4 connections at once, each sending its next GET of a 2 MB range of a file
# over WebDAV as soon as the head of the answer before arrives, and reading through a small window.
# The server ends every connection after its answer; that close must never reset the connection
# under the answer: every answer arrives whole (206, 2 MB, the file's bytes), followed by the end
# of the stream, and each client goes on with the request the close left unanswered.
#
#   web_pipelining_e2e.sh WEBSERVE
set -euo pipefail

. "$(dirname "$0")/e2e_lib.sh"
e2e_init "${1:?usage: web_pipelining_e2e.sh WEBSERVE}"

share=$work/share
mkdir -p "$share"
head -c 16777216 /dev/urandom >"$share/big.bin"
e2e_start_webserve webdav webdav "$share"

result=$(python3 - "$port" "$share/big.bin" <<'EOF'
import socket, sys, threading, time

port, path = int(sys.argv[1]), sys.argv[2]
data = open(path, 'rb').read()
RANGE = 2 * 1024 * 1024
ANSWERS = 6  # per connection
whole, cut = [0], []
lock = threading.Lock()


def request(start):
    return ('GET /big.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: bytes=%d-%d\r\n\r\n'
            % (start, start + RANGE - 1)).encode()


def one_answer(start):
    """One connection: the GET, the next one once the head arrives, then the answer slowly."""
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
    s.settimeout(20)
    s.connect(('127.0.0.1', port))
    s.sendall(request(start))
    received = b''
    try:
        while b'\r\n\r\n' not in received:
            chunk = s.recv(65536)
            if not chunk:
                return 'closed before the head'
            received += chunk
        s.sendall(request((start + RANGE) % len(data)))
        time.sleep(0.2)  # the answer fills the window meanwhile
        while True:
            chunk = s.recv(16384)
            if not chunk:
                break
            received += chunk
            time.sleep(0.0005)
    except OSError as error:
        return '%s after %d bytes' % (type(error).__name__, len(received))
    finally:
        s.close()
    head, _, body = received.partition(b'\r\n\r\n')
    if not head.startswith(b'HTTP/1.1 206'):
        return 'status %r' % head.split(b'\r\n')[0]
    if body != data[start:start + RANGE]:
        return 'body of %d bytes, not the range of %d' % (len(body), RANGE)
    return None


def client(n):
    for i in range(ANSWERS):
        start = ((n * ANSWERS + i) * RANGE) % len(data)
        failure = one_answer(start)
        with lock:
            if failure:
                cut.append(failure)
            else:
                whole[0] += 1


threads = [threading.Thread(target=client, args=(n,)) for n in range(4)]
for t in threads:
    t.start()
for t in threads:
    t.join()
print('%d %d %s' % (whole[0], len(cut), '; '.join(sorted(set(cut)))[:300]))
EOF
)
read -r whole cut detail <<<"$result"
echo "4 connections pipelining GETs of 2 MB ranges: $whole answers whole, $cut cut ${detail:-}"
if [ "$whole" != 24 ] || [ "$cut" != 0 ]; then
  fail "pipelined GETs of 2 MB ranges" "$result"
fi

e2e_finish "pipelining"
