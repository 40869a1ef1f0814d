#!/usr/bin/env bash
# Real DLNA clients against dlnaserve, inside two network namespaces (netns_lib.sh): dlnaserve
# shares a folder of nested folders, small real MP3, FLAC, Ogg, MP4 and JPEG files made with ffmpeg, hostile
# names, a FIFO and symbolic links from the device namespace; the clients run in the other one.
#
#   dlna_clients_e2e.sh DLNASERVE
#
# gssdp-discover finds the device and sees its byebye; GUPnP + GUPnP-AV browse the whole tree;
# Net::UPnP lists "0" over HTTP/1.0 and its URLs download; VLC lists the server and its titles
# and plays an MP3, a FLAC and an Ogg resource; curl checks every fault, ranges, the DLNA headers
# for several client kinds, the types of FLAC and Ogg, and xmllint judges every document. Exits 77 where namespaces are refused; a client that
# is not installed is skipped with a message.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"
. "$here/netns_lib.sh"
e2e_init "${1:?usage: dlna_clients_e2e.sh DLNASERVE}"
netns_up
trap 'netns_down; e2e_cleanup' EXIT
chmod 755 "$work"
PYTHON=/usr/bin/python3
NAME="Lanyard Test"

have() { command -v "$1" >/dev/null 2>&1; }
skip() { echo "SKIP: $*"; }

# --- the shared folder ---------------------------------------------------------------------------
share=$work/share
mkdir -p "$share/Music/Deep/Deeper" "$share/Movies" "$share/Photos" "$share/Odd"
if have ffmpeg; then
  ffmpeg -v error -f lavfi -i sine=frequency=440:duration=3 -c:a libmp3lame -q:a 9 "$share/Music/song.mp3"
  ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -c:a flac "$share/Music/tone.flac"
  ffmpeg -v error -f lavfi -i sine=frequency=440:duration=2 -c:a libvorbis "$share/Music/tone.ogg"
  ffmpeg -v error -f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4 "$share/Movies/clip.mp4"
  ffmpeg -v error -f lavfi -i testsrc=size=64x64 -frames:v 1 "$share/Photos/photo.jpg"
else
  skip "ffmpeg is missing: the media files are placeholders"
  head -c 4096 /dev/urandom >"$share/Music/song.mp3"
  head -c 4096 /dev/urandom >"$share/Music/tone.flac"
  head -c 4096 /dev/urandom >"$share/Music/tone.ogg"
  head -c 4096 /dev/urandom >"$share/Movies/clip.mp4"
  head -c 2048 /dev/urandom >"$share/Photos/photo.jpg"
fi
cp "$share/Music/song.mp3" "$share/Music/Deep/Deeper/deep.mp3"
for odd in 'a & b <c>.mp3' '100%.mp3' 'q?.mp3' 'hash#.mp3' 'ümlaut.mp3' "it's \"quoted\".mp3"; do
  cp "$share/Music/song.mp3" "$share/Odd/$odd"
done
# left out: a control character, invalid UTF-8, a hidden name, a FIFO, links leading outside
cp "$share/Music/song.mp3" "$share/Odd/ctl"$'\x01'".mp3"
cp "$share/Music/song.mp3" "$share/Odd/bad"$'\xff'".mp3"
echo hidden >"$share/.hidden"
mkfifo "$share/fifo.mp3"
echo outside >"$work/sibling.mp3"
ln -s /etc "$share/etc"
ln -s "$work/sibling.mp3" "$share/sibling.mp3"
ln -s Music/song.mp3 "$share/inside.mp3"
# the items every client must list: "title<TAB>size" of each published file
expected_items=$(cd "$share" && find -L . -path ./etc -prune -o -type f ! -name '.*' ! -name 'sibling.mp3' \
  ! -name $'*\x01*' ! -name $'*\xff*' -printf '%f\t%s\n' 2>/dev/null |
  sed 's/\.[^.\t]*\t/\t/' | LC_ALL=C sort)
[ "$(echo "$expected_items" | wc -l)" = 13 ] || fail "the test tree holds 13 listable files" "$expected_items"

