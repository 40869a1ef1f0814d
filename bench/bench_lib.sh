# Helpers shared by the comparison scripts of bench/: a work folder cleaned up at exit, servers
# started on loopback ports the kernel just handed out (webserve and its peers, each with its own
# configuration in the work folder), medians, ratios and load runs. Source it after `set -euo pipefail`.

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_work=$(mktemp -d "${TMPDIR:-/tmp}/lanyard-bench-XXXXXX")
chmod 755 "$bench_work" # the peers' workers may run as another user
bench_pids=()

bench_cleanup() {
  local pid
  for pid in "${bench_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$bench_work"
}
trap bench_cleanup EXIT

bench_die() {
  echo "$*" >&2
  exit 1
}

# bench_need COMMAND PACKAGES: fails with the install line when COMMAND is missing.
bench_need() {
  command -v "$1" >/dev/null || [ -x "$1" ] || bench_die "$1 is needed: apt-get install $2"
}

bench_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# bench_wait_http URL NAME: waits up to 10 s for any answer.
bench_wait_http() {
  local _
  for _ in $(seq 100); do
    curl -s -o /dev/null --max-time 1 "$1" && return 0
    sleep 0.1
  done
  bench_die "$2 did not start at $1"
}

# bench_start_webserve MODE FOLDER [ARGS...]: starts `webserve MODE FOLDER 0 --localhost ARGS...`;
# sets webserve_url.
bench_start_webserve() {
  local out="$bench_work/webserve-$1.out" _
  "$webserve" "$1" "$2" 0 --localhost "${@:3}" >"$out" 2>"$bench_work/webserve-$1.err" &
  bench_pids+=($!)
  webserve_url=""
  for _ in $(seq 100); do
    webserve_url=$(sed -n 's#^listening on \(http://[^/]*\).*#\1#p' "$out")
    [ -z "$webserve_url" ] || return 0
    sleep 0.1
  done
  cat "$bench_work/webserve-$1.err" >&2
  bench_die "webserve $1 did not start"
}

# bench_start_nginx ROOT WORKERS [EXTRA-SERVER-DIRECTIVES]: nginx in the foreground with its own
# configuration (sendfile on, tcp_nopush off, no access log); sets nginx_url.
bench_start_nginx() {
  local root=$1 workers=$2 extra=${3:-} port dir
  bench_need nginx nginx-light
  port=$(bench_free_port)
  dir="$bench_work/nginx-$port"
  mkdir -p "$dir/tmp"
  cat >"$dir/nginx.conf" <<CONF
daemon off;
master_process on;
worker_processes $workers;
worker_rlimit_nofile 20000;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 8192; }
http {
  access_log off;
  sendfile on;
  tcp_nopush off;
  default_type application/octet-stream;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  server { listen 127.0.0.1:$port backlog=4096; root $root; $extra }
}
CONF
  nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
  bench_pids+=($!)
  nginx_url="http://127.0.0.1:$port"
  bench_wait_http "$nginx_url/" nginx
}

# bench_start_lighttpd ROOT [webdav]: lighttpd in the foreground (mod_webdav read-write when asked);
# sets lighttpd_url.
bench_start_lighttpd() {
  local root=$1 webdav=${2:-} port dir
  bench_need lighttpd lighttpd
  port=$(bench_free_port)
  dir="$bench_work/lighttpd-$port"
  mkdir -p "$dir/tmp"
  {
    if [ -n "$webdav" ]; then
      [ -e /usr/lib/lighttpd/mod_webdav.so ] || bench_die "mod_webdav is needed: apt-get install lighttpd-mod-webdav"
      echo 'server.modules = ("mod_webdav")'
      echo 'webdav.activate = "enable"'
      echo 'webdav.is-readonly = "disable"'
    fi
    cat <<CONF
server.document-root = "$root"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/error.log"
server.upload-dirs = ("$dir/tmp")
server.max-request-size = 0
server.max-fds = 16384
server.max-connections = 8192
server.listen-backlog = 4096
CONF
  } >"$dir/lighttpd.conf"
  lighttpd -D -f "$dir/lighttpd.conf" >"$dir/out.log" 2>&1 &
  bench_pids+=($!)
  lighttpd_url="http://127.0.0.1:$port"
  bench_wait_http "$lighttpd_url/" lighttpd
}

# bench_start_apache ROOT: Apache httpd (event MPM, workers as www-data, which gets ROOT) with
# mod_dav and mod_dav_fs on ROOT, read-write; sets apache_url.
bench_start_apache() {
  local root=$1 port dir modules=/usr/lib/apache2/modules
  bench_need apache2 apache2
  [ -e "$modules/mod_dav_fs.so" ] || bench_die "mod_dav_fs is needed: apt-get install apache2"
  port=$(bench_free_port)
  dir="$bench_work/apache-$port"
  mkdir -p "$dir/logs" "$dir/lock"
  cat >"$dir/httpd.conf" <<CONF
ServerRoot "$dir"
ServerName 127.0.0.1
Listen 127.0.0.1:$port
PidFile "$dir/httpd.pid"
ErrorLog "$dir/logs/error.log"
LoadModule mpm_event_module $modules/mod_mpm_event.so
LoadModule authz_core_module $modules/mod_authz_core.so
LoadModule dav_module $modules/mod_dav.so
LoadModule dav_fs_module $modules/mod_dav_fs.so
User www-data
Group www-data
DavLockDB "$dir/lock/DavLock"
LimitRequestBody 0
DocumentRoot "$root"
<Directory "$root">
  Dav On
  Require all granted
</Directory>
CONF
  # httpd never serves as root: its workers run as www-data, which must own the shared folder.
  chown -R www-data:www-data "$root" "$dir/lock"
  APACHE_RUN_DIR="$dir" APACHE_LOCK_DIR="$dir/lock" APACHE_LOG_DIR="$dir/logs" \
    apache2 -f "$dir/httpd.conf" -DFOREGROUND >"$dir/out.log" 2>&1 &
  bench_pids+=($!)
  apache_url="http://127.0.0.1:$port"
  bench_wait_http "$apache_url/" apache
}

# bench_median VALUES...: the middle value (the lower middle of an even count).
bench_median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# bench_timed EXPECTED-STATUS CURL-ARGS... URL: seconds of one curl run (fails on another status).
bench_timed() {
  local expected=$1 out
  shift
  out=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' "$@")
  [ "${out%% *}" = "$expected" ] || bench_die "unexpected status ${out%% *} (expected $expected) for: $*"
  echo "${out#* }"
}

# bench_ratio A B: A / B with two decimals.
bench_ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
