# Shared by the WebDAV end-to-end scripts (sourced, not run): a temporary work folder, a
# `webserve webdav` server on a loopback port sharing $work/share, and failure counting.
#
# After `webdav_start PATH-TO-WEBSERVE`: $work, $share, $url (no trailing slash), $server_pid.

work=$(mktemp -d)
share="$work/share"
server_pid=""
url=""
failures=0

webdav_cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap webdav_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

webdav_start() {
  local webserve=$1
  mkdir -p "$share"
  "$webserve" webdav "$share" 0 --localhost >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  for _ in $(seq 1 100); do
    url=$(sed -n 's/^listening on //p' "$work/server.out" | head -n 1)
    [ -n "$url" ] && break
    if ! kill -0 "$server_pid" 2>/dev/null; then
      echo "webserve exited early:" >&2
      cat "$work/server.err" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [ -z "$url" ]; then
    echo "webserve did not report that it listens" >&2
    exit 1
  fi
  echo "server at $url sharing $share"
}

# Ends the script: stops the server (which must still run, exit cleanly and report nothing on
# standard error, sanitizer reports included) and fails when any check failed.
webdav_finish() {
  local what=$1
  if ! kill -0 "$server_pid" 2>/dev/null; then
    fail "webserve is no longer running"
  else
    kill -TERM "$server_pid"
    wait "$server_pid"
    local status=$?
    [ "$status" = 0 ] || fail "webserve exited with status $status"
  fi
  server_pid=""
  if [ -s "$work/server.err" ]; then
    fail "webserve wrote to standard error:"
    cat "$work/server.err" >&2
  fi
  if [ "$failures" -ne 0 ]; then
    echo "$failures $what check(s) failed" >&2
    exit 1
  fi
  echo "all $what checks passed"
}
