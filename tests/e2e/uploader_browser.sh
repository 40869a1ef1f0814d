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
. "$here/e2e_lib.sh"

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

e2e_init "$webserve"
e2e_start_webserve uploader uploader "$work/share"

timeout 240 node "$here/uploader_browser.mjs" "$url" "$work/share" "$artifacts" "$chromium_path" ||
  fail "uploader_browser: the browser checks" "node exited with status $?"

# The main steps again behind Digest authentication: the browser's answers (qop=auth, one nc per
# request, many requests at once) are each taken once.
e2e_start_webserve digest uploader "$work/digest-share" --auth digest u p
timeout 120 node "$here/uploader_browser.mjs" "$url" "$work/digest-share" "$artifacts" "$chromium_path" u:p ||
  fail "uploader_browser: the browser checks behind Digest" "node exited with status $?"
if [ "$failures" -eq 0 ]; then
  echo "uploader_browser: screenshots in $artifacts"
fi
# The server must stop cleanly (under the sanitizers a leak or an error fails here).
e2e_finish uploader_browser
