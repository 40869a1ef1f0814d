#!/usr/bin/env bash
# dlnaserve (the file media server) against minidlna, in the two network namespaces of
# tests/e2e/netns_lib.sh: both serve one folder from the device namespace (dlnaserve without any
# index, minidlna after its scan); clients in the client namespace measure, each measurement on
# both servers one after the other:
#   - Browse of a 1,000-file folder, RequestedCount 0 (median of 20),
#   - the whole listing of a 10,000-file folder in pages of 200 over one connection (median of 5),
#   - BrowseMetadata of the 1,000 files in turn from 200 kept-alive clients on 50 addresses, 50
#     requests each: the server's CPU time (user and system, /proc/PID/stat before and after) per
#     request, and the requests per second (the Python client is the bottleneck there, not
#     dlnaserve),
#   - a kept-alive client with Nagle on (as many TV stacks) that pauses 10 ms before each of 300
#     pages of 200 of the 10,000-file folder: the longest page, the 99th percentile, the median,
#   - a client with Nagle on that sends each request's head and body in two sends, 100 pages of
#     200 back to back: the median and the longest page,
#   - a 1 GiB WAV GET, one stream and 8 in parallel (curl, median of 3),
# and prints each figure for both and the ratio. No pass or fail beyond a failed request.
# minidlna closes the connection after every answer, so its clients reconnect for each request.
#
# usage: bench/dlna_bench.sh [dlnaserve]      (default: the release build's; run as root)
#        DLNA_BENCH_ONLY=browse_1000,list_10000,metadata_load,paused_pages,split_pages,get_wav
#        picks some of the measurements.
#
# Needs minidlna (minidlnad), ffmpeg, curl and python3. `apt-get install minidlna` starts minidlna
# as a system service on the machine's own network: install it as bench/README.md says (with a
# policy-rc.d that refuses the start), or stop and disable the service at once. This script runs
# its own minidlnad with its configuration, database and log in a temporary folder, inside the
# device namespace only, and ends it by its PID.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
dlnaserve=${1:-$here/../build/release/tests/tools/dlnaserve/dlnaserve}
minidlnad=$(command -v minidlnad || echo /usr/sbin/minidlnad)
python=/usr/bin/python3
[ -x "$dlnaserve" ] || { echo "dlnaserve not found: $dlnaserve (cmake --build --preset release)" >&2; exit 1; }
[ -x "$minidlnad" ] || { echo "minidlnad not found (apt-get install minidlna; then stop its service)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not found" >&2; exit 1; }
if pgrep -x minidlnad >/dev/null; then
  echo "note: a minidlnad already runs (the system service?); this run uses its own in a namespace" >&2
fi

. "$here/../tests/e2e/netns_lib.sh"
netns_up
work=$(mktemp -d "${TMPDIR:-/tmp}/dlna-bench-XXXXXX")
chmod 755 "$work"
cleanup() {
  [ -f "$work/minidlna.pid" ] && kill "$(cat "$work/minidlna.pid")" 2>/dev/null
  netns_down
  rm -rf "$work"
}
trap cleanup EXIT

echo "== building the folder (1,000 and 10,000 copies of a small MP3, a 1 GiB WAV)"
media=$work/media
mkdir -p "$media/Small1000" "$media/Small10000" "$media/Big"
ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame -q:a 9 "$work/small.mp3"
"$python" - "$work/small.mp3" "$media" <<'EOF'
import shutil, sys
source, media = sys.argv[1], sys.argv[2]
for folder, count in (("Small1000", 1000), ("Small10000", 10000)):
    for i in range(count):
        shutil.copyfile(source, "%s/%s/track%05d.mp3" % (media, folder, i))
EOF
# 1 GiB of 16-bit stereo 44.1 kHz: 6087 s of sine, a WAV header on top
ffmpeg -v error -f lavfi -i sine=frequency=440:duration=6087:sample_rate=44100 -ac 2 -c:a pcm_s16le "$media/Big/big.wav"

echo "== starting dlnaserve and minidlna in $NS_DEV"
ip netns exec "$NS_DEV" "$dlnaserve" "$media" "Lanyard Bench" >"$work/dlnaserve.out" 2>"$work/dlnaserve.err" &
dlnaserve_pid=$!
location=""
for _ in $(seq 1 100); do
  location=$(sed -n 's/^device at //p' "$work/dlnaserve.out")
  [ -z "$location" ] || break
  sleep 0.1
