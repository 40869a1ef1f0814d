#!/usr/bin/env bash
# dlnaserve's shared folder that goes and comes back, inside two network namespaces
# (netns_lib.sh), with curl: deleted and made again with a new file, the root lists that file and
# serves it without a restart; another folder renamed over it is listed at the next Browse; and a
# folder given by a relative path is listed from the directory dlnaserve was started in.
#
#   dlna_folder_e2e.sh DLNASERVE
#
# Exits 77 where namespaces are refused.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/e2e_lib.sh"
. "$here/netns_lib.sh"
e2e_init "${1:?usage: dlna_folder_e2e.sh DLNASERVE}"
program=$(realpath "$E2E_PROGRAM")
netns_up
trap 'netns_down; e2e_cleanup' EXIT
chmod 755 "$work"
share=$work/shared
mkdir -p "$share"
head -c 1000 /dev/zero >"$share/old.mp3"

fetch() { # NAME CURL-ARGS... (in the client namespace); prints the status
  local name=$1
  shift
  netns_cp curl -s -m 10 -o "$work/$name.body" -w '%{http_code}' "$@" || true
}
browse_root() { # NAME: Browse of the root's children; prints the status
  local body='<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Browse xmlns:u="urn:schemas-upnp-org:service:ContentDirectory:1"><ObjectID>0</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>'
  fetch "$1" -H 'Content-Type: text/xml; charset="utf-8"' \
    -H 'SOAPAction: "urn:schemas-upnp-org:service:ContentDirectory:1#Browse"' --data-binary "$body" "$control"
}
listed() { # NAME: the object ids of a Browse answer, on one line
  grep -o ';item id="[^"]*"' "$work/$1.body" | sed 's/.*id="//; s/"$//' | paste -sd' '
}
start() { # NAME COMMAND...: starts dlnaserve in the device namespace; sets base and control
  local name=$1
  shift
  e2e_start "$name" "device at" ip netns exec "$NS_DEV" "$@"
  base=${url%/DeviceDescription.xml}
  [ "$(fetch description "$url")" = 200 ] || fail "GET the description of $name"
  control=$base$(grep -o '/ContentDirectory/[^<]*/control.xml' "$work/description.body" | head -1)
}
expect() { # WHAT ACTUAL EXPECTED
  [ "$2" == "$3" ] || fail "$1: got [$2], expected [$3]"
}

start dlnaserve "$program" "$share" "Lanyard Folder"
expect "Browse" "$(browse_root b1)" 200
expect "its listing" "$(listed b1)" "0/old.mp3"

rm -rf "$share"
mkdir "$share"
head -c 2000 /dev/zero >"$share/new.mp3"
expect "Browse of the folder made again" "$(browse_root b2)" 200
expect "its listing" "$(listed b2)" "0/new.mp3"
expect "GET of its new file" "$(fetch g1 "$base/%25/new.mp3")" 200
expect "its length" "$(stat -c %s "$work/g1.body")" 2000

rm "$share/new.mp3"
mkdir "$work/other"
head -c 3000 /dev/zero >"$work/other/moved.mp3"
mv -T "$work/other" "$share" # one rename over the (empty) folder
expect "Browse after a folder was renamed over it" "$(browse_root b3)" 200
expect "its listing" "$(listed b3)" "0/moved.mp3"
e2e_stop dlnaserve

start relative env -C "$work" "$program" shared "Box"
expect "Browse of a folder given by a relative path" "$(browse_root b4)" 200
expect "its listing" "$(listed b4)" "0/moved.mp3"
expect "GET of its file" "$(fetch g2 "$base/%25/moved.mp3")" 200
e2e_stop relative

e2e_finish "DLNA shared folder"
