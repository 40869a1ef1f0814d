"""LAN peers of dlnaserve that hold its answers or pipeline their requests, for
dlna_connections_e2e.sh (run in the client namespace; Python 3 standard library only; built on
dlna_peers.py). Every mode gives each blocking step a time-out and ends by itself.

usage: dlna_answer_peers.py flood marked HOST PORT SOURCES PER SECONDS SETTLE MARKER NEWCOMERS POLLERS
         PER silent answers from each address of SOURCES (dlna_peers.py's flood shape "silent":
         a film asked for and nothing read, reopened when closed) fill the slots for SETTLE
         seconds; then one GET of the description from each address of NEWCOMERS, all at once,
         each waited for once whatever its answer; then POLLERS of the silent connections are
         closed for good and as many kept-alive pollers from their addresses (shape "returning":
         a HEAD every 0.3 s) take their place. MARKER is written then (with how the newcomers
         were answered); everything runs until SECONDS after the start.
       dlna_answer_peers.py pipelines HOST PORT SOURCE CONNECTIONS LISTENERS PER FRESH SECONDS
         PER listeners from each address of LISTENERS read /%25/Music/big.mp3 at 7 KB/s; then,
         for SECONDS seconds, CONNECTIONS kept-alive connections from SOURCE ask for
         /%25/Video/clip.mpg (1 MiB) again and again, each sending its next GET as soon as an
         answer's head has come (as a client that pipelines does before it reads whether the
         answer announces "Connection: close") and reading the body at 256 KB/s into a 64 KiB
         receive buffer; beside them a GET of the
         description from the next address of FRESH every 0.5 s. Prints what the answers were
         and exits 1 unless every answer came whole (its announced length, then the end of the
         connection when it announced "Connection: close"): a reset, a short body or a
         time-out fails; a connection the server ends between two answers does not.
"""
import asyncio
import collections
import itertools
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the sources
import dlna_peers as peers  # noqa: E402

CLIP = "/%25/Video/clip.mpg"
LISTENER_RATE = 7000  # bytes a second: a listener just above the server's rate floor
PIPELINE_RATE = 256_000


# --- marked --------------------------------------------------------------------------------------

async def marked(address_range, per, seconds, settle, marker, newcomers, pollers):
    end = time.monotonic() + seconds
    silent = [(source, asyncio.create_task(peers.flood_one("silent", source, end)))
              for source in peers.sources(address_range) for _ in range(per)]
    await asyncio.sleep(settle)
    waited = await asyncio.gather(*(peers.fetch(source, peers.get(peers.DESCRIPTION), 12)
                                    for source in peers.sources(newcomers)))
    swapped = silent[len(silent) - pollers:]
    for _, task in swapped:
        task.cancel()
    polling = [asyncio.create_task(peers.flood_one("returning", source, end)) for source, _ in swapped]
    await asyncio.sleep(1)
    with open(marker, "w") as out:
        out.write("%d newcomers: %s\n" % (len(waited), peers.summary(waited)))
    await asyncio.gather(*(task for _, task in silent[:len(silent) - pollers]), *polling)


# --- pipelines -----------------------------------------------------------------------------------

async def pipelined(s, end, counts):
    """The answers on s, the next GET sent as soon as each head has come, until end or until
    the server ends s; each answer counted by how it came."""
    loop = asyncio.get_running_loop()
    await loop.sock_sendall(s, peers.get(CLIP, close=False))
    answers = 0
    while True:
        answer = peers.Answer(s)
        try:
            status = await answer.head(15)
        except ConnectionResetError as error:
            if error.errno is not None:
                raise
            counts["ended between answers" if answers else "closed unanswered"] += 1
            return
        asked = status // 100 == 2 and time.monotonic() < end
        if asked:
            await loop.sock_sendall(s, peers.get(CLIP, close=False))
        try:
            whole = await answer.body_at(PIPELINE_RATE if status // 100 == 2 else 0, timeout=15)
        except OSError:
            whole = False
        if not whole:
            counts["cut (%s announced)" % ("close" if answer.closes else "keep-alive")] += 1
            return
        answers += 1
        counts["whole" if status // 100 == 2 else "status %d" % status] += 1
        if answer.closes:
            counts["announced close"] += status // 100 == 2
            if await peers.recv(s, 65536, 15):
                counts["more after close"] += 1
            return
        if not asked:
            return


async def pipeliner(source, end, counts):
    while time.monotonic() < end:
        s = None
        try:
            s = await peers.connect(source, 65536)
            await pipelined(s, end, counts)
        except asyncio.TimeoutError:
            counts["timeout"] += 1
        except OSError:
            counts["reset"] += 1
        finally:
            if s is not None:
                s.close()


async def fresh_clients(addresses, end, outcomes):
    fetches = []
    for source in itertools.cycle(peers.sources(addresses)):
        if time.monotonic() >= end:
            break
        fetches.append(asyncio.create_task(peers.fetch(source, peers.get(peers.DESCRIPTION), 10)))
        await asyncio.sleep(0.5)
    outcomes += await asyncio.gather(*fetches)


async def pipelines(source, connections, listener_range, per, fresh, seconds):
    started, stop = [], asyncio.Event()
    listening = [asyncio.create_task(peers.reading(listener, started, stop, LISTENER_RATE, 65536))
                 for listener in peers.sources(listener_range) for _ in range(per)]
    for _ in range(100):
        if len(started) == len(listening):
            break
        await asyncio.sleep(0.1)
    counts = collections.Counter()
    outcomes, end = [], time.monotonic() + seconds
    await asyncio.gather(*(pipeliner(source, end, counts) for _ in range(connections)),
                         fresh_clients(fresh, end, outcomes))
    stop.set()
    kept = sum(await asyncio.gather(*listening))
    print("%d pipelining connections: %s; %d of %d listeners read on; fresh clients: %s" % (
        connections, ", ".join("%s %d" % item for item in sorted(counts.items())), kept, len(listening),
        peers.summary(outcomes)))
    cut = sum(count for kind, count in counts.items() if kind.startswith(("cut", "reset", "timeout", "more")))
    return cut == 0 and counts["whole"] >= connections


def main(argv):
    mode = argv[1]
    peers.HOST, peers.PORT = argv[3 if mode == "flood" else 2], int(argv[4 if mode == "flood" else 3])
    if mode == "flood" and argv[2] == "marked":
        asyncio.run(marked(argv[5], int(argv[6]), float(argv[7]), float(argv[8]), argv[9], argv[10], int(argv[11])))
        return 0
    if mode == "pipelines":
        ok = asyncio.run(asyncio.wait_for(
            pipelines(argv[4], int(argv[5]), argv[6], int(argv[7]), argv[8], float(argv[9])), float(argv[9]) + 60))
        return 0 if ok else 1
    raise SystemExit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
