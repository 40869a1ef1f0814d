#!/usr/bin/env bash
# klprobe's file and stream commands against the shell's own tools: copy (whole and windows),
# lines, ls, stat, mkdir and a recursive rm next to a symbolic link that leads outside.
#   keel_files_e2e.sh PATH-TO-KLPROBE
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"
e2e_init "$1"
P=$(realpath "$1")
cd "$work"

expect_output() { # expect_output WHAT EXPECTED COMMAND...
  local what=$1 expected=$2 actual
  shift 2
  actual=$("$@" 2>&1) || true
  [ "$actual" = "$expected" ] || fail "$what" "expected [$expected], got [$actual]"
}

# copy: 100 MiB whole, then windows against dd.
head -c $((100 * 1024 * 1024)) /dev/urandom >big
expect_output "copy reports the bytes" "104857600" "$P" copy big big2
cmp -s big big2 || fail "copy of 100 MiB differs"
expect_output "copy of a window" "65537" "$P" copy big part 1000 65537
dd if=big of=part.ref bs=1 skip=1000 count=65537 status=none
cmp -s part part.ref || fail "copied window differs"
head -c 10 /dev/urandom >small
status=0
"$P" copy small short 0 20 >/dev/null 2>short.err || status=$?
{ [ "$status" -eq 1 ] && grep -qx KL_ERROR_EOS short.err; } || fail "a short input ends a sized copy with KL_ERROR_EOS" "status $status"
cmp -s small short || fail "the short copy keeps what it got"
status=0
"$P" copy missing x >/dev/null 2>missing.err || status=$?
{ [ "$status" -eq 1 ] && grep -qx KL_ERROR_NO_SUCH_FILE missing.err; } || fail "copy of a missing file" "status $status"

# lines: CR handling, the last line without an end, and the size limit.
printf 'a\r\nb\rc\n' >f
expect_output "lines --cr" $'[a]\n[b]\n[c]' "$P" lines --cr f
expect_output "lines" $'[a]\n[bc]' "$P" lines f
printf 'one\n\nlast' >g
expect_output "lines with an empty and an unterminated line" $'[one]\n[]\n[last]' "$P" lines g
printf 'abcdefgh\n' >long
expect_output "lines over the limit" "KL_ERROR_NOT_ENOUGH_SPACE" "$P" lines --max 4 long

# mkdir, ls, stat.
"$P" mkdir -p m/n/o || fail "mkdir -p"
[ -d m/n/o ] || fail "mkdir -p made no m/n/o"
"$P" mkdir m/n/o || fail "mkdir of an existing directory"
expect_output "mkdir without -p under a missing parent" "KL_ERROR_NO_SUCH_FILE" "$P" mkdir q/r
for i in 1 2 3 4 5; do : >"m/e$i"; done
[ "$("$P" ls m | sort | tr '\n' ' ')" = "e1 e2 e3 e4 e5 n " ] || fail "ls lists the entries"
[ "$("$P" ls m 2 3 | wc -l)" -eq 3 ] || fail "ls window of 3"
[ "$("$P" ls m 5 0 | wc -l)" -eq 1 ] || fail "ls from the sixth entry"
expect_output "stat of a file" "type=1 size=104857600 modified=$(stat -c %Y big)" "$P" stat big
expect_output "stat of a directory" "type=2 size=$(stat -c %s m) modified=$(stat -c %Y m)" "$P" stat m
expect_output "stat of a missing path" "KL_ERROR_NO_SUCH_FILE" "$P" stat nothing

# rm -r leaves what a link inside the tree points to.
mkdir -p d/sub out
touch out/keep d/sub/file
ln -s "$PWD/out" d/link
ln -s "$PWD/out" d/sub/link
"$P" rm -r d || fail "rm -r"
[ ! -e d ] || fail "rm -r left d"
[ -f out/keep ] || fail "rm -r emptied the link's target"
mkdir full && touch full/x
expect_output "rm of a non-empty directory" "KL_ERROR_DIRECTORY_NOT_EMPTY" "$P" rm full

e2e_finish "keel file"
