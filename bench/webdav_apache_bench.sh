#!/usr/bin/env bash
# WebDAV of `webserve webdav` against Apache httpd's mod_dav (event MPM, its own configuration in
# a temporary folder on 127.0.0.1): PROPFIND Depth 1 of 10,000 entries, GET and PUT of 1 GiB,
# runs alternating, medians and ratios of the times (below 1: webserve is faster). Run by hand on a
# release build:
#   apt-get install apache2
#   bash bench/webdav_apache_bench.sh [path/to/webserve] [file size in MiB, default 1024] [entries, default 10000]
set -euo pipefail
PEER=apache exec bash "$(dirname "$0")/webdav_bench.sh" "$@"
