"""LAN peers of dlnaserve for dlna_connections_e2e.sh, hostile and honest (run in the client
namespace; Python 3 standard library only). Every mode opens a bounded number of connections,
gives each blocking step a time-out and ends by itself.

usage: dlna_peers.py flood SHAPE HOST PORT SOURCES PER SECONDS SETTLE MARKER
         PER connections from each address of SOURCES ("10.231.7.10-16": the last byte's range)
         for SECONDS seconds, each reopened when the server closes it; MARKER is written SETTLE
         seconds after the start. SHAPE:
           heads      always part way through a head spread over 9.5 s (a byte every 0.5 s)
           stalls     GET /%25/Music/big.mp3 and read nothing
           silent     GET /%25/Video/film.mpg with a 4 KiB receive buffer: the status line read, then
                      nothing; a line end sent every second shows when the server has closed it
           slowreads  GET /%25/Music/big.mp3 with a 4 KiB receive buffer, 4 KiB read every 2.5 s
           idle       send nothing
           refused    a POST whose Content-Length is not a number (refused with 400), then a
                      byte every 0.25 s; reopened as soon as the server closes it
           downloads  GET /%25/Music/big.mp3 read at 64 KB/s (16 KiB every 0.25 s, a 64 KiB
                      receive buffer)
           polls      GET of the description on a kept-alive connection every 0.5 s (the first
                      one within 0.5 s of the start)
           returning  HEAD of the description on a kept-alive connection every 0.3 s, reopened at
                      once when closed or refused (a client waiting for a slot is a spare)
       dlna_peers.py tv HOST PORT SOURCE STREAMS PAUSE
         STREAMS streams of /%25/Video/tv.mpg read at 400 KB/s to the end (the first one paused
         PAUSE seconds a third of the way in) and, every 2 s while they run, 10 thumbnails and the
         description in parallel, each on a connection of its own; prints what was served and
         exits 1 unless every stream came whole and 90 % of the requests were served
       dlna_peers.py refusals HOST PORT SOURCE
         16 streams of /%25/Music/big.mp3 read at 400 KB/s, then 10 more GETs of it at once, each
         written in two parts;
         prints how the 10 were answered and exits 1 when a stream was cut or more than 1 in 10
         refusals is a reset instead of a 503
       dlna_peers.py control HOST PORT SOURCES CLIENTS REQUESTS
         CLIENTS kept-alive control points spread over SOURCES, REQUESTS BrowseMetadata each (of
         the items in /Items, in turn); a request on a kept-alive connection the server closed
         before answering is sent again on a new one (at most 5 times). Prints the counts and
         exits 1 when any is refused (503) or lost (no answer)
       dlna_peers.py burst HOST PORT SOURCES CONNECTIONS ROUNDS LIMIT
         ROUNDS rounds, 1 s apart, in which each address of SOURCES opens CONNECTIONS connections
         at once and 0.1 s later sends one GET of a 20 KB photo on each; exits 1 unless every one was
         served within LIMIT seconds of the round's start
       dlna_peers.py pools HOST PORT SOURCES CONNECTIONS REUSE LIMIT
         each address of SOURCES opens a pool of CONNECTIONS kept-alive connections at once, 0.1 s
         later sends one GET of a 20 KB photo on each, and uses each again REUSE seconds after its
         answer; exits 1 unless all were served within LIMIT seconds (the first ones of the
         start) and the server closed none
       dlna_peers.py pause HOST PORT SOURCE PAUSE
         GET /%25/Video/film.mpg (16 MB, a 64 KiB receive buffer): reads 1 MB, pauses PAUSE
         seconds, reads the rest at once; exits 1 unless it came whole on that one connection
       dlna_peers.py listeners HOST PORT SOURCE RATES SETTLE CP_SOURCES CLIENTS REQUESTS
         streams of /%25/Music/big.mp3 read at RATES ("16000,8000", bytes a second; 64 KiB
         receive buffers) from SOURCE; SETTLE seconds later the control points of mode control
         (CP_SOURCES CLIENTS REQUESTS); then 4 MB more of each stream at once. Exits 1 when a
         stream was cut before the control points were done, or as control does
"""
import asyncio
import random
import re
import socket
import sys
import time

