#!/usr/bin/env bash
# dlnaserve (the file media server) against minidlna, in the two network namespaces of
# tests/e2e/netns_lib.sh: both serve one folder from the device namespace (dlnaserve without any
# index, minidlna after its scan); a keep-alive SOAP client and curl in the client namespace
# measure, in the same run:
#   - Browse of a 1,000-file folder, RequestedCount 0 (median of 20),
#   - the whole listing of a 10,000-file folder in pages of 200 over one connection (median of 5),
#   - a 1 GiB WAV GET, one stream and 8 in parallel (curl, median of 3),
# and prints each figure for both and the ratio. No pass or fail beyond a failed request.
#
# usage: bench/dlna_bench.sh [dlnaserve]      (default: the release build's; run as root)
#
# Needs minidlna (minidlnad), ffmpeg, curl and python3. NOTE: `apt-get install minidlna` starts
# minidlna as a system service on the machine's own network: stop and disable it first
# (`systemctl disable --now minidlna`, or `service minidlna stop`). This script runs its own
# minidlnad with its configuration, database and log in a temporary folder, inside the device
# namespace only, and ends it by its PID.
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

echo "== measuring from $NS_CP"
netns_cp "$python" - "$location" "http://$NETNS_DEV_ADDRESS:8200/rootDesc.xml" "$work" <<'EOF'
import http.client, statistics, subprocess, sys, time, urllib.parse
import xml.etree.ElementTree as ET

DIDL = {"d": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/", "dc": "http://purl.org/dc/elements/1.1/"}
CD = "urn:schemas-upnp-org:service:ContentDirectory:1"


class Server:
    def __init__(self, name, location):
        self.name = name
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

    def browse_raw(self, object_id, start=0, count=0):
        body = ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
                's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Browse xmlns:u="%s">'
                "<ObjectID>%s</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
                "<StartingIndex>%d</StartingIndex><RequestedCount>%d</RequestedCount><SortCriteria></SortCriteria>"
                "</u:Browse></s:Body></s:Envelope>" % (CD, object_id, start, count))
        self.connection.request("POST", self.control, body.encode(), {
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
    return ids


def timed(function, repeat):
    times = []
    for _ in range(repeat):
        begin = time.perf_counter()
        function()
        times.append(time.perf_counter() - begin)
    return statistics.median(times)


def measure(server, ids, work):
    figures = {}
    didl, total = server.browse(ids["Small1000"], 0, 0)
    print("  %s: RequestedCount 0 on 1,000 files returns %d of %d" % (server.name, len(didl), total))
    figures["browse 1,000 (s)"] = timed(lambda: server.browse_raw(ids["Small1000"], 0, 0), 20)

    answers = []

    def pages():
        answers[:] = [server.browse_raw(ids["Small10000"], start, 200) for start in range(0, 10000, 200)]
    figures["list 10,000 by 200 (s)"] = timed(pages, 5)
    count = sum(len(ET.fromstring(ET.fromstring(answer).find(".//Result").text)) for answer in answers)
    if count != 10000:
        raise SystemExit("%s: the paged listing gave %d entries" % (server.name, count))

    def get(streams):
        processes = [subprocess.Popen(["curl", "-s", "-f", "-o", "/dev/null", ids["wav"]]) for _ in range(streams)]
        if any(p.wait() != 0 for p in processes):
            raise SystemExit("%s: GET %s failed" % (server.name, ids["wav"]))
    figures["GET 1 GiB x1 (s)"] = timed(lambda: get(1), 3)
    figures["GET 1 GiB x8 (s)"] = timed(lambda: get(8), 3)
    return figures


lanyard = Server("dlnaserve", sys.argv[1])
minidlna = Server("minidlna", sys.argv[2])
print("  waiting for minidlna's scan")
wait_for_scan(minidlna, time.time() + 1800)
results = {}
for server in (lanyard, minidlna):
    results[server.name] = measure(server, folder_ids(server), sys.argv[3])
print("%-26s %12s %12s %10s" % ("", "dlnaserve", "minidlna", "ratio"))
for key in results["dlnaserve"]:
    ours, theirs = results["dlnaserve"][key], results["minidlna"][key]
    print("%-26s %12.4f %12.4f %10.2f" % (key, ours, theirs, ours / theirs))
print("(times in seconds, medians; ratio = dlnaserve / minidlna: below 1 is faster)")
EOF
