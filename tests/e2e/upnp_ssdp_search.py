"""Raw M-SEARCHes for upnp_ssdp_e2e.sh (run in the client namespace).

usage: upnp_ssdp_search.py table DEVICE SOURCE UUID DEVICE-TYPE SERVICE-TYPE
         sends each case of the M-SEARCH table from its own socket bound to SOURCE and checks the
         number of answers each one gets (two rounds: one search per target may be pending for
         a sender, so the second round repeats targets of the first)
       upnp_ssdp_search.py count DEVICE SOURCE ST
         prints the number of answers to one M-SEARCH for ST (DEVICE may be the SSDP group)
       upnp_ssdp_search.py forged DEVICE FORGED-SOURCE
         sends one M-SEARCH for ssdp:all through a raw socket with FORGED-SOURCE as its source
         address and prints the number of answers that reach this host on the forged port
       upnp_ssdp_search.py flood DEVICE FORGED-SOURCE SECONDS RATE ST...
         sends RATE M-SEARCHes a second (MX 5, the targets in turn, each from another port)
         through a raw socket with FORGED-SOURCE as their source address for SECONDS seconds,
         then prints the number sent
       upnp_ssdp_search.py siege DEVICE SOURCE ST VICTIM SECONDS RATE VICTIM-RATE
         for SECONDS seconds, sends RATE M-SEARCHes a second (MX 5, ssdp:all) from random forged
         sources in SOURCE's /24 (.100 to .250) and VICTIM-RATE (MX 1, ssdp:all) with VICTIM as
         their forged source (ports 40000 to 40063, where this host receives as VICTIM), while
         ten real searches for ST go out from SOURCE, one every 0.25 s; prints
         "answered A of 10, victim V" (V: the answers VICTIM received until 0.5 s after the end)
"""
import random
import select
import socket
import struct
import sys
import time


def search(st, mx="1", man='"ssdp:discover"', start="M-SEARCH * HTTP/1.1"):
    lines = [start, "HOST: 239.255.255.250:1900"]
    if man is not None:
        lines.append("MAN: " + man)
    if mx is not None:
        lines.append("MX: " + mx)
    if st is not None:
        lines.append("ST: " + st)
    return ("\r\n".join(lines) + "\r\n\r\n").encode()


def open_socket(source):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((source, 0))
    return sock


def answers(sock, seconds):
    got = []
    end = time.monotonic() + seconds
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return got
        ready, _, _ = select.select([sock], [], [], left)
        if ready:
            got.append(sock.recv(4096).decode(errors="replace"))


def table_round(device, source, cases):
    sockets = []
    for _, datagrams, _ in cases:
        sock = open_socket(source)
        for datagram in datagrams if isinstance(datagrams, list) else [datagrams]:
            sock.sendto(datagram, (device, 1900))
        sockets.append(sock)
    time.sleep(1.5)
    failures = 0
    for (name, _, expected), sock in zip(cases, sockets):
        got = len(answers(sock, 0.05))
        ok = got == expected
        failures += 0 if ok else 1
        print("%s: %s -> %d answers (expected %d)" % ("PASS" if ok else "FAIL", name, got, expected))
        sock.close()
    return failures


def table(device, source, uuid, device_type, service_type):
    first = [
        ("URL not *", search("ssdp:all", start="M-SEARCH / HTTP/1.1"), 0),
        ("protocol HTTP/1.0", search("ssdp:all", start="M-SEARCH * HTTP/1.0"), 0),
        ("MAN unquoted", search("ssdp:all", man="ssdp:discover"), 0),
        ("MX absent", search("ssdp:all", mx=None), 0),
        ("MX x", search("ssdp:all", mx="x"), 0),
        ("ST absent", search(None), 0),
        ("ST in other case", search(device_type.upper()), 0),
        ("version 2 of the type", search(device_type[:-1] + "2"), 0),
        ("ssdp:all", search("ssdp:all"), 8),
        ("upnp:rootdevice", search("upnp:rootdevice"), 2),
        ("the uuid", search("uuid:" + uuid), 2),
        ("the device type", search(device_type), 2),
        ("the service type", search(service_type), 2),
        ("upnp:rootdevice from another port while pending", search("upnp:rootdevice"), 2),
        ("upnp:rootdevice twice from one port", [search("upnp:rootdevice")] * 2, 2),
    ]
    second = [
        ("not HTTP, then valid", [b"\x00\x01 not HTTP", search("upnp:rootdevice")], 2),
        ("cut in a header, then valid",
         [b'M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: "ssd', search(service_type)], 2),
    ]
    return table_round(device, source, first) + table_round(device, source, second)


