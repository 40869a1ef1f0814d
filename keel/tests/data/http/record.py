#!/usr/bin/env python3
"""Records the wire texts the HTTP parser tests replay (run by hand; the outputs are kept).

curl-*.txt: requests exactly as curl sends them, caught by a one-shot listener on 127.0.0.1.
pyserver-*.txt: replies exactly as python3's http.server writes them, fetched over a raw socket.
"""
import http.server
import os
import socket
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))


def catch_request(curl_args, stdin=None):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    caught = []

    def serve():
        conn, _ = listener.accept()
        conn.settimeout(2)
        data = b""
        try:
            while True:
                piece = conn.recv(65536)
                if not piece:
                    break
                data += piece
                if head_complete(data):
                    break
        except socket.timeout:
            pass
        caught.append(data)
        conn.sendall(b"HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n")
        conn.close()

    thread = threading.Thread(target=serve)
    thread.start()
    url = f"http://127.0.0.1:{port}"
    args = [a.replace("URL", url) for a in curl_args]
    subprocess.run(["curl", "-s", "-o", "/dev/null", "--max-time", "5"] + args, input=stdin, check=False)
    thread.join()
    listener.close()
    return caught[0]


def head_complete(data):
    """The head and, by its Content-Length or chunked coding, the whole body have arrived."""
    end = data.find(b"\r\n\r\n")
    if end < 0:
        return False
    head = data[:end].decode("latin-1").lower()
    body = data[end + 4:]
    for line in head.split("\r\n"):
        if line.startswith("content-length:"):
            return len(body) >= int(line.split(":", 1)[1])
        if line.startswith("transfer-encoding:") and "chunked" in line:
            return body.endswith(b"0\r\n\r\n")
    return True


class ChunkedHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for piece in (b"Hello, ", b"chunked ", b"world!\n" * 40):
            self.wfile.write(b"%X\r\n%s\r\n" % (len(piece), piece))
        self.wfile.write(b"0\r\nX-Trailer: done\r\n\r\n")

    def log_message(self, *args):
        pass


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def fetch_reply(handler, request):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with socket.create_connection(server.server_address, timeout=5) as conn:
        conn.sendall(request)
        data = b""
        while True:
            piece = conn.recv(65536)
            if not piece:
                break
            data += piece
    server.shutdown()
    return data


def main():
    requests = {
        "curl-get.txt": (["URL/a%20b/c.txt?x=1&y=%C3%A9"], None),
        "curl-head.txt": (["-I", "URL/file"], None),
        "curl-post-form.txt": (["-d", "name=J%C3%B6rg&x=1+2", "URL/form"], None),
        "curl-put-chunked.txt": (["-T", "-", "-H", "X-Note: from stdin", "URL/upload/data.bin"], b"0123456789" * 50),
        "curl-range-headers.txt": (["-r", "0-99", "-H", "Accept: text/*", "-H", "X-Empty;", "-A",
                                    "klprobe-recorder/1.0", "URL/movie.mp4"], None),
        "curl-multipart.txt": (["-F", "file=@-;filename=notes.txt", "URL/upload"], b"line one\nline two\n"),
    }
    for name, (args, stdin) in requests.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(catch_request(args, stdin))

    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "hello.txt"), "wb") as out:
            out.write(b"Hello from http.server\n" * 20)
        os.mkdir(os.path.join(folder, "sub dir"))
        cwd = os.getcwd()
        os.chdir(folder)
        try:
            replies = {
                "pyserver-file.txt": b"GET /hello.txt HTTP/1.0\r\n\r\n",
                "pyserver-listing.txt": b"GET / HTTP/1.0\r\n\r\n",
                "pyserver-404.txt": b"GET /missing HTTP/1.0\r\n\r\n",
                "pyserver-head.txt": b"HEAD /hello.txt HTTP/1.0\r\n\r\n",
                "pyserver-redirect.txt": b"GET /sub%20dir HTTP/1.0\r\n\r\n",
            }
            for name, request in replies.items():
                with open(os.path.join(HERE, name), "wb") as out:
                    out.write(fetch_reply(QuietFiles, request))
        finally:
            os.chdir(cwd)
    with open(os.path.join(HERE, "pyserver-chunked.txt"), "wb") as out:
        out.write(fetch_reply(ChunkedHandler, b"GET /stream HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
