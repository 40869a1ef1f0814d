# shellcheck shell=bash disable=SC2034 # the globals are read by the scripts that source this file
# Shared by the end-to-end scripts (sourced, not run): a temporary work folder removed on exit,
# failure counting, and servers on loopback ports that must stop cleanly.
#
#   . "$(dirname "$0")/e2e_lib.sh"
#   e2e_init [PROGRAM]                     # sets $work; removes it and stops every server on exit;
#                                          # PROGRAM (checked executable) is $E2E_PROGRAM, and the
#                                          # webserve that e2e_start_webserve runs
#   e2e_start NAME READY-PREFIX COMMAND... # runs COMMAND and waits for its line that begins with
#                                          # READY-PREFIX ("listening on", "device at"); sets $url
#                                          # (the rest of that line, trailing "/" dropped), $port
#                                          # and ${E2E_URL[NAME]}; output in $work/NAME.out and .err
#   e2e_start_webserve NAME MODE FOLDER [ARGS...]
#                                          # e2e_start of `webserve MODE FOLDER 0 --localhost ARGS`
#   fail MESSAGE [DETAIL]                  # prints "FAIL: MESSAGE (DETAIL)" and counts a failure
#   e2e_fetch NAME CURL-ARGS...            # body in $work/NAME.body, head in $work/NAME.head;
#                                          # prints the status (000 when curl gets no answer)
#   e2e_header NAME HEADER                 # the value of a header of that fetch, without CR
#   e2e_await_file FOLDER PATTERN          # waits up to 5 s for a file of FOLDER whose name
#                                          # matches PATTERN (find -name); prints its path
#   e2e_stop NAME                          # stops a server; any unclean stop is a failure
#                                          # (e2e_stop_webserve is the same)
#   e2e_finish WHAT                        # stops the servers left, sums up, exits 0 or 1
#
# A clean stop: the server still runs, exits with status 0 on SIGTERM within 20 s, and wrote
# nothing on standard error (so a sanitizer report fails the script). Safe under set -euo pipefail.

work=""
url=""
port=""
failures=0
E2E_PROGRAM=""
E2E_WEBSERVE=""
E2E_NAMES=() # started servers, in order
declare -A E2E_PID=() E2E_URL=()

e2e_cleanup() {
  local name pid
  for name in "${E2E_NAMES[@]}"; do
    pid=${E2E_PID[$name]:-}
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$work" ]; then rm -rf "$work"; fi
}

e2e_init() {
  E2E_PROGRAM=${1:-}
  E2E_WEBSERVE=$E2E_PROGRAM
  if [ -n "$E2E_PROGRAM" ] && [ ! -x "$E2E_PROGRAM" ]; then
    echo "FAIL: not an executable file: $E2E_PROGRAM" >&2
    exit 1
  fi
  work=$(mktemp -d "${TMPDIR:-/tmp}/lanyard-$(basename "$0" .sh)-XXXXXX")
  trap e2e_cleanup EXIT
}

fail() {
  echo "FAIL: $1${2:+ ($2)}" >&2
  failures=$((failures + 1))
}

e2e_start() {
  local name=$1 prefix=$2
  shift 2
  : >"$work/$name.out"
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  E2E_PID[$name]=$!
  E2E_NAMES+=("$name")
  url=""
  local _ line
  for _ in $(seq 1 200); do
    line=$(awk -v p="$prefix " 'index($0, p) == 1 { print substr($0, length(p) + 1); exit }' "$work/$name.out")
    [ -z "$line" ] || break
    if ! kill -0 "${E2E_PID[$name]}" 2>/dev/null; then
      echo "FAIL: $name server exited early:" >&2
      cat "$work/$name.err" >&2
      exit 1
    fi
    sleep 0.1
  done
  if [ -z "$line" ]; then
    echo "FAIL: $name server did not report \"$prefix\" within 20 s" >&2
    cat "$work/$name.err" >&2
    exit 1
  fi
  url=${line%/}
  port=$(sed -E 's#^[A-Za-z]+://(\[[^]]*\]|[^/:]*):([0-9]+).*#\2#' <<<"$url")
  E2E_URL[$name]=$url
}

e2e_start_webserve() {
  local name=$1 mode=$2 folder=$3
  shift 3
  mkdir -p "$folder"
  e2e_start "$name" "listening on" "$E2E_WEBSERVE" "$mode" "$folder" 0 --localhost "$@"
  echo "started $name server at $url ($mode $folder)"
}

e2e_await_file() {
  local folder=$1 pattern=$2 found="" _
  for _ in $(seq 1 100); do
    found=$(find "$folder" -maxdepth 1 -name "$pattern" | head -1)
    [ -n "$found" ] && break
    sleep 0.05
  done
  echo "$found"
}

e2e_stop() {
  local name=$1 pid=${E2E_PID[$1]:-} status=0 _
  [ -n "$pid" ] || return 0
  E2E_PID[$name]=""
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" || status=$?
    fail "$name server is no longer running" "exit status $status"
  else
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 200); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true # still running after 20 s: a failure below
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$name server exited with status $status on SIGTERM"
  fi
  if [ -s "$work/$name.err" ]; then
    fail "$name server wrote to standard error:"
    cat "$work/$name.err" >&2
  elif [ "$status" -eq 0 ]; then
    echo "$name server stopped cleanly"
  fi
  return 0
}

e2e_stop_webserve() {
  e2e_stop "$@"
}

e2e_finish() {
  local what=$1 name
  for name in "${E2E_NAMES[@]}"; do
    e2e_stop "$name"
  done
  if [ "$failures" -ne 0 ]; then
    echo "$failures $what check(s) failed" >&2
    exit 1
  fi
  echo "all $what checks passed"
  exit 0
}

e2e_fetch() {
  local name=$1
  shift
  curl --silent --show-error --max-time 10 -D "$work/$name.head" -o "$work/$name.body" \
    -w '%{http_code}' "$@" || true
}

e2e_header() {
  sed -n "s/^$2: *//Ip" "$work/$1.head" 2>/dev/null | tr -d '\r' | sed -n 1p
}
