#!/usr/bin/env bash
# End-to-end check of `webserve webdav` with rclone's webdav backend: a small tree (nested folders,
# an empty folder, an empty file, a few MB of random bytes, names with blanks, "&", "#", "%" and
# non-ASCII letters) is copied in and out again and compared byte for byte, a 300 MiB file (which
# rclone fetches in ranged pieces) is copied out, then the tree is changed, synced, and removed.
# Retries are off, so a 500 that rclone would retry shows up as a failure.
#
# usage: webdav_rclone.sh PATH-TO-WEBSERVE
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"

command -v rclone >/dev/null || { echo "rclone is not installed" >&2; exit 1; }
e2e_init "${1:?usage: webdav_rclone.sh PATH-TO-WEBSERVE}"
share="$work/share"
e2e_start_webserve webdav webdav "$share"

export RCLONE_CONFIG="$work/rclone.conf" # never the user's configuration
: >"$RCLONE_CONFIG"
rc() { # rc ARGS...: rclone on the server, without retries, with a time limit
  timeout 120 rclone --webdav-url "$url" --webdav-vendor other --low-level-retries 1 --retries 1 \
    --contimeout 10s --timeout 30s "$@"
}

src="$work/src"
mkdir -p "$src/sub dir/deep" "$src/empty folder" "$src/ünïcödé"
printf 'alpha\n' >"$src/a.txt"
: >"$src/zero length"
head -c 3000000 /dev/urandom >"$src/sub dir/random ü.bin"
printf 'and\n' >"$src/sub dir/deep/x & y #1 100%.txt"
printf 'quote\n' >"$src/ünïcödé/it's \"quoted\".txt"

echo "== copy in"
rc copy "$src" :webdav:tree --create-empty-src-dirs || fail "rclone copy in"
diff -r "$src" "$share/tree" || fail "the shared folder differs from the source tree"

echo "== copy out"
rc copy :webdav:tree "$work/out" --create-empty-src-dirs || fail "rclone copy out"
diff -r "$src" "$work/out" || fail "the tree copied out differs from the source tree"
rc check "$src" :webdav:tree --size-only || fail "rclone check"

echo "== a large file copied out (rclone fetches large files in ranged pieces)"
head -c 300M /dev/urandom >"$share/large.bin"
rc copy -v :webdav:large.bin "$work/large" 2>"$work/large.log" || fail "rclone copy of a 300 MiB file"
grep -q "Multi-thread Copied" "$work/large.log" || fail "rclone did not fetch the large file in pieces"
cmp "$share/large.bin" "$work/large/large.bin" || fail "the large file copied out differs"
rm -rf "$share/large.bin" "$work/large"

echo "== mkdir of an existing folder (answered 405 at once, not retried)"
start=$(date +%s)
rc mkdir ":webdav:tree/sub dir" || fail "rclone mkdir of an existing folder"
[ $(($(date +%s) - start)) -lt 5 ] || fail "rclone mkdir of an existing folder took too long"

echo "== change, sync and move"
printf 'alpha, changed and longer\n' >"$src/a.txt"
rm "$src/zero length"
rc sync "$src" :webdav:tree --create-empty-src-dirs || fail "rclone sync"
diff -r "$src" "$share/tree" || fail "the shared folder differs after the sync"
rc moveto ":webdav:tree/a.txt" ":webdav:tree/sub dir/a moved.txt" || fail "rclone moveto"
cmp -s "$src/a.txt" "$share/tree/sub dir/a moved.txt" || fail "the moved file differs"
[ ! -e "$share/tree/a.txt" ] || fail "a.txt is still there after the move"

echo "== purge"
rc purge :webdav:tree || fail "rclone purge"
[ ! -e "$share/tree" ] || fail "the tree is still there after the purge"
leftovers=$(find "$share" -mindepth 1 | head -n 5)
[ -z "$leftovers" ] || fail "left in the shared folder: $leftovers"

e2e_finish rclone