RATE = 400_000  # a TV's stream, bytes a second
BIG = "/%25/Music/big.mp3"
TV = "/%25/Video/tv.mpg"
FILM = "/%25/Video/film.mpg"
PHOTO = "/%%25/Pictures/photo%d.jpg"
DESCRIPTION = "/DeviceDescription.xml"
CD = "urn:schemas-upnp-org:service:ContentDirectory:1"
HOST = PORT = None


def sources(address_range):
    prefix, _, span = address_range.rpartition(".")
    first, _, last = span.partition("-")
    return ["%s.%d" % (prefix, i) for i in range(int(first), int(last or first) + 1)]


def get(path, close=True, method="GET"):
    return ("%s %s HTTP/1.1\r\nHost: %s:%d\r\n%s\r\n" % (
        method, path, HOST, PORT, "Connection: close\r\n" if close else "")).encode()


def browse(control, object_id, flag, close=False):
    """A Browse request, head and body."""
    body = ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Browse xmlns:u="%s">'
            "<ObjectID>%s</ObjectID><BrowseFlag>%s</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex>"
            "<RequestedCount>0</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>"
            % (CD, object_id, flag)).encode()
    return ("POST %s HTTP/1.1\r\nHost: %s:%d\r\nContent-Type: text/xml; charset=\"utf-8\"\r\n%s"
            "SOAPAction: \"%s#Browse\"\r\nContent-Length: %d\r\n\r\n"
            % (control, HOST, PORT, "Connection: close\r\n" if close else "", CD, len(body))).encode() + body


async def connect(source, rcvbuf=0, timeout=5):
    s = socket.socket()
    s.setblocking(False)
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    try:
        s.bind((source, 0))
        await asyncio.wait_for(asyncio.get_running_loop().sock_connect(s, (HOST, PORT)), timeout)
    except BaseException:
        s.close()
        raise
    return s


async def recv(s, size=65536, timeout=10):
    return await asyncio.wait_for(asyncio.get_running_loop().sock_recv(s, size), timeout)


def drain(s, most=1 << 62):
    """Everything the kernel holds for s without waiting (at most most bytes); b"" once the peer
    closed."""
    got = bytearray()
    while len(got) < most:
        try:
            data = s.recv(min(65536, most - len(got)))
        except (BlockingIOError, InterruptedError):
            return bytes(got) if got else None
        if not data:
            return bytes(got) if got else b""
        got += data
    return bytes(got)


class Answer:
    """One HTTP/1.1 answer read from a socket: its status, and its body in whole or at a pace."""

    def __init__(self, s):
        self.s, self.status, self.length, self.body, self.rest = s, None, None, bytearray(), b""
        self.closes, self.got = False, 0

    async def head(self, timeout=10):
        data = bytearray()
        while b"\r\n\r\n" not in data:
            chunk = await recv(self.s, 65536, timeout)
            if not chunk:
                raise ConnectionResetError("closed before the head" if not data else "closed in the head")
            data += chunk
        head, _, self.rest = bytes(data).partition(b"\r\n\r\n")
        self.closes = re.search(rb"\r\nconnection: *close", head, re.I) is not None
        self.status = int(head.split(b" ", 2)[1])
        match = re.search(rb"\r\ncontent-length: *(\d+)", head, re.I)
        self.length = int(match.group(1)) if match else None
        return self.status

    async def body_at(self, rate, pause_at=None, pause=0, timeout=10, keep=False):
        """Reads the body at rate bytes a second (0: at once), nothing past its announced length;
        True when it came whole."""
        got, begin = len(self.rest), time.monotonic()
        self.got = got
        if keep:
            self.body += self.rest
        while self.length is None or got < self.length:
            if pause_at is not None and got >= pause_at:
                await asyncio.sleep(pause)
                begin += pause
                pause_at = None
            ahead = got / rate - (time.monotonic() - begin) if rate else 0
            if ahead > 0:
                await asyncio.sleep(ahead)
            chunk = await recv(self.s, 65536 if self.length is None else min(65536, self.length - got), timeout)
            if not chunk:
                return self.length is None
            got += len(chunk)
            self.got = got
            if keep:
                self.body += chunk
        return got == self.length