done
[ -n "$location" ] || { echo "dlnaserve did not start:" >&2; cat "$work/dlnaserve.err" >&2; exit 1; }
mkdir -p "$work/minidlna-db" "$work/minidlna-log"
cat >"$work/minidlna.conf" <<CONF
media_dir=$media
db_dir=$work/minidlna-db
log_dir=$work/minidlna-log
network_interface=en0
port=8200
friendly_name=minidlna bench
inotify=no
album_art_names=none.jpg
CONF
ip netns exec "$NS_DEV" "$minidlnad" -f "$work/minidlna.conf" -P "$work/minidlna.pid"

for _ in $(seq 1 100); do
  [ -s "$work/minidlna.pid" ] && break
  sleep 0.1
done
minidlna_pid=$(cat "$work/minidlna.pid" 2>/dev/null || true)
# the CPU figures read these processes' /proc/PID/stat
dlnaserve_name=$(basename "$dlnaserve")
[ "$(cat "/proc/$dlnaserve_pid/comm" 2>/dev/null)" = "${dlnaserve_name:0:15}" ] || { echo "dlnaserve is not PID $dlnaserve_pid" >&2; exit 1; }
[ "$(cat "/proc/$minidlna_pid/comm" 2>/dev/null)" = minidlnad ] || { echo "minidlnad did not start" >&2; exit 1; }

# The 200 BrowseMetadata clients come from 50 addresses of the client namespace, 4 from each, as
# from 50 devices: dlnaserve holds at most 16 connections per peer address.
load_sources=""
for i in $(seq 100 149); do
  ip -n "$NS_CP" addr add "${NETNS_CP_ADDRESS%.*}.$i/24" dev cp0
  load_sources="$load_sources${load_sources:+,}${NETNS_CP_ADDRESS%.*}.$i"
done

echo "== measuring from $NS_CP"
netns_cp "$python" - "$location" "http://$NETNS_DEV_ADDRESS:8200/rootDesc.xml" "$dlnaserve_pid" "$minidlna_pid" \
  "$load_sources" <<'EOF'
import asyncio, http.client, math, os, re, socket, statistics, subprocess, sys, time, urllib.parse
import xml.etree.ElementTree as ET

DIDL = {"d": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/", "dc": "http://purl.org/dc/elements/1.1/"}
CD = "urn:schemas-upnp-org:service:ContentDirectory:1"
LOAD_CLIENTS, LOAD_REQUESTS = 200, 50  # BrowseMetadata under load: 10,000 requests per server
PAUSED_PAGES, PAUSE = 300, 0.010  # the pausing keep-alive client
SPLIT_PAGES = 100  # the client that sends head and body apart
PAGE = 200


def soap_browse(host, port, control, object_id, flag, start=0, count=0):
    """The head and the body of one Browse request, apart."""
    body = ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Browse xmlns:u="%s">'
            "<ObjectID>%s</ObjectID><BrowseFlag>%s</BrowseFlag><Filter>*</Filter>"
            "<StartingIndex>%d</StartingIndex><RequestedCount>%d</RequestedCount><SortCriteria></SortCriteria>"
            "</u:Browse></s:Body></s:Envelope>" % (CD, object_id, flag, start, count)).encode()
    head = ("POST %s HTTP/1.1\r\nHost: %s:%d\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n"
            "SOAPAction: \"%s#Browse\"\r\nContent-Length: %d\r\n\r\n" % (control, host, port, CD, len(body))).encode()
    return head, body


class StaleConnection(ConnectionError):
    """A kept-alive connection the server closed before answering anything: open a new one."""


