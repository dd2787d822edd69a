#!/usr/bin/env bash
# Starts or stops the test web server (nginx) and proxy (tinyproxy) on 127.0.0.1.
#   servers.sh start|stop STATE_DIR
# Each takes a free port, so builds on one machine do not collide; the tests read
# the addresses (127.0.0.1:PORT) from STATE_DIR/http.address and proxy.address.
# Configs, pid files, logs and the served files all live in STATE_DIR.
set -euo pipefail

usage() { echo "usage: $0 start|stop STATE_DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
action=$1
state=$2
http_port=
proxy_port=
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C

fail() { echo "servers.sh: $*" >&2; exit 1; }

# True while something accepts connections on 127.0.0.1:$1.
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# A random port nothing listens on, below Linux's default range for outgoing
# connections (32768-60999), whose sockets would hold it without listening.
free_port() {
  local port i
  for ((i = 0; i < 50; i++)); do
    port=$((20000 + RANDOM % 12768))
    port_open "$port" || { echo "$port"; return 0; }
  done
  return 1
}

# True when process $1 itself listens on 127.0.0.1:$2, not some other program
# that took the port first.
listens() {
  local inode fd
  inode=$(awk -v address="$(printf '0100007F:%04X' "$2")" \
    '$2 == address && $4 == "0A" { print $10; exit }' /proc/net/tcp)
  [ -n "$inode" ] || return 1
  for fd in /proc/"$1"/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "socket:[$inode]" ] && return 0
  done
  return 1
}

# The pid in file $1 if that process is alive and was started on our state
# folder (a pid file can outlive its process, and the pid be reused).
our_pid() {
  local pid
  [ -f "$1" ] || return 1
  pid=$(tr -dc 0-9 <"$1")
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$state/" || return 1
  echo "$pid"
}

# True while process $1 runs (a zombie waiting for init to reap it does not).
alive() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# Stops the process named by pid file $1, its children too if it must be killed.
stop_one() {
  local pid children i
  pid=$(our_pid "$1") || { rm -f "$1"; return 0; }
  children=$(pgrep -P "$pid" || true)
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 100; i++)); do
    alive "$pid" || break
    sleep 0.1
  done
  if alive "$pid"; then
    echo "servers.sh: $1: process $pid ignored TERM, killing it" >&2
    kill -KILL "$pid" $children 2>/dev/null || true
  fi
  rm -f "$1"
}

stop_all() {
  stop_one "$state/nginx.pid"
  stop_one "$state/tinyproxy.pid"
  rm -f "$state/http.address" "$state/proxy.address"
}