async def fetch(source, request, timeout=5, split=False, opened=None):
    """How one request on a new connection was answered: "served" (2xx, whole), "503", "reset"
    (closed without a status, or a write refused: the client gives up there, as curl does),
    "timeout" or "status N". With split, the request goes out as many players write it: its
    first line, and the rest 50 ms later. opened: the connection's socket (or the exception its
    connect raised), when it was opened already."""
    s = None
    try:
        if isinstance(opened, BaseException):
            raise opened
        s = opened or await connect(source, timeout=timeout)
        if split:
            first = request.index(b"\r\n") + 2
            await asyncio.get_running_loop().sock_sendall(s, request[:first])
            await asyncio.sleep(0.05)
            request = request[first:]
        await asyncio.get_running_loop().sock_sendall(s, request)
        answer = Answer(s)
        status = await answer.head(timeout)
        if status == 503:
            return "503"
        if status // 100 != 2:
            return "status %d" % status
        return "served" if await answer.body_at(0, timeout=timeout) else "cut"
    except asyncio.TimeoutError:
        return "timeout"
    except OSError:
        return "reset"
    finally:
        if s is not None:
            s.close()


# --- flood ---------------------------------------------------------------------------------------

# A request the server refuses (400) before reading a body; the bytes sent after it are drained.
REFUSED = b"POST / HTTP/1.1\r\nHost: peer\r\nContent-Length: 1x\r\n\r\n"
# Between two looks at a connection: its pace.
PACE = {"slowreads": 2.5, "idle": 0.05, "downloads": 0.25}


async def polls(s, end, method="GET", pace=0.5, timeout=5):
    """The description every pace seconds on s until end, or until the server closes s."""
    while time.monotonic() < end:
        await asyncio.get_running_loop().sock_sendall(s, get(DESCRIPTION, False, method))
        answer = Answer(s)
        if await answer.head(timeout) != 200 or answer.closes:
            return
        if method == "GET" and not await answer.body_at(0, timeout=timeout):
            return
        await asyncio.sleep(pace)


async def silent(s, end):
    """A film asked for, its status line read and nothing more until end; a line end (which a
    server skips before a request) every second, refused once the server has closed s."""
    await asyncio.get_running_loop().sock_sendall(s, get(FILM, close=False))
    if not (await recv(s, 12, 15)).startswith(b"HTTP/1.1 2"):
        return
    while time.monotonic() < end:
        await asyncio.sleep(1)
        s.send(b"\n")


async def refused(s, end):
    """A request the server refuses, then a byte whenever nothing came for 0.25 s, until end or
    until the server closes s."""
    await asyncio.get_running_loop().sock_sendall(s, REFUSED)
    while time.monotonic() < end:
        try:
            if not await recv(s, 65536, 0.25):
                return
        except asyncio.TimeoutError:
            s.send(b"x")


async def flood_one(shape, source, end):
    reopen = {"idle": 0.01, "heads": 0.1, "refused": 0, "silent": 0.1, "returning": 0.05}.get(shape, 0.5)
    if shape == "polls":
        await asyncio.sleep(random.uniform(0, 0.5))
    while time.monotonic() < end:
        s = None
        try:
            s = await connect(source, {"slowreads": 4096, "silent": 4096, "downloads": 65536}.get(shape, 0), timeout=2)
            if shape in ("stalls", "slowreads", "downloads"):
                await asyncio.get_running_loop().sock_sendall(s, get(BIG, close=False))
            elif shape == "refused":
                await refused(s, end)
            elif shape == "polls":
                await polls(s, end)
            elif shape == "returning":
                await polls(s, end, "HEAD", 0.3, 12)
            elif shape == "silent":
                await silent(s, end)
            head_at = 0
            while shape in ("heads", "stalls", "slowreads", "idle", "downloads") and time.monotonic() < end:
                if shape == "heads":
                    now = time.monotonic()
                    if now - head_at >= 9.5:  # the next head starts at once
                        s.send((b"\r\n\r\n" if head_at else b"") + get(DESCRIPTION, close=False)[:-2] + b"X-Slow: ")
                        head_at = now
                    else:
                        s.send(b"x")
                data = None if shape == "stalls" else drain(s, {"downloads": 16384, "slowreads": 4096}.get(shape, 1 << 62))
                if data == b"":
                    break
                await asyncio.sleep(PACE.get(shape, 0.5))
        except (OSError, asyncio.TimeoutError):
            pass
        finally:
            if s is not None:
                s.close()
        await asyncio.sleep(reopen)