class Response:
    """One HTTP/1.1 response, fed the bytes as they arrive (b"" once the server closed)."""

    def __init__(self):
        self.buffer, self.body = bytearray(), bytearray()
        self.status, self.mode, self.remaining, self.received = None, None, 0, 0
        self.keep_alive = True

    def feed(self, data):
        """True once the response is complete."""
        if not data:
            if self.mode == "close":
                return True
            if self.received == 0:
                raise StaleConnection("closed before answering")
            raise ConnectionError("closed in the middle of a response")
        self.received += len(data)
        self.buffer += data
        while True:
            if self.mode is None:
                end = self.buffer.find(b"\r\n\r\n")
                if end < 0:
                    return False
                lines = bytes(self.buffer[:end]).decode("latin-1").split("\r\n")
                del self.buffer[:end + 4]
                version, status = lines[0].split(" ", 2)[:2]
                self.status = int(status)
                headers = {}
                for line in lines[1:]:
                    name, _, value = line.partition(":")
                    headers[name.strip().lower()] = value.strip().lower()
                self.keep_alive = version == "HTTP/1.1" and "close" not in headers.get("connection", "")
                if "chunked" in headers.get("transfer-encoding", ""):
                    self.mode = "size"
                elif "content-length" in headers:
                    self.mode, self.remaining = "data", int(headers["content-length"])
                else:
                    self.mode, self.keep_alive = "close", False
            elif self.mode == "close":
                self.body += self.buffer
                self.buffer.clear()
                return False
            elif self.mode in ("data", "chunk"):
                take = min(self.remaining, len(self.buffer))
                self.body += self.buffer[:take]
                del self.buffer[:take]
                self.remaining -= take
                if self.remaining:
                    return False
                if self.mode == "data":
                    return True
                del self.body[-2:]  # the chunk's CRLF
                self.mode = "size"
            else:  # "size" of the next chunk, or "trailer" lines after the last
                end = self.buffer.find(b"\r\n")
                if end < 0:
                    return False
                line = bytes(self.buffer[:end])
                del self.buffer[:end + 2]
                if self.mode == "trailer":
                    if not line:
                        return True
                    continue
                size = int(line.split(b";")[0], 16)
                self.mode, self.remaining = ("chunk", size + 2) if size else ("trailer", 0)


def returned(server, response, what):
    """NumberReturned of a 200 Browse answer; a failed request ends the run."""
    if response.status != 200:
        raise SystemExit("%s: %s answered %d" % (server.name, what, response.status))
    match = re.search(rb"<NumberReturned>(\d+)</NumberReturned>", response.body)
    if not match:
        raise SystemExit("%s: %s answered without NumberReturned" % (server.name, what))
    return int(match.group(1))