# Copies template $1 to $2 with the @...@ values filled in.
fill() {
  local text user_line=$3
  text=$(<"$1")
  text=${text//@STATE_DIR@/"$state"}
  text=${text//@HTTP_PORT@/"$http_port"}
  text=${text//@PROXY_PORT@/"$proxy_port"}
  text=${text//@USER_LINE@/"$user_line"}
  printf '%s\n' "$text" >"$2"
}

# A small JPEG-looking file: SOI, a JFIF header, a comment naming the tile, EOI.
write_jpeg() {
  local file=$1 label=$2 comment length
  comment=$(printf '%s ' "$label" "$label" "$label" "$label" "$label" "$label" "$label" "$label")
  length=$((${#comment} + 2))
  {
    printf '\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00'
    printf "\\xFF\\xFE\\x$(printf %02x $((length >> 8)))\\x$(printf %02x $((length & 255)))"
    printf '%s' "$comment"
    printf '\xFF\xD9'
  } >"$file"
}

# The tiles of zoom $1, columns $2..$3, rows $4..$5, in tiles/Z/X/Y.jpg.
write_tiles() {
  local x y
  for ((x = $2; x <= $3; x++)); do
    mkdir -p "$state/tiles/$1/$x"
    for ((y = $4; y <= $5; y++)); do
      write_jpeg "$state/tiles/$1/$x/$y.jpg" "Meridane test tile z=$1 x=$x y=$y"
    done
  done
}

generate_content() {
  rm -rf "$state/tiles" "$state/content"
  mkdir -p "$state/content" "$state/tmp"
  write_tiles 10 843 852 388 397
  # Zoom 11 belongs to the main-window tests alone, so they can count their
  # requests in the access log: columns 1700..1705, rows 780..789 (60 tiles).
  write_tiles 11 1700 1705 780 789
  # Zoom 13 belongs to the crash test: columns 6000..6019, rows 3000..3011 (240
  # tiles), one of which answers 500 (nginx.conf.in).
  write_tiles 13 6000 6019 3000 3011
  write_jpeg "$state/content/tile.jpg" "Meridane test image"
  printf '<html><head><title>Not a tile</title></head><body>Not a tile</body></html>\n' >"$state/content/text"
  : >"$state/content/empty"
}

# Waits until the server of pid file $1 (or process $3 before that file is
# written) listens on port $2. Returns 1 when the server died, as it does when
# another program bound the port first, and 2 when it neither died nor listened.
wait_listening() {
  local pid i
  for ((i = 0; i < 100; i++)); do
    pid=$(our_pid "$1") || pid=${3:-}
    if [ -n "$pid" ]; then
      listens "$pid" "$2" && return 0
      alive "$pid" || return 1
    fi
    sleep 0.1
  done
  return 2
}

# Starts nginx on port $1; fails when it could not bind.
start_nginx() {
  http_port=$1
  fill "$here/nginx.conf.in" "$state/nginx.conf" "$nginx_user"
  pid=
  "$nginx_bin" -p "$state/" -c "$state/nginx.conf" -e "$state/error.log" 2>/dev/null
}

# Starts tinyproxy on port $1. As a daemon it forks before it binds and reports
# a taken port to nobody, so it runs in the foreground in a session of its own.
start_tinyproxy() {
  proxy_port=$1
  fill "$here/tinyproxy.conf.in" "$state/tinyproxy.conf" "$tinyproxy_user"
  setsid tinyproxy -d -c "$state/tinyproxy.conf" </dev/null >>"$state/tinyproxy.out" 2>&1 &
  pid=$!
}

# Starts server $1 on a free port and writes its address into $state/$2.address.
# Another run may take the port between the check and the bind; then the server
# exits and a new port is tried.
launch() {
  local name=$1 log=$state/$1.log try result=1 port=none
  [ "$name" = nginx ] && log=$state/error.log
  for ((try = 0; try < 10 && result == 1; try++)); do
    port=$(free_port) || break
    result=1
    if "start_$name" "$port"; then
      result=0
      wait_listening "$state/$name.pid" "$port" "$pid" || result=$?
    fi
    if [ "$result" -eq 0 ]; then
      echo "127.0.0.1:$port" >"$state/$2.address"
      return 0
    fi
    stop_one "$state/$name.pid"
    [ -n "$pid" ] && alive "$pid" && { kill -KILL "$pid" 2>/dev/null || true; }
  done
  echo "servers.sh: $name did not listen on 127.0.0.1 (last port tried: $port)" >&2
  [ -f "$log" ] && tail -n 20 "$log" >&2
  [ -f "$state/$name.out" ] && tail -n 20 "$state/$name.out" >&2
  stop_all
  exit 1
}

start() {
  command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || fail "nginx is not installed"
  command -v tinyproxy >/dev/null || fail "tinyproxy is not installed"
  mkdir -p "$state"
  state=$(cd "$state" && pwd)
  stop_all  # left over from a run that never stopped them

  generate_content
  rm -f "$state/access.log" "$state/error.log" "$state/tinyproxy.log" "$state/tinyproxy.out"
  # As root nginx would hand its workers to an unprivileged user, who may not
  # be able to read a build tree under /root.
  nginx_user=
  tinyproxy_user=
  if [ "$(id -u)" -eq 0 ]; then
    nginx_user="user root;"
    tinyproxy_user=$'User root\nGroup root'
  fi
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

  launch nginx http
  launch tinyproxy proxy
  echo "servers.sh: nginx on 127.0.0.1:$http_port, tinyproxy on 127.0.0.1:$proxy_port, state in $state"
}

case $action in
  start) start ;;
  stop)
    [ -d "$state" ] || exit 0
    state=$(cd "$state" && pwd)
    stop_all
    ;;
  *) usage ;;
esac