async def flood(shape, address_range, per, seconds, settle, marker):
    end = time.monotonic() + seconds
    tasks = [asyncio.create_task(flood_one(shape, source, end)) for source in sources(address_range) for _ in range(per)]
    await asyncio.sleep(settle)
    with open(marker, "w") as out:
        out.write("up\n")
    await asyncio.gather(*tasks)


# --- tv ------------------------------------------------------------------------------------------

async def stream(source, path, rate, pause_at=None, pause=0, rcvbuf=0):
    """True when the stream came whole at that pace."""
    s = None
    try:
        s = await connect(source, rcvbuf)
        await asyncio.get_running_loop().sock_sendall(s, get(path))
        answer = Answer(s)
        return await answer.head() == 200 and await answer.body_at(rate, pause_at, pause)
    except (OSError, asyncio.TimeoutError):
        return False
    finally:
        if s is not None:
            s.close()


async def tv(source, streams, pause):
    size = 2_400_000
    playing = [asyncio.create_task(stream(source, TV, RATE, size // 3 if i == 0 and pause else None, pause,
                                          rcvbuf=65536)) for i in range(streams)]
    outcomes = []
    while not all(p.done() for p in playing):
        requests = [get("/%%25/Pictures/thumb%d.jpg" % i) for i in range(10)] + [get(DESCRIPTION)]
        outcomes += await asyncio.gather(*(fetch(source, r) for r in requests))
        await asyncio.sleep(2)
    whole = sum(p.result() for p in playing)
    served = outcomes.count("served")
    print("streams %d of %d to the end, requests %d of %d served (%s)" % (
        whole, streams, served, len(outcomes), summary(outcomes)))
    return whole == streams and served * 10 >= len(outcomes) * 9


def summary(outcomes):
    return ", ".join("%s %d" % (kind, outcomes.count(kind)) for kind in sorted(set(outcomes)))


# --- refusals ------------------------------------------------------------------------------------