class RawClient:
    """A kept-alive connection as a TV opens it: Nagle on (no TCP_NODELAY), the request's head and
    body in one send or, with split, in two; reopened when the server closes it."""

    def __init__(self, server, split=False):
        self.server, self.split, self.sock, self.connects = server, split, None, 0

    def close(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None

    def call(self, head, body):
        while True:
            fresh = self.sock is None
            if fresh:
                self.sock = socket.create_connection((self.server.host, self.server.port), timeout=30)
                self.connects += 1
            response = Response()
            try:
                if self.split:
                    self.sock.sendall(head)
                    self.sock.sendall(body)
                else:
                    self.sock.sendall(head + body)
                while not response.feed(self.sock.recv(262144)):
                    pass
            except (StaleConnection, ConnectionResetError, BrokenPipeError):
                self.close()
                if fresh or response.received:
                    raise
                continue
            if not response.keep_alive:
                self.close()
            return response


class Server:
    def __init__(self, name, location, pid):
        self.name, self.pid = name, pid
        url = urllib.parse.urlsplit(location)
        self.host, self.port = url.hostname, url.port
        description = ET.fromstring(self.get(url.path))
        ns = {"u": "urn:schemas-upnp-org:device-1-0"}
        for service in description.iter("{urn:schemas-upnp-org:device-1-0}service"):
            if service.find("u:serviceType", ns).text == CD:
                self.control = service.find("u:controlURL", ns).text
        if not self.control.startswith("/"):
            self.control = "/" + self.control
        self.connection = http.client.HTTPConnection(self.host, self.port, timeout=120)

    def get(self, path):
        connection = http.client.HTTPConnection(self.host, self.port, timeout=30)
        connection.request("GET", path)
        return connection.getresponse().read()

    def request(self, object_id, flag="BrowseDirectChildren", start=0, count=0):
        return soap_browse(self.host, self.port, self.control, object_id, flag, start, count)

    def browse_raw(self, object_id, start=0, count=0):
        head, body = self.request(object_id, start=start, count=count)
        self.connection.request("POST", self.control, body, {
            "Content-Type": 'text/xml; charset="utf-8"', "SOAPAction": '"%s#Browse"' % CD})
        response = self.connection.getresponse()
        data = response.read()
        if response.status != 200:
            raise SystemExit("%s: Browse %s answered %d" % (self.name, object_id, response.status))
        return data

    def browse(self, object_id, start=0, count=0):
        root = ET.fromstring(self.browse_raw(object_id, start, count))
        result = root.find(".//Result").text
        total = int(root.find(".//TotalMatches").text)
        return ET.fromstring(result), total

    def find(self, object_id, title):
        didl, _ = self.browse(object_id)
        for entry in didl:
            if entry.find("dc:title", DIDL).text == title:
                return entry
        return None

    def cpu_seconds(self):
        """User and system time of the server process and its waited-for children."""
        with open("/proc/%d/stat" % self.pid) as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return sum(int(field) for field in fields[11:15]) / os.sysconf("SC_CLK_TCK")


def wait_for_scan(server, deadline):
    while time.time() < deadline:
        try:
            folders = server.find("0", "Browse Folders")
            container = server.find(folders.get("id") if folders is not None else "0", "Small10000")
            if container is not None and server.browse(container.get("id"), 0, 1)[1] >= 10000:
                return
        except (OSError, ET.ParseError, AttributeError, http.client.HTTPException):
            server.connection.close()
        time.sleep(2)
    raise SystemExit("minidlna did not finish its scan")


def folder_ids(server):
    parent = "0"
    folders = server.find("0", "Browse Folders")
    if folders is not None:
        parent = folders.get("id")
    ids = {}
    for name in ("Small1000", "Small10000", "Big"):
        ids[name] = server.find(parent, name).get("id")
    big, _ = server.browse(ids["Big"])
    ids["wav"] = big[0].find("d:res", DIDL).text
    answer = server.browse_raw(ids["Small1000"], 0, 0)
    root = ET.fromstring(answer)
    small, total = ET.fromstring(root.find(".//Result").text), int(root.find(".//TotalMatches").text)
    print("  %s: RequestedCount 0 on 1,000 files returns %d of %d in %d bytes"
          % (server.name, len(small), total, len(answer)))
    if len(small) != 1000:
        raise SystemExit("%s: RequestedCount 0 did not return the 1,000 files" % server.name)
    ids["items"] = [entry.get("id") for entry in small]
    return ids


def timed(function, repeat):
    times = []
    for _ in range(repeat):
        begin = time.perf_counter()
        function()
        times.append(time.perf_counter() - begin)
    return statistics.median(times)


def percentile(values, share):
    """Nearest rank."""
    ordered = sorted(values)
    return ordered[max(0, math.ceil(share * len(ordered)) - 1)]


def browse_1000(server, ids):
    return {"browse 1,000, count 0 (ms)": 1000 * timed(lambda: server.browse_raw(ids["Small1000"], 0, 0), 20)}


def list_10000(server, ids):
    answers = []

    def pages():
        answers[:] = [server.browse_raw(ids["Small10000"], start, PAGE) for start in range(0, 10000, PAGE)]
    seconds = timed(pages, 5)
    count = sum(len(ET.fromstring(ET.fromstring(answer).find(".//Result").text)) for answer in answers)
    if count != 10000:
        raise SystemExit("%s: the paged listing gave %d entries" % (server.name, count))
    return {"list 10,000 by 200 (ms)": 1000 * seconds}


async def metadata_client(server, requests, offset, items, source, deadline, stats):
    """One of the load's connections, from the address source: BrowseMetadata of the 1,000 files
    in turn, kept alive. A request the server closes the connection on without an answer (it
    makes room for others when it holds more connections than it serves at once) is sent again
    on a new connection, at most 5 times in a row."""
    reader = writer = None
    done = failed = 0
    while done < requests:
        head, body = server.request(items[(offset + done) % len(items)], "BrowseMetadata")
        if writer is None:
            reader, writer = await asyncio.wait_for(
                asyncio.open_connection(server.host, server.port, local_addr=(source, 0)), deadline - time.time())
            stats["connections"] += 1
        writer.write(head + body)
        response = Response()
        try:
            while not response.feed(await asyncio.wait_for(reader.read(65536), deadline - time.time())):
                pass
        except (StaleConnection, ConnectionResetError, BrokenPipeError):
            writer.close()
            writer = None
            failed += 1
            stats["sent again"] += 1
            if response.received or failed > 5:
                raise
            continue
        if returned(server, response, "BrowseMetadata") != 1:
            raise SystemExit("%s: BrowseMetadata returned no item" % server.name)
        done += 1
        failed = 0
        if not response.keep_alive:
            writer.close()
            writer = None
    if writer is not None:
        writer.close()


def metadata_load(server, ids):
    stats = {"connections": 0, "sent again": 0}

    async def run():
        deadline = time.time() + 300
        await asyncio.gather(*(metadata_client(server, LOAD_REQUESTS, 5 * client, ids["items"],
                                               LOAD_SOURCES[client % len(LOAD_SOURCES)], deadline, stats)
                               for client in range(LOAD_CLIENTS)))
    before, begin = server.cpu_seconds(), time.perf_counter()
    asyncio.run(run())
    seconds, cpu = time.perf_counter() - begin, server.cpu_seconds() - before
    requests = LOAD_CLIENTS * LOAD_REQUESTS
    print("  %s: %d BrowseMetadata from %d clients on %d addresses over %d connections, %d sent again"
          % (server.name, requests, LOAD_CLIENTS, len(LOAD_SOURCES), stats["connections"], stats["sent again"]))
    return {"BrowseMetadata x200 CPU (us/request)": 1e6 * cpu / requests,
            "BrowseMetadata x200 (requests/s)": requests / seconds}


def paged(server, ids, pages, pause, split):
    """Times of pages of 200 of the 10,000-file folder, in turn, on one RawClient."""
    client = RawClient(server, split)
    times = []
    for page in range(pages):
        start = page * PAGE % 10000
        head, body = server.request(ids["Small10000"], start=start, count=PAGE)
        time.sleep(pause)
        begin = time.perf_counter()
        response = client.call(head, body)
        times.append(time.perf_counter() - begin)
        if returned(server, response, "Browse page %d" % start) != PAGE:
            raise SystemExit("%s: the page at %d is short" % (server.name, start))
    client.close()
    return [1000 * t for t in times], client.connects


def paused_pages(server, ids):
    times, connects = paged(server, ids, PAUSED_PAGES, PAUSE, False)
    print("  %s: %d pages with 10 ms pauses over %d connection(s), %d over 20 ms"
          % (server.name, len(times), connects, sum(t > 20 for t in times)))
    return {"paused pages: max (ms)": max(times), "paused pages: p99 (ms)": percentile(times, 0.99),
            "paused pages: median (ms)": statistics.median(times)}


def split_pages(server, ids):
    times, connects = paged(server, ids, SPLIT_PAGES, 0, True)
    print("  %s: %d pages sent as head and body apart over %d connection(s)" % (server.name, len(times), connects))
    return {"split sends: median (ms)": statistics.median(times), "split sends: max (ms)": max(times)}


def get_wav(server, ids):
    def get(streams):
        processes = [subprocess.Popen(["curl", "-s", "-f", "-o", "/dev/null", ids["wav"]]) for _ in range(streams)]
        if any(p.wait() != 0 for p in processes):
            raise SystemExit("%s: GET %s failed" % (server.name, ids["wav"]))
    return {"GET 1 GiB x1 (s)": timed(lambda: get(1), 3), "GET 1 GiB x8 (s)": timed(lambda: get(8), 3)}


lanyard = Server("dlnaserve", sys.argv[1], int(sys.argv[3]))
minidlna = Server("minidlna", sys.argv[2], int(sys.argv[4]))
LOAD_SOURCES = sys.argv[5].split(",")
print("  waiting for minidlna's scan")
wait_for_scan(minidlna, time.time() + 1800)
servers = {server.name: (server, folder_ids(server)) for server in (lanyard, minidlna)}
results = {name: {} for name in servers}
measurements = [browse_1000, list_10000, metadata_load, paused_pages, split_pages, get_wav]
if os.environ.get("DLNA_BENCH_ONLY"):
    measurements = [m for m in measurements if m.__name__ in os.environ["DLNA_BENCH_ONLY"].split(",")]
for measurement in measurements:
    for name, (server, ids) in servers.items():  # each measurement on both servers, one after the other
        results[name].update(measurement(server, ids))
print("%-38s %12s %12s %8s" % ("", "dlnaserve", "minidlna", "ratio"))
for key in results["dlnaserve"]:
    ours, theirs = results["dlnaserve"][key], results["minidlna"][key]
    print("%-38s %12.3f %12.3f %8.2f" % (key, ours, theirs, ours / theirs))
print("(medians unless named; ratio = dlnaserve / minidlna: below 1 is faster or cheaper, except requests/s)")
EOF
