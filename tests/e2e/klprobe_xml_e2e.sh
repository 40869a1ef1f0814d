#!/usr/bin/env bash
# End-to-end checks of the runtime's XML parser and writer through `klprobe xml`, with xmllint
# as the judge of well-formedness: the golden documents of keel/tests/data written back in every
# form and fed in pieces, and the codes of malformed and hostile input.
# Usage: klprobe_xml_e2e.sh KLPROBE DATA-DIR. Prints one line per check; exits 1 when any fails.

set -u

. "$(dirname "$0")/e2e_lib.sh"

P=${1:?usage: klprobe_xml_e2e.sh PATH_OF_KLPROBE DATA_DIR}
data=${2:?usage: klprobe_xml_e2e.sh PATH_OF_KLPROBE DATA_DIR}
e2e_init "$P"

if ! command -v xmllint >/dev/null; then
    echo "FAIL: xmllint is missing (scripts/install-deps installs libxml2-utils)" >&2
    exit 1
fi

pass() { echo "PASS: $1"; }
check() {
    if [[ "$2" == "$3" ]]; then pass "$1"; else fail "$1" "expected '$2', got '$3'"; fi
}

# Each golden document: well-formed when written compact, indented and with the declaration;
# the same output whatever pieces the input arrives in; parsed again to the same text.
for f in "$data"/xml-*.xml; do
    name=$(basename "$f")
    "$P" xml <"$f" >"$work/compact" 2>"$work/err"
    check "$name parses" "0 " "$? $(cat "$work/err")"
    for options in "" "--indent 2" "--indent 2 --decl" "--decl"; do
        # shellcheck disable=SC2086 # the options are words
        if "$P" xml $options <"$f" | xmllint --noout - 2>"$work/lint"; then
            pass "$name written with '$options' is well-formed"
        else
            fail "$name written with '$options' is well-formed" "$(head -3 "$work/lint")"
        fi
    done
    "$P" xml --indent 2 --decl <"$f" | "$P" xml >"$work/again"
    if cmp -s "$work/compact" "$work/again"; then pass "$name parsed again"; else fail "$name parsed again"; fi
    for piece in 1 2 3 4 5 6 7; do
        "$P" xml --piece "$piece" <"$f" >"$work/pieces"
        cmp -s "$work/compact" "$work/pieces" || fail "$name in pieces of $piece bytes"
    done
    pass "$name in pieces of 1 to 7 bytes"
done

# Malformed and hostile input: exit status 1 and the code's name on standard error.
expect_code() { # what expected-stderr input
    printf '%s' "$3" | "$P" xml >"$work/out" 2>"$work/err"
    check "$1" "1 $2" "$? $(cat "$work/err")"
}
expect_code "end tag of another name" KL_ERROR_XML_TAG_MISMATCH '<a></b>'
expect_code "two roots" "UNKNOWN (-20603)" '<a/><b/>'
expect_code "no root" "UNKNOWN (-20602)" '  '
expect_code "reference without digits" KL_ERROR_INVALID_SYNTAX '<a>&#;</a>'
expect_code "reference to NUL" KL_ERROR_INVALID_SYNTAX '<a>&#0;</a>'
expect_code "text after the root" KL_ERROR_XML_INVALID_NESTING '<a/>x<b/>'
python3 -c "print('<a>'*100000+'</a>'*100000)" | "$P" xml >"$work/out" 2>"$work/err"
check "100,000 nested elements" "1 KL_ERROR_XML_INVALID_NESTING" "$? $(cat "$work/err")"
python3 -c "print('<a>'*256+'</a>'*256)" | "$P" xml --indent 1 | xmllint --noout - 2>"$work/lint"
check "256 nested elements" "0 " "$? $(head -1 "$work/lint")"

# Whatever bytes a text holds, the output is well-formed and keeps valid UTF-8 as it is.
printf '<a x="\xff\xc3">caf\xc3\xa9 \xc3 \xed\xa0\x80 \x1b ok</a>' | "$P" xml >"$work/replaced"
xmllint --noout "$work/replaced" 2>"$work/lint"
check "invalid bytes replaced" "0 " "$? $(head -1 "$work/lint")"
if grep -q "café" "$work/replaced"; then pass "valid UTF-8 kept"; else fail "valid UTF-8 kept" "$(cat "$work/replaced")"; fi

e2e_finish "klprobe xml"