async def reading(source, started, stop, rate=RATE, rcvbuf=0, tail=0):
    """A stream of the big file read at rate (a TV's pace) until stop is set, a quarter of a
    second's worth at a time, then tail bytes more at once (past what the socket buffers held
    when it was cut); True unless it was cut."""
    s = None
    try:
        s = await connect(source, rcvbuf)
        await asyncio.get_running_loop().sock_sendall(s, get(BIG))
        answer = Answer(s)
        if await answer.head() != 200:
            return False
        started.append(s)
        got, begin = 0, time.monotonic()
        while not stop.is_set():
            ahead = got / rate - (time.monotonic() - begin)
            if ahead > 0:
                await asyncio.sleep(ahead)
            chunk = await recv(s, min(65536, max(1024, rate // 4)))
            if not chunk:
                return False
            got += len(chunk)
        while tail > 0:
            chunk = await recv(s)
            if not chunk:
                return False
            tail -= len(chunk)
        return True
    except (OSError, asyncio.TimeoutError):
        return False
    finally:
        if s is not None:
            s.close()


async def refusals(source):
    started, stop = [], asyncio.Event()
    streams = [asyncio.create_task(reading(source, started, stop)) for _ in range(16)]
    for _ in range(100):
        if len(started) == 16 or all(t.done() for t in streams):
            break
        await asyncio.sleep(0.1)
    await asyncio.sleep(1)
    more = await asyncio.gather(*(fetch(source, get(BIG), split=True) for _ in range(10)))
    stop.set()
    kept = sum(await asyncio.gather(*streams))
    refused = [m for m in more if m != "served"]
    resets = more.count("reset")
    print("16 streams: %d read on; 10 more: %s" % (kept, summary(more)))
    return kept == 16 and len(refused) == more.count("503") + resets and resets * 10 <= len(refused)


# --- control -------------------------------------------------------------------------------------

async def ask(s, request):
    """One BrowseMetadata on s: "served", "refused" (503), "lost", or None when s was a kept-alive
    connection the server had closed (nothing of an answer came); and whether s stays open."""
    answer = Answer(s)
    try:
        await asyncio.get_running_loop().sock_sendall(s, request)
        status = await answer.head(10)
        whole = await answer.body_at(0, timeout=10, keep=True)
    except asyncio.TimeoutError:
        return "lost", False
    except OSError:
        return (None if answer.status is None else "lost"), False
    if status == 503:
        return "refused", False
    if status == 200 and whole and b"<NumberReturned>1<" in answer.body:
        return "served", not answer.closes
    return "lost", False


async def control_point(source, control, items, offset, requests, counts):
    """A control point's BrowseMetadata in turn on a kept-alive connection, reopened when closed;
    a request the server closed a kept-alive connection on before answering is sent again on a
    new one, at most 5 times."""
    s = None
    for done in range(requests):
        request = browse(control, items[(offset + done) % len(items)], "BrowseMetadata")
        for attempt in range(6):
            fresh = s is None
            try:
                s = s or await connect(source, timeout=10)
            except OSError:
                outcome, kept = "lost", False
                break
            outcome, kept = await ask(s, request)
            if not kept:
                s.close()
                s = None
            if outcome is not None or fresh or attempt == 5:
                break
            counts["sent again"] += 1
        counts[outcome or "lost"] += 1
    if s is not None:
        s.close()


async def items_of(source):
    """The control URL and the ids of the items in /Items."""
    description = await fetch_body(source, get(DESCRIPTION))
    control = "/" + re.search(rb"<controlURL>/?([^<]*ContentDirectory[^<]*)</controlURL>", description).group(1).decode()

    async def children(object_id):
        body = await fetch_body(source, browse(control, object_id, "BrowseDirectChildren", close=True))
        return body.replace(b"&lt;", b"<").replace(b"&gt;", b">").replace(b"&quot;", b'"').replace(b"&amp;", b"&")
    folder = re.search(rb'<container id="([^"]*)"[^>]*>\s*<dc:title>Items<', await children("0")).group(1).decode()
    return control, [m.decode() for m in re.findall(rb'<item id="([^"]*)"', await children(folder))]


async def fetch_body(source, request):
    s = await connect(source)
    try:
        await asyncio.get_running_loop().sock_sendall(s, request)
        answer = Answer(s)
        if await answer.head() != 200 or not await answer.body_at(0, keep=True):
            raise SystemExit("no answer to %r" % request[:60])
        return bytes(answer.body)
    finally:
        s.close()


async def control(address_range, clients, requests):
    addresses = sources(address_range)
    endpoint, items = await items_of(addresses[0])
    counts = {"served": 0, "refused": 0, "lost": 0, "sent again": 0}
    await asyncio.wait_for(asyncio.gather(*(
        control_point(addresses[c % len(addresses)], endpoint, items, 5 * c, requests, counts) for c in range(clients))),
        300)
    total = clients * requests
    print("%d control points on %d addresses, %d BrowseMetadata: %d served, %d refused, %d lost, %d sent again"
          % (clients, len(addresses), total, counts["served"], counts["refused"], counts["lost"], counts["sent again"]))
    return counts["served"] == total


# --- idle server ---------------------------------------------------------------------------------

async def opening(address_range, connections):
    """CONNECTIONS connections from each address, opened at once (a socket, or what its connect
    raised), with the address and the photo each asks for; 0.1 s after the last one is open, as a
    device that opens its pool before it sends."""
    wanted = [(source, PHOTO % (i % 10)) for source in sources(address_range) for i in range(connections)]
    opened = await asyncio.gather(*(connect(source, timeout=10) for source, _ in wanted), return_exceptions=True)
    await asyncio.sleep(0.1)
    return [(source, path, s) for (source, path), s in zip(wanted, opened)]


async def burst(address_range, connections, rounds, limit):
    """Each round opens every connection first, then sends every GET: a grid of thumbnails."""
    outcomes, slowest = [], 0.0
    for round_ in range(rounds):
        if round_:
            await asyncio.sleep(1)
        begin = time.monotonic()

        async def timed(source, path, s):
            outcome = await fetch(source, get(path), 10, opened=s)
            return outcome, time.monotonic() - begin
        results = await asyncio.gather(*(timed(*one) for one in await opening(address_range, connections)))
        outcomes += [outcome for outcome, _ in results]
        slowest = max([slowest] + [took for _, took in results])
    served = outcomes.count("served")
    print("%d x %d at once, %d rounds: %d of %d served (%s), the slowest in %.2f s" % (
        len(sources(address_range)), connections, rounds, served, len(outcomes), summary(outcomes), slowest))
    return served == len(outcomes) and slowest <= limit


async def pooled(s, path, reuse, begin, outcomes, times):
    """One connection of a pool: a GET, and another reuse seconds after its answer."""
    try:
        if isinstance(s, BaseException):
            raise s
        for use in range(2):
            if use:
                await asyncio.sleep(reuse)
                if drain(s) == b"":
                    outcomes.append("closed")
                    return
                begin = time.monotonic()
            await asyncio.get_running_loop().sock_sendall(s, get(path, close=False))
            answer = Answer(s)
            status = await answer.head(10)
            whole = await answer.body_at(0, timeout=10)
            times.append(time.monotonic() - begin)
            if status != 200 or not whole:
                outcomes.append("status %d" % status if whole else "cut")
                return
            outcomes.append("served")
            if answer.closes:
                outcomes.append("closed")
                return
    except asyncio.TimeoutError:
        outcomes.append("timeout")
    except OSError:
        outcomes.append("closed")
    finally:
        if not isinstance(s, BaseException):
            s.close()


async def pools(address_range, connections, reuse, limit):
    """Every connection of the pools is opened first, then each sends its first GET."""
    outcomes, times, begin = [], [], time.monotonic()
    await asyncio.gather(*(pooled(s, path, reuse, begin, outcomes, times)
                           for _, path, s in await opening(address_range, connections)))
    served, total = outcomes.count("served"), 2 * connections * len(sources(address_range))
    print("%d pools of %d, each used twice %.0f s apart: %d of %d served (%s), the slowest in %.2f s" % (
        len(sources(address_range)), connections, reuse, served, total, summary(outcomes), max(times or [0])))
    return served == total and len(outcomes) == total and max(times or [0]) <= limit


async def pause(source, seconds):
    s = None
    answer = None
    try:
        s = await connect(source, 65536)
        await asyncio.get_running_loop().sock_sendall(s, get(FILM))
        answer = Answer(s)
        whole = await answer.head() == 200 and await answer.body_at(0, 1 << 20, seconds)
    except (OSError, asyncio.TimeoutError) as error:
        whole = False
        print("%s:" % (type(error).__name__), end=" ")
    finally:
        if s is not None:
            s.close()
    got = answer.got if answer is not None else 0
    length = answer.length if answer is not None and answer.length else 0
    print("paused %.0f s after 1 MB: %d of %d bytes on one connection%s" % (
        seconds, got, length, ", to the end" if whole else ""))
    return whole


async def listeners(source, rates, settle, cp_range, clients, requests):
    started, stop = [], asyncio.Event()
    streams = [asyncio.create_task(reading(source, started, stop, rate, 65536, 4 << 20)) for rate in rates]
    await asyncio.sleep(settle)
    served = await control(cp_range, clients, requests)
    stop.set()
    kept = await asyncio.gather(*streams)
    print("streams at %s bytes a second: %s" % (
        ", ".join(str(rate) for rate in rates), ", ".join("read on" if k else "cut" for k in kept)))
    return served and all(kept)


def main(argv):
    global HOST, PORT
    mode, HOST, PORT = argv[1], argv[3 if argv[1] == "flood" else 2], int(argv[4 if argv[1] == "flood" else 3])
    if mode == "flood":
        shape, address_range, per, seconds, settle, marker = argv[2], argv[5], int(argv[6]), float(argv[7]), float(argv[8]), argv[9]
        asyncio.run(flood(shape, address_range, per, seconds, settle, marker))
        return 0
    if mode == "tv":
        ok = asyncio.run(asyncio.wait_for(tv(argv[4], int(argv[5]), float(argv[6])), 120))
    elif mode == "refusals":
        ok = asyncio.run(asyncio.wait_for(refusals(argv[4]), 60))
    elif mode == "control":
        ok = asyncio.run(control(argv[4], int(argv[5]), int(argv[6])))
    elif mode == "burst":
        ok = asyncio.run(asyncio.wait_for(burst(argv[4], int(argv[5]), int(argv[6]), float(argv[7])), 60))
    elif mode == "pools":
        ok = asyncio.run(asyncio.wait_for(pools(argv[4], int(argv[5]), float(argv[6]), float(argv[7])), 60))
    elif mode == "pause":
        ok = asyncio.run(asyncio.wait_for(pause(argv[4], float(argv[5])), float(argv[5]) + 60))
    elif mode == "listeners":
        rates = [int(rate) for rate in argv[5].split(",")]
        ok = asyncio.run(listeners(argv[4], rates, float(argv[6]), argv[7], int(argv[8]), int(argv[9])))
    else:
        raise SystemExit(__doc__)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
