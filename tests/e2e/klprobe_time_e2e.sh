#!/usr/bin/env bash
# End-to-end checks of the runtime's digests and dates through klprobe, against the system's
# own tools (sha1sum, sha256sum, md5sum, openssl dgst, date -u). Usage: klprobe_time_e2e.sh KLPROBE
# Prints one line per check; exits non-zero when any check fails.

set -u

. "$(dirname "$0")/e2e_lib.sh"

P=${1:?usage: klprobe_time_e2e.sh PATH_OF_KLPROBE}
e2e_init "$P"

pass() { echo "PASS: $1"; }
check() {
    if [[ "$2" == "$3" ]]; then pass "$1"; else fail "$1" "expected '$2', got '$3'"; fi
}

# Digests of random files around the padding boundaries, and of 1 MiB + 1.
for n in 0 55 56 64 1048577; do
    f=$work/data-$n
    head -c "$n" /dev/urandom >"$f"
    for algorithm in sha1 sha256 md5; do
        expected=$(${algorithm}sum "$f" | cut -d' ' -f1)
        check "digest $algorithm of $n bytes" "$expected" "$("$P" digest "$algorithm" "$f")"
    done
    check "digest md5 of $n bytes from stdin" "$(md5sum <"$f" | cut -d' ' -f1)" "$("$P" digest md5 <"$f")"
done

# HMAC with a 100-character key (longer than a block: the key is hashed first) and a short one.
f=$work/data-1048577
for key in "$(head -c 300 /dev/urandom | tr -dc 'A-Za-z0-9' | head -c 100)" "key"; do
    for algorithm in sha1 md5; do
        expected=$(openssl dgst "-$algorithm" -hmac "$key" "$f" | awk '{print $NF}')
        check "hmac $algorithm with a ${#key}-character key" "$expected" "$("$P" hmac "$algorithm" "$key" "$f")"
    done
done
"$P" hmac sha256 key "$f" >/dev/null 2>"$work/err"
check "hmac sha256 is not supported" "1 KL_ERROR_NOT_SUPPORTED" "$? $(cat "$work/err")"

# Dates.
check "date 2200 as RFC 1123" "Wed, 01 Jan 2200 00:00:00 GMT" "$("$P" date 7258118400 rfc1123)"
check "parse 2200 as RFC 1123" "7258118400000000000" "$("$P" parsedate rfc1123 'Wed, 01 Jan 2200 00:00:00 GMT')"
check "half a second before 1970" "$(date -u -d @-0.5 +%Y-%m-%dT%H:%M:%S.%NZ)" "$("$P" date -0.5 w3c --flags 3)"
"$P" parsedate rfc1123 'Thu, 02 Jan 1970 00:00:00 GMT' >/dev/null 2>"$work/err"
check "wrong day name" "1 KL_ERROR_INVALID_PARAMETERS" "$? $(cat "$work/err")"
check "zone +90" "1970-01-01T01:30:00+01:30" "$("$P" date 0 w3c --zone 90)"
check "local zone from TZ" "Thu, 01 Jan 1970 05:30:00 +0530" "$(TZ=XXX-5:30 "$P" date 0 rfc1123 --local)"
check "last representable instant" "2262-04-11T23:47:16.854775807Z" "$("$P" date 9223372036.854775807 w3c --flags 3)"
"$P" date -2147483649 w3c >/dev/null 2>"$work/err"
check "before 1901-12-13 20:45:52" "1 KL_ERROR_OUT_OF_RANGE" "$? $(cat "$work/err")"
for s in -2147483648 -1234567890.123456789 0 1700000000.5 7258118400; do
    check "date $s as ANSI" "$(date -u -d "@$s" '+%a %b %e %H:%M:%S %Y')" "$("$P" date "$s" ansi)"
    check "date $s as RFC 1036" "$(date -u -d "@$s" '+%A, %d-%b-%y %H:%M:%S GMT')" "$("$P" date "$s" rfc1036)"
done

e2e_finish "klprobe time and digest"
