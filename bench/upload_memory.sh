#!/usr/bin/env bash
# Uploads a 1 GiB file as a multipart form through `webserve echo` (POST /upload) and reports the
# server's peak memory (GNU time -v) and the upload rate; checks that the stored part has the full
# size. Run by hand after `cmake --preset release && cmake --build --preset release`.
#   bash bench/upload_memory.sh [path/to/webserve] [size in MiB, default 1024]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
webserve=${1:-$root/build/release/tests/tools/webserve/webserve}
size_mib=${2:-1024}
work=$(mktemp -d)
trap 'pkill -P "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$work"' EXIT

head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/big.bin"
mkdir "$work/share"
/usr/bin/time -v -o "$work/time.txt" "$webserve" echo "$work/share" 0 --localhost > "$work/out.txt" 2>&1 &
server=$!
for _ in $(seq 100); do grep -q "listening on" "$work/out.txt" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$work/out.txt")

start=$(date +%s.%N)
reply=$(curl -s -F "files[]=@$work/big.bin" -F path=/ "$url/upload")
end=$(date +%s.%N)
# GNU time ignores SIGINT: stop the server itself.
pkill -INT -P "$server" || true
wait "$server" || true

echo "reply: $reply"
expected=$((size_mib * 1024 * 1024))
echo "$reply" | grep -q "\"size\":$expected" || { echo "FAIL: the stored part is not $expected bytes"; exit 1; }
peak_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
seconds=$(echo "$end - $start" | bc -l)
printf 'upload of %d MiB: %.2f s (%.0f MiB/s), server peak memory %d MiB\n' "$size_mib" "$seconds" \
  "$(echo "$size_mib / $seconds" | bc -l)" $((peak_kib / 1024))
if [ $((peak_kib / 1024)) -ge 64 ]; then
  echo "FAIL: peak memory is not under 64 MiB"
  exit 1
fi
