#!/usr/bin/env bash
# End-to-end checks of the UPnP framework's documents through `upnpdoc`, with xmllint as the judge
# of well-formedness: the exact SOAP fault, the ContentDirectory and ConnectionManager SCPDs
# written back as a fixed point, the device description with its service URLs and configId, a
# SOAP response, and failures reported by result-code name.
# Usage: upnpdoc_e2e.sh UPNPDOC DATA-DIR. Prints one line per check; exits 1 when any fails.

set -u

. "$(dirname "$0")/e2e_lib.sh"

P=${1:?usage: upnpdoc_e2e.sh PATH_OF_UPNPDOC DATA_DIR}
data=${2:?usage: upnpdoc_e2e.sh PATH_OF_UPNPDOC DATA_DIR}
e2e_init "$P"

if ! command -v xmllint >/dev/null; then
    echo "FAIL: xmllint is missing (scripts/install-deps installs libxml2-utils)" >&2
    exit 1
fi

pass() { echo "PASS: $1"; }
same_file() {
    if cmp -s "$2" "$3"; then pass "$1"; else fail "$1" "$(diff "$2" "$3" | head -5)"; fi
}
well_formed() {
    if xmllint --noout - <"$2" 2>"$work/lint"; then pass "$1 is well-formed"; else fail "$1 is well-formed" "$(head -3 "$work/lint")"; fi
}

# The fault: the declaration, CR LF, then the envelope on one line.
printf '%s\r\n%s' '<?xml version="1.0" encoding="UTF-8"?>' \
    '<s:Envelope s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/" xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body><s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail><UPnPError xmlns="urn:schemas-upnp-org:control-1-0"><errorCode>401</errorCode><errorDescription>Invalid Action</errorDescription></UPnPError></detail></s:Fault></s:Body></s:Envelope>' \
    >"$work/fault.expected"
"$P" fault 401 "Invalid Action" >"$work/fault"
same_file "fault 401 is the exact envelope" "$work/fault.expected" "$work/fault"
well_formed "fault" "$work/fault"

# Each SCPD: well-formed, its golden text, and a fixed point when read again.
for name in ContentDirectory ConnectionManager; do
    "$P" scpd "$data/$name.xml" >"$work/$name.1"
    well_formed "$name SCPD" "$work/$name.1"
    same_file "$name SCPD matches its golden text" "$data/$name.scpd.golden" "$work/$name.1"
    "$P" scpd "$work/$name.1" >"$work/$name.2"
    same_file "$name SCPD read again comes out byte-identical" "$work/$name.1" "$work/$name.2"
done

# The description: a random UUID in the service URLs and a configId on root.
"$P" description "$data/ContentDirectory.xml" >"$work/description"
well_formed "description" "$work/description"
uuid=$(sed -n 's|.*<UDN>uuid:\([0-9a-f-]*\)</UDN>.*|\1|p' "$work/description")
if [[ "$uuid" =~ ^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$ ]]; then
    pass "description carries a UUID"
else
    fail "description carries a UUID" "'$uuid'"
fi
if grep -q "<SCPDURL>/Test/$uuid/scpd.xml</SCPDURL>" "$work/description"; then
    pass "SCPDURL is /Test/<uuid>/scpd.xml"
else
    fail "SCPDURL is /Test/<uuid>/scpd.xml" "$(grep SCPDURL "$work/description")"
fi
if grep -Eq '<root configId="[0-9]+"' "$work/description"; then pass "root has configId"; else fail "root has configId"; fi
uuid2=$("$P" description "$data/ContentDirectory.xml" | sed -n 's|.*<UDN>uuid:\([0-9a-f-]*\)</UDN>.*|\1|p')
if [ "$uuid" != "$uuid2" ]; then pass "two devices get different UUIDs"; else fail "two devices get different UUIDs"; fi
"$P" description "$data/ContentDirectory.xml" --uuid 4d696e69-444c-164e-9d41-b827eb0f1c2a --config-id 7 \
    >"$work/description.fixed"
same_file "description matches its golden text" "$data/description.golden" "$work/description.fixed"

# A response: out-arguments in SCPD order, values escaped.
"$P" response "$data/ContentDirectory.xml" Browse TotalMatches=3 \
    'Result=<DIDL-Lite xmlns="urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/">&amp;</DIDL-Lite>' \
    NumberReturned=1 UpdateID=0 >"$work/response"
same_file "Browse response matches its golden text" "$data/browse-response.golden" "$work/response"
well_formed "Browse response" "$work/response"

# Failures: the result code's name on standard error and exit code 1.
expect_failure() {
    local what=$1 code=$2
    shift 2
    "$P" "$@" >"$work/out" 2>"$work/err"
    local status=$?
    if [ "$status" = 1 ] && [ "$(cat "$work/err")" = "$code" ] && [ ! -s "$work/out" ]; then
        pass "$what"
    else
        fail "$what" "status $status, stderr '$(cat "$work/err")'"
    fi
}
printf '<scpd xmlns="urn:schemas-upnp-org:service-1-0"><serviceStateTable/></scpd>' >"$work/empty.xml"
expect_failure "SCPD without variables" FAILURE scpd "$work/empty.xml"
expect_failure "missing file" KL_ERROR_NO_SUCH_FILE scpd "$work/none.xml"
expect_failure "unknown action" KL_ERROR_NO_SUCH_NAME response "$data/ContentDirectory.xml" Nope
expect_failure "unknown argument" KL_ERROR_NO_SUCH_NAME response "$data/ContentDirectory.xml" Browse Nope=1
expect_failure "refused value" KL_ERROR_INVALID_PARAMETERS response "$data/ContentDirectory.xml" Browse BrowseFlag=All
expect_failure "bad fault code" KL_ERROR_INVALID_PARAMETERS fault x "Invalid Action"

e2e_finish "upnpdoc"
