#!/usr/bin/env bash
# The web file manager's page in headless Chromium (Playwright) against `webserve uploader`.
#
#   uploader_browser.sh WEBSERVE ARTIFACTS_DIR
#
# Installs the npm packages of tests/e2e when they are missing. Exits 77 (skipped) when Chromium or
# Node.js is missing, except under CI, where that is a failure.
set -euo pipefail

webserve=$1
artifacts=$2
here=$(cd "$(dirname "$0")" && pwd)

missing() {
  echo "uploader_browser: $1" >&2
  if [ -n "${CI:-}" ]; then exit 1; fi
  exit 77
}

chromium_path=$(command -v chromium || true)
[ -n "$chromium_path" ] || missing "chromium is not installed (apt-get install chromium)"
command -v node >/dev/null || missing "node is not installed"

if [ ! -f "$here/node_modules/playwright-core/package.json" ]; then
  if ! command -v npm >/dev/null && [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm >&2 || true
  fi
  command -v npm >/dev/null || missing "npm is not installed"
  echo "uploader_browser: installing the npm packages of tests/e2e"
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error)
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/lanyard-uploader-browser-XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ] && kill -0 "$server_pid" 2>/dev/null; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir "$work/share"
"$webserve" uploader "$work/share" 0 --localhost >"$work/server.out" 2>"$work/server.err" &
server_pid=$!

url=""
for _ in $(seq 1 100); do
  url=$(sed -n 's/^listening on //p' "$work/server.out")
  [ -n "$url" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$url" ]; then
  echo "uploader_browser: webserve did not start" >&2
  cat "$work/server.err" >&2
  exit 1
fi

status=0
timeout 240 node "$here/uploader_browser.mjs" "$url" "$work/share" "$artifacts" "$chromium_path" || status=$?

# The server must stop cleanly (under the sanitizers a leak or an error fails here).
kill -TERM "$server_pid"
server_status=0
wait "$server_pid" || server_status=$?
server_pid=""
if [ "$server_status" -ne 0 ]; then
  echo "uploader_browser: webserve exited with status $server_status" >&2
  cat "$work/server.err" >&2
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "uploader_browser: screenshots in $artifacts"
fi
exit "$status"