# --- dlnaserve ----------------------------------------------------------------------------------
e2e_start dlnaserve "device at" ip netns exec "$NS_DEV" "$E2E_PROGRAM" "$share" "$NAME"
location=$url
base=${location%/DeviceDescription.xml}
[[ $location =~ ^http://10\.231\.7\.1:[0-9]+/DeviceDescription\.xml$ ]] || fail "device URL" "$location"

fetch() { # NAME CURL-ARGS... (in the client namespace)
  local name=$1
  shift
  netns_cp curl -s -m 20 -o "$work/$name.body" -D "$work/$name.head" -w '%{http_code}' "$@" || true
}
header() { grep -i "^$2:" "$work/$1.head" | head -1 | cut -d: -f2- | sed 's/^ *//; s/\r$//'; }
xml_ok() { xmllint --noout "$1" 2>/dev/null || fail "xmllint refuses $2"; }

[ "$(fetch description "$location")" = 200 ] || fail "GET description"
grep -q '<friendlyName>Lanyard Test</friendlyName>' "$work/description.body" || fail "friendlyName"
grep -q '<dlna:X_DLNADOC xmlns:dlna="urn:schemas-dlna-org:device-1-0">DMS-1.50</dlna:X_DLNADOC>' \
  "$work/description.body" || fail "X_DLNADOC"
xml_ok "$work/description.body" "the description"
declare -A CONTROL=()
for service in ContentDirectory ConnectionManager; do
  scpd=$(grep -o "/$service/[^<]*/scpd.xml" "$work/description.body" | head -1)
  CONTROL[$service]=$(grep -o "/$service/[^<]*/control.xml" "$work/description.body" | head -1)
  [ "$(fetch "scpd-$service" "$base$scpd")" = 200 ] || fail "GET $service SCPD"
  xml_ok "$work/scpd-$service.body" "the $service SCPD"
done

# --- SOAP with curl -------------------------------------------------------------------------------
soap() { # NAME SERVICE ACTION ARGUMENTS-XML [CURL-ARGS...]; prints the status
  local name=$1 service=$2 action=$3 arguments=$4
  shift 4
  local body="<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:$action xmlns:u=\"urn:schemas-upnp-org:service:$service:1\">$arguments</u:$action></s:Body></s:Envelope>"
  fetch "$name" -H 'Content-Type: text/xml; charset="utf-8"' \
    -H "SOAPAction: \"urn:schemas-upnp-org:service:$service:1#$action\"" --data-binary "$body" "$@" \
    "$base${CONTROL[$service]}"
}
browse_args() { # ID FLAG [SORT] [FILTER]
  echo "<ObjectID>$1</ObjectID><BrowseFlag>$2</BrowseFlag><Filter>${4:-*}</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria>${3:-}</SortCriteria>"
}
search_args() { # ID CRITERIA
  echo "<ContainerID>$1</ContainerID><SearchCriteria>$2</SearchCriteria><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria>"
}
# The Result of a SOAP answer, unescaped, into a file.
result_of() { # NAME -> $work/NAME.didl
  "$PYTHON" - "$work/$1.body" "$work/$1.didl" <<'EOF'
import sys
import xml.etree.ElementTree as ET
result = ET.parse(sys.argv[1]).getroot().find(".//Result")
open(sys.argv[2], "w", encoding="utf-8").write(result.text if result is not None and result.text else "")
EOF
}
expect_fault() { # NAME CODE SERVICE ACTION ARGUMENTS-XML
  local name=$1 code=$2 status
  shift 2
  status=$(soap "$name" "$@")
  [ "$status" = 500 ] || fail "$name: HTTP 500 expected" "$status"
  grep -q "<UPnPError" "$work/$name.body" || fail "$name: no UPnPError"
  grep -q "<errorCode>$code</errorCode>" "$work/$name.body" || fail "$name: errorCode $code" "$(cat "$work/$name.body")"
}
expect_fault fault401 401 ContentDirectory X_GetFeatureList ""
expect_fault fault402 402 ContentDirectory Browse "<ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>"
expect_fault fault701 701 ContentDirectory Browse "$(browse_args 0/../../etc BrowseDirectChildren)"
expect_fault fault706 706 ConnectionManager GetCurrentConnectionInfo "<ConnectionID>1</ConnectionID>"
expect_fault fault708 708 ContentDirectory Search "$(search_args 0 Unknownfieldname)"
expect_fault fault709 709 ContentDirectory Browse "$(browse_args 0 BrowseDirectChildren dc:title)"
expect_fault fault800 800 ContentDirectory Search "$(search_args 0 'dc:title contains &quot;a&quot;')"
if grep -qE 'passwd|hostname|shadow' "$work/fault701.body"; then fail "a name from /etc in the 701 answer"; fi

[ "$(soap root ContentDirectory Browse "$(browse_args 0 BrowseDirectChildren)")" = 200 ] || fail "Browse 0"
result_of root
xml_ok "$work/root.didl" "the Result of 0"
if grep -qE 'fifo|sibling|"0/etc"|hidden' "$work/root.didl"; then fail "Result of 0 lists what it must not"; fi

# --- GUPnP + GUPnP-AV: the whole tree -------------------------------------------------------------
if "$PYTHON" -c 'import gi; gi.require_version("GUPnP", "1.6"); gi.require_version("GUPnPAV", "1.0")' 2>/dev/null; then
  if netns_cp "$PYTHON" "$here/dlna_gupnp_browse.py" cp0 "$location" >"$work/gupnp.out" 2>"$work/gupnp.err"; then
    gupnp_items=$(awk -F'\t' '$1 == "item" { print $3 "\t" $5 }' "$work/gupnp.out" | LC_ALL=C sort)
    [ "$gupnp_items" = "$expected_items" ] || fail "GUPnP titles and sizes" "$(diff <(echo "$expected_items") <(echo "$gupnp_items") | tr '\n' ' ')"
    awk -F'\t' '$1 == "item" && ($4 == "" || $6 == "") { exit 1 }' "$work/gupnp.out" || fail "GUPnP: an item without MIME type or res"
    # every container's Result passes xmllint
    while IFS=$'\t' read -r kind id _; do
      [ "$kind" = container ] || continue
      id_xml=$(printf '%s' "$id" | sed 's/&/\&amp;/g; s/</\&lt;/g')
      soap container ContentDirectory Browse "$(browse_args "$id_xml" BrowseDirectChildren)" >/dev/null
      result_of container
      xml_ok "$work/container.didl" "the Result of $id"
    done <"$work/gupnp.out"
  else
    fail "GUPnP browse" "$(cat "$work/gupnp.err")"
  fi
else
  skip "python3-gi with GUPnP 1.6 and GUPnP-AV is missing"
fi

# --- Net::UPnP (HTTP/1.0): the children of "0", and its URLs download -----------------------------
if perl -MNet::UPnP::AV::MediaServer -e 1 2>/dev/null; then
  if netns_cp perl "$here/dlna_netupnp_list.pl" "$location" >"$work/netupnp.out" 2>"$work/netupnp.err"; then
    netupnp=$(cut -f1,2 "$work/netupnp.out" | LC_ALL=C sort)
    curl_list=$("$PYTHON" - "$work/root.didl" <<'EOF' | LC_ALL=C sort
import sys
import xml.etree.ElementTree as ET
ns = {"d": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/", "dc": "http://purl.org/dc/elements/1.1/"}
for entry in ET.parse(sys.argv[1]).getroot():
    print(entry.get("id") + "\t" + entry.find("dc:title", ns).text)
EOF
)
    [ "$netupnp" = "$curl_list" ] || fail "Net::UPnP ids and titles" "$(diff <(echo "$curl_list") <(echo "$netupnp") | tr '\n' ' ')"
    while IFS=$'\t' read -r id _ res; do
      [ -n "$res" ] || continue
      size=$(netns_cp curl -s -m 20 -o /dev/null -w '%{size_download}' "$res")
      [ "$size" = "$(stat -L -c %s "$share/${id#0/}")" ] || fail "Net::UPnP URL download" "$res $size"
    done <"$work/netupnp.out"
  else
    fail "Net::UPnP listing" "$(cat "$work/netupnp.err")"
  fi
else
  skip "Net::UPnP is missing"
fi

# --- curl: range, DLNA headers per client kind -----------------------------------------------------
song=$(grep -o "http://[^<]*/Music/song.mp3" "$work/root.didl" "$work/gupnp.out" 2>/dev/null | head -1 | cut -d: -f2-)
[ -n "$song" ] || song="$base/%25/Music/song.mp3"
[ "$(fetch range -r 0-99 "$song")" = 206 ] || fail "Range: 206 expected"
[ "$(stat -c %s "$work/range.body")" = 100 ] || fail "Range: 100 bytes expected"
client_headers=(
  "User-Agent: Xenon"
  "User-Agent: Windows-Media-Player/12.0.7601.17514"
  "User-Agent: Linux UPnP/1.0 Sonos/26.1-76230 (ZPS1)"
  'X-AV-Client-Info: av=5.0; cn="Sony Computer Entertainment Inc."; mn="PLAYSTATION 3"; mv="1.0";'
)
for client in "${client_headers[@]}"; do
  [ "$(soap client ContentDirectory Browse "$(browse_args 0/Music BrowseDirectChildren)" -H "$client")" = 200 ] ||
    fail "Browse for $client"
  result_of client
  fourth=$(grep -o 'protocolInfo="[^"]*">[^<]*/song\.mp3<' "$work/client.didl" | head -1 | cut -d'"' -f2 | cut -d: -f4)
  [ "$(fetch clienthead -I -H "$client" -H "getcontentFeatures.dlna.org: 1" "$song")" = 200 ] || fail "HEAD for $client"
  [ "$(header clienthead ContentFeatures.DLNA.ORG)" = "$fourth" ] ||
    fail "contentFeatures for $client" "$(header clienthead ContentFeatures.DLNA.ORG) vs $fourth"
  [ "$(fetch clientget -H "$client" "$song")" = 200 ] || fail "GET for $client"
done

# --- FLAC and Ogg: types of their own, no MP3 profile ------------------------------------------------
[ "$(soap music ContentDirectory Browse "$(browse_args 0/Music BrowseDirectChildren)")" = 200 ] || fail "Browse 0/Music"
result_of music
declare -A LOSSLESS=()
while IFS=$'\t' read -r name info url; do
  case "$info" in
  *audio/mpeg* | *PN=MP3* | "") fail "$name announced as $info" ;;
  esac
  LOSSLESS[$name]=$url
done < <("$PYTHON" - "$work/music.didl" <<'EOF'
import sys
import xml.etree.ElementTree as ET
for res in ET.parse(sys.argv[1]).getroot().iter("{urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/}res"):
    for name in ("tone.flac", "tone.ogg"):
        if (res.text or "").endswith("/" + name):
            print(name + "\t" + (res.get("protocolInfo") or "") + "\t" + res.text)
EOF
)
[ "${#LOSSLESS[@]}" = 2 ] || fail "Browse 0/Music lists tone.flac and tone.ogg" "$(cat "$work/music.didl")"
[ "$(fetch flac "${LOSSLESS[tone.flac]:-$base/%25/Music/tone.flac}")" = 200 ] || fail "GET tone.flac"
[ "$(header flac Content-Type)" = audio/x-flac ] || fail "GET tone.flac: Content-Type" "$(header flac Content-Type)"

# --- VLC: the server and its titles, and playing a resource (as an unprivileged user) -------------
if have cvlc && id nobody >/dev/null 2>&1; then
  mkdir -p "$work/vlc-home" && chown nobody "$work/vlc-home"
  # VLC's search allows up to 5 s for answers (the device waits a random part of it); on a loaded
  # machine the listing may not be there yet when asked for, so a second look waits longer.
  for wait in 8 14; do
    (sleep "$wait"; echo "goto 4"; sleep 4; echo playlist; sleep 1; echo stop; echo quit) |
      netns_cp timeout 60 runuser -u nobody -- env HOME="$work/vlc-home" cvlc -I cli --no-video --aout=dummy \
        --services-discovery=upnp >"$work/vlc.out" 2>"$work/vlc.err"
    grep -q -- "- inside" "$work/vlc.out" && break
  done
  grep -q "$NAME" "$work/vlc.out" || fail "VLC lists the server" "$(tr '\n' ' ' <"$work/vlc.out")"
  for title in Music Movies Photos Odd inside; do
    grep -q -- "- $title" "$work/vlc.out" || fail "VLC lists $title" "$(tr '\n' ' ' <"$work/vlc.out")"
  done
  netns_cp timeout 60 runuser -u nobody -- env HOME="$work/vlc-home" cvlc -I dummy --no-video --aout=dummy \
    --play-and-exit "$song" >"$work/vlcplay.out" 2>&1 || fail "VLC plays $song" "$(tail -3 "$work/vlcplay.out")"
  # VLC believes the announced type: as audio/mpeg it forced its MP3 reader and decoded nothing.
  for name in tone.flac tone.ogg; do
    decoder=flac
    [ "$name" = tone.ogg ] && decoder=vorbis
    netns_cp timeout 60 runuser -u nobody -- env HOME="$work/vlc-home" cvlc -I dummy --no-video --aout=dummy \
      --play-and-exit -vv "${LOSSLESS[$name]:-$base/%25/Music/$name}" >"$work/vlc-$name.out" 2>&1
    grep -q "using audio decoder module \"$decoder\"" "$work/vlc-$name.out" ||
      fail "VLC plays $name" "$(grep -E 'demux|decoder' "$work/vlc-$name.out" | tail -5)"
  done
elif have ffprobe; then
  skip "VLC is missing: ffprobe reads the resource instead"
  netns_cp ffprobe -v error -show_entries format=format_name -of csv=p=0 "$song" | grep -q mp3 || fail "ffprobe reads $song"
else
  skip "neither VLC nor ffprobe is installed"
fi

# --- Browse: equal times by name, at most 1000 objects per answer, childCount as listed ------------
mkdir -p "$share/Ties" "$share/Many"
for n in 07 03 11 01 12 05 09 02 10 04 08 06; do echo x >"$share/Ties/$n.mp3"; done
touch -d @1000000000 "$share/Ties/"*.mp3
[ "$(soap ties ContentDirectory Browse "$(browse_args 0/Ties BrowseDirectChildren)")" = 200 ] || fail "Browse 0/Ties"
result_of ties
titles=$(grep -o '<dc:title>[^<]*</dc:title>' "$work/ties.didl" | sed 's/<[^>]*>//g' | tr '\n' ' ')
[ "$titles" = "01 02 03 04 05 06 07 08 09 10 11 12 " ] || fail "equal times listed by name" "$titles"
(cd "$share/Many" && touch $(seq -f 'f%g.mp3' 1 3000))
[ "$(soap many ContentDirectory Browse "$(browse_args 0/Many BrowseDirectChildren)")" = 200 ] || fail "Browse 0/Many"
grep -q '<NumberReturned>1000</NumberReturned><TotalMatches>3000</TotalMatches>' "$work/many.body" ||
  fail "1000 of 3000 objects" "$(grep -o '<NumberReturned>.*</TotalMatches>' "$work/many.body")"
[ "$(soap manymeta ContentDirectory Browse "$(browse_args 0/Many BrowseMetadata)")" = 200 ] || fail "Metadata 0/Many"
grep -q 'childCount="3000"' "$work/manymeta.body" || fail "childCount of 0/Many" "$(head -c 600 "$work/manymeta.body")"
rm -rf "$share/Ties" "$share/Many"

# --- SSDP: discovery, byebye on SIGTERM, a taken port 1900 --------------------------------------
if have gssdp-discover; then
  netns_cp gssdp-discover -i cp0 -t urn:schemas-upnp-org:device:MediaServer:1 -n 6 >"$work/gssdp.out" 2>&1
  grep -q "Location: $location" "$work/gssdp.out" || fail "gssdp-discover finds $location" "$(tr '\n' ' ' <"$work/gssdp.out")"
  # gssdp-discover reports a byebye only for a server it has seen: watch all messages and stop the
  # server once this one has reported it available.
  netns_cp gssdp-discover -i cp0 -t urn:schemas-upnp-org:device:MediaServer:1 -m all -n 40 \
    >"$work/byebye.out" 2>&1 &
  byebye_pid=$!
  for _ in $(seq 1 300); do grep -q "resource available" "$work/byebye.out" && break; sleep 0.1; done
  grep -q "resource available" "$work/byebye.out" || fail "gssdp-discover sees the server before it stops"
else
  skip "gssdp-discover is missing"
  byebye_pid=""
fi
pid=${E2E_PID[dlnaserve]}
started=$(date +%s)
kill -TERM "$pid"
wait "$pid"
status=$?
E2E_PID[dlnaserve]=""
[ "$status" = 0 ] || fail "dlnaserve exit status on SIGTERM" "$status"
[ $(($(date +%s) - started)) -le 5 ] || fail "dlnaserve took more than 5 s to stop"
[ -s "$work/dlnaserve.err" ] && fail "dlnaserve wrote on standard error" "$(head -5 "$work/dlnaserve.err")"
if [ -n "$byebye_pid" ]; then
  for _ in $(seq 1 300); do grep -q "resource unavailable" "$work/byebye.out" && break; sleep 0.1; done
  kill -TERM "$byebye_pid" 2>/dev/null
  wait "$byebye_pid" 2>/dev/null
  grep -q "resource unavailable" "$work/byebye.out" || fail "byebye seen" "$(tr '\n' ' ' <"$work/byebye.out")"
fi

netns_dev "$PYTHON" -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for _ in range(100):  # the stopped server'"'"'s socket may take a moment to go
    try:
        s.bind(("0.0.0.0", 1900))
        break
    except OSError:
        time.sleep(0.1)
else:
    sys.exit("port 1900 stayed busy")
print("held", flush=True)
time.sleep(30)' >"$work/holder.out" &
holder=$!
for _ in $(seq 1 50); do grep -q held "$work/holder.out" && break; sleep 0.1; done
grep -q held "$work/holder.out" || fail "port 1900 could be held for the check" "$(cat "$work/holder.out")"
if netns_dev timeout 20 "$E2E_PROGRAM" "$share" "$NAME" >"$work/taken.out" 2>"$work/taken.err"; then
  fail "dlnaserve started with port 1900 taken"
fi
grep -qx "KL_ERROR_ADDRESS_IN_USE" "$work/taken.err" || fail "KL_ERROR_ADDRESS_IN_USE expected" "$(cat "$work/taken.err")"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

e2e_finish "DLNA clients"
