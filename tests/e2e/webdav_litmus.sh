#!/usr/bin/env bash
# End-to-end check of `webserve webdav` with litmus, the WebDAV protocol test suite: all five
# suites (basic, copymove, props, locks, http) run against a temporary folder, once plainly and once
# behind Digest authentication; the pass and fail
# counts of each suite are printed, and every failure must be one of the expected failures below,
# each with the rule of this server that explains it.
#
# usage: webdav_litmus.sh PATH-TO-WEBSERVE
set -uo pipefail
. "$(dirname "$0")/e2e_lib.sh"

command -v litmus >/dev/null || { echo "litmus is not installed" >&2; exit 1; }
e2e_init "${1:?usage: webdav_litmus.sh PATH-TO-WEBSERVE}"

# suite/number.test  reason
expected_failures=$(cat <<'LIST'
copymove/8.copy_shallow	COPY accepts only "Depth: infinity" (absent means infinity); "Depth: 0" of a collection is answered 400 "Unsupported 'Depth' header: 0"
props/3.propfind_invalid2	PROPFIND bodies are read by libxml2 in recover mode, which accepts the empty namespace declaration litmus sends; the request is answered 207 rather than 400
props/6.propset	class 1 server without PROPPATCH (dead properties are not stored): PROPPATCH answers 405
props/26.propmanyns	class 1 server without PROPPATCH: PROPPATCH answers 405
props/27.propget	follows propmanyns: the properties PROPPATCH would have set are absent
LIST
)

# check_litmus NAME [USER PASSWORD]: litmus against a fresh server (behind Digest authentication
# when a user is given), its results by suite and every failure checked against the list.
check_litmus() {
  local name=$1
  shift
  e2e_start_webserve "$name" webdav "$work/$name" ${1:+--auth digest "$1" "$2"}
  mkdir -p "$work/$name-logs"
  # litmus writes debug.log and child.log in its working folder
  (cd "$work/$name-logs" && TESTS="basic copymove props locks http" timeout 400 litmus --keep-going "$url/" "$@" \
    >litmus.log 2>&1)
  echo "litmus ($name) exited with status $?"
  python3 - "$work/$name-logs/litmus.log" "$expected_failures" <<'PY'
import re
import sys

log = open(sys.argv[1], encoding="utf-8", errors="replace").read()
expected = {}
for line in sys.argv[2].splitlines():
    if line.strip():
        key, reason = line.split("\t", 1)
        expected[key] = reason

suite = None
last_test = None
results = []  # (suite, "n.name", outcome, detail)
summaries = {}
for line in log.splitlines():
    m = re.match(r"-> running `(\w+)':", line)
    if m:
        suite = m.group(1)
        continue
    m = re.match(r"<- summary for `(\w+)': of (\d+) tests run: (\d+) passed, (\d+) failed", line)
    if m:
        summaries[m.group(1)] = (int(m.group(2)), int(m.group(3)), int(m.group(4)))
        continue
    # Each test line shows "N. name....." (twice when output is not a terminal), then the outcome,
    # possibly on a continuation line after warnings.
    names = re.findall(r"(\d+)\. (\w+)\.+", line)
    if names:
        last_test = "%s.%s" % names[-1]
    m = re.search(r"\.\s(pass|FAIL|SKIPPED)\b(.*)$", line)
    if m and suite and last_test:
        results.append((suite, last_test, m.group(1), m.group(2).strip()))
    w = re.search(r"WARNING: (.*)$", line)
    if w and suite and last_test:
        results.append((suite, last_test, "WARNING", w.group(1)))

unexpected = []
seen_expected = set()
print("\nlitmus results by suite:")
for name in ["basic", "copymove", "props", "locks", "http"]:
    if name not in summaries:
        print("  %-9s did not run" % name)
        unexpected.append("%s: suite did not run" % name)
        continue
    run, passed, failed = summaries[name]
    skipped = sum(1 for r in results if r[0] == name and r[2] == "SKIPPED")
    print("  %-9s %2d run, %2d passed, %d failed, %2d skipped" % (name, run, passed, failed, skipped))
for suite_name, test, outcome, detail in results:
    key = "%s/%s" % (suite_name, test)
    if outcome == "FAIL":
        if key in expected:
            seen_expected.add(key)
            print("  expected failure %-28s %s\n      because: %s" % (key, detail, expected[key]))
        else:
            unexpected.append("%s %s" % (key, detail))
    elif outcome == "WARNING":
        print("  warning          %-28s %s" % (key, detail))
print("  note: the locks suite runs only its first tests: litmus is not a macOS client, so the server"
      " answers \"DAV: 1\" (class 1) and refuses LOCK, as it does for every client but WebDAVFS/WebDAVLib")
print("  note: the props tests after propset are skipped by litmus because PROPPATCH is not supported")
for key in sorted(set(expected) - seen_expected):
    print("  note: expected failure %s did not fail" % key)
if unexpected:
    print("\nUNEXPECTED litmus failures:")
    for item in unexpected:
        print("  " + item)
    sys.exit(1)
print("\nno unexpected litmus failures")
PY
  [ $? -eq 0 ] || { fail "litmus ($name)"; echo "--- litmus output"; cat "$work/$name-logs/litmus.log"; }
  e2e_stop "$name"
}

check_litmus webdav
# Again behind Digest authentication: neon answers with qop=auth and a new nc per request.
check_litmus digest u p

e2e_finish litmus