def checksum(data):
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    total = (total >> 16) + (total & 0xFFFF)
    return ~(total + (total >> 16)) & 0xFFFF


def send_forged(raw, source, port, device, payload):
    """Sends payload as a UDP datagram from source:port to device:1900 through the raw socket."""
    udp = struct.pack("!HHHH", port, 1900, 8 + len(payload), 0) + payload
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), random.randint(1, 65535), 0, 64,
                         socket.IPPROTO_UDP, 0, socket.inet_aton(source), socket.inet_aton(device))
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    raw.sendto(header + udp, (device, 0))


def forged(device, source):
    """One M-SEARCH whose IP source is forged; counts the answers that come back here."""
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.bind(("0.0.0.0", 0))
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    send_forged(raw, source, receiver.getsockname()[1], device, search("ssdp:all"))
    print(len(answers(receiver, 1.5)))
    return 0


def flood(device, source, seconds, rate, targets):
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    sent = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        send_forged(raw, source, random.randint(1024, 65535), device,
                    search(targets[sent % len(targets)], mx="5"))
        sent += 1
        time.sleep(1.0 / rate)
    print(sent)
    return 0


def siege(device, source, st, victim, seconds, rate, victim_rate):
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    prefix = source.rsplit(".", 1)[0] + "."
    victims = []
    for port in range(40000, 40064):
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.bind((victim, port))
        victims.append(sock)
    real = [open_socket(source) for _ in range(10)]
    answered = set()
    got = 0
    start = time.monotonic()
    forged_sent = victim_sent = real_sent = 0
    while True:
        now = time.monotonic() - start
        if now >= seconds + 0.5 and real_sent == len(real) and (now >= seconds + 2 or len(answered) == len(real)):
            break
        while now < seconds and forged_sent < now * rate:
            send_forged(raw, prefix + str(random.randint(100, 250)), random.randint(1024, 39999), device,
                        search("ssdp:all", mx="5"))
            forged_sent += 1
        while now < seconds and victim_sent < now * victim_rate:
            send_forged(raw, victim, random.randint(40000, 40063), device, search("ssdp:all"))
            victim_sent += 1
        if real_sent < len(real) and now >= 0.25 * (real_sent + 1):
            real[real_sent].sendto(search(st), (device, 1900))
            real_sent += 1
        ready, _, _ = select.select(victims + real, [], [], 0.002)
        for sock in ready:
            sock.recv(4096)
            if sock in real:
                answered.add(sock)
            elif time.monotonic() - start < seconds + 0.5:
                got += 1
    print("answered %d of %d, victim %d" % (len(answered), len(real), got))
    return 0


def main():
    mode, device, source = sys.argv[1:4]
    if mode == "table":
        return 1 if table(device, source, *sys.argv[4:7]) else 0
    if mode == "forged":
        return forged(device, source)
    if mode == "siege":
        return siege(device, source, sys.argv[4], sys.argv[5], float(sys.argv[6]), float(sys.argv[7]),
                     float(sys.argv[8]))
    if mode == "flood":
        return flood(device, source, float(sys.argv[4]), float(sys.argv[5]), sys.argv[6:])
    sock = open_socket(source)
    sock.sendto(search(sys.argv[4]), (device, 1900))
    print(len(answers(sock, 1.5)))
    return 0


sys.exit(main())
