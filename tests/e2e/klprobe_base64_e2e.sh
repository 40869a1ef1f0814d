#!/usr/bin/env bash
# klprobe's Base64 against coreutils: `b64enc` equals `base64 -w0`, `b64enc --url` equals
# `basenc --base64url -w0`, `b64dec` gives the bytes back, and `b64enc --line 19` equals
# `base64 -w 76` once CR is removed (and, for a non-empty output not ending in LF, an LF added).
# Random data of every length 0..64 (0..200 for line breaks) and of 1 MiB. Then the probe's contract
# on the other base sub-commands (numbers, result names, parameter lists, splitting, hex).
#
# usage: klprobe_base64_e2e.sh PATH-TO-KLPROBE
set -uo pipefail

. "$(dirname "$0")/e2e_lib.sh"

e2e_init "${1:?usage: klprobe_base64_e2e.sh PATH-TO-KLPROBE}"
probe=$1

# Runs klprobe with stdin from $1 into $2; anything on stderr (a sanitizer report) fails.
run() {
  local input=$1 output=$2
  shift 2
  if ! "$probe" "$@" <"$input" >"$output" 2>"$work/err" || [ -s "$work/err" ]; then
    fail "klprobe $* on $(basename "$input")" "$(head -c 300 "$work/err")"
    return 1
  fi
}

check_plain() {
  local f=$1
  run "$f" "$work/enc" b64enc && { cmp -s "$work/enc" <(base64 -w0 "$f") || fail "b64enc of $(basename "$f")"; }
  run "$f" "$work/url" b64enc --url &&
    { cmp -s "$work/url" <(basenc --base64url -w0 "$f") || fail "b64enc --url of $(basename "$f")"; }
  run "$work/enc" "$work/dec" b64dec && { cmp -s "$work/dec" "$f" || fail "b64dec round trip of $(basename "$f")"; }
  run "$work/url" "$work/dec" b64dec --url &&
    { cmp -s "$work/dec" "$f" || fail "b64dec --url round trip of $(basename "$f")"; }
}

check_lines() {
  local f=$1
  run "$f" "$work/lines" b64enc --line 19 || return
  tr -d '\r' <"$work/lines" >"$work/lf"
  if [ -s "$work/lf" ] && [ "$(tail -c 1 "$work/lf" | od -An -c | tr -d ' ')" != '\n' ]; then
    printf '\n' >>"$work/lf"
  fi
  cmp -s "$work/lf" <(base64 -w 76 "$f") || fail "b64enc --line 19 of $(basename "$f")"
  # Decoding skips the line breaks.
  run "$work/lines" "$work/dec" b64dec && { cmp -s "$work/dec" "$f" || fail "b64dec of lines of $(basename "$f")"; }
}

for n in $(seq 0 200); do
  head -c "$n" /dev/urandom >"$work/data-$n"
  if [ "$n" -le 64 ]; then
    check_plain "$work/data-$n"
  fi
  check_lines "$work/data-$n"
  rm -f "$work/data-$n"
done

head -c 1048576 /dev/urandom >"$work/data-1MiB"
check_plain "$work/data-1MiB"
check_lines "$work/data-1MiB"

# Malformed input: exactly one line on stderr, the code's name, and exit status 1.
printf 'YWJ' >"$work/bad"
"$probe" b64dec <"$work/bad" >/dev/null 2>"$work/err"
status=$?
if [ "$status" -ne 1 ] || [ "$(cat "$work/err")" != "KL_ERROR_INVALID_FORMAT" ]; then
  fail "b64dec of YWJ" "status $status, stderr $(head -c 200 "$work/err")"
fi

# The probe's contract on the other base sub-commands: exact stdout and exit status, and on
# failure the code's name as the only line on stderr.
expect() {
  local want_status=$1 want_out=$2 want_err=$3 status
  shift 3
  "$probe" "$@" >"$work/out" 2>"$work/err"
  status=$?
  if [ "$status" -ne "$want_status" ] || [ "$(cat "$work/out")" != "$want_out" ] ||
    [ "$(cat "$work/err")" != "$want_err" ]; then
    fail "klprobe $*" "status $status, stdout $(head -c 200 "$work/out"), stderr $(head -c 200 "$work/err")"
  fi
}
expect 0 KL_ERROR_EOS "" result -20302
expect 0 UNKNOWN "" result -22002
expect 1 "" KL_ERROR_OVERFLOW int32 2147483648
expect 0 -2147483648 "" int32 -2147483648
expect 0 12 "" int64 --relaxed ' 12a'
expect 1 "" KL_ERROR_INVALID_PARAMETERS float 1.
expect 0 0.5 "" float .5
expect 0 18446744073709551615 "" uint64 18446744073709551615
expect 1 "" KL_ERROR_OVERFLOW uint32 4294967296
expect 0 "$(printf 'a=1\nb=x;y')" "" params 'a=1; b="x;y"'
expect 1 "" KL_ERROR_INVALID_SYNTAX params a
expect 0 "$(printf '[a]\n[]\n[b]\n[]')" "" split , 'a,,b,'
expect 0 "$(printf '[a]\n[b]\n[]\n[c]')" "" splitany ',;' 'a;b,,c'
expect 0 Hi "" unhex 4869
expect 1 "" KL_ERROR_INVALID_PARAMETERS unhex abc
printf '\001\253' >"$work/two"
"$probe" hex --sep : --upper <"$work/two" >"$work/out" 2>"$work/err"
[ "$(cat "$work/out")" = "01:AB" ] || fail "klprobe hex --sep : --upper" "$(cat "$work/out")"
"$probe" int32 >/dev/null 2>&1
status=$?
[ "$status" -eq 2 ] || fail "klprobe int32 without a text" "status $status"

e2e_finish "klprobe base"
