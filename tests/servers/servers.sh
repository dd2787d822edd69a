#!/usr/bin/env bash
# Starts or stops the test web server (nginx) and proxy (tinyproxy) on 127.0.0.1.
#   servers.sh start|stop STATE_DIR HTTP_PORT PROXY_PORT
# Configs, pid files, logs and the served files all live in STATE_DIR.
set -euo pipefail

usage() { echo "usage: $0 start|stop STATE_DIR HTTP_PORT PROXY_PORT" >&2; exit 2; }
[ $# -eq 4 ] || usage
action=$1
state=$2
http_port=$3
proxy_port=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LC_ALL=C

fail() { echo "servers.sh: $*" >&2; exit 1; }

# True while something accepts connections on 127.0.0.1:$1.
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

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

generate_content() {
  local x y
  rm -rf "$state/tiles" "$state/content"
  mkdir -p "$state/content" "$state/tmp"
  for ((x = 843; x <= 852; x++)); do
    mkdir -p "$state/tiles/10/$x"
    for ((y = 388; y <= 397; y++)); do
      write_jpeg "$state/tiles/10/$x/$y.jpg" "Meridane test tile z=10 x=$x y=$y"
    done
  done
  # Zoom 11 belongs to the main-window tests alone, so they can count their
  # requests in the access log: columns 1700..1705, rows 780..789 (60 tiles).
  for ((x = 1700; x <= 1705; x++)); do
    mkdir -p "$state/tiles/11/$x"
    for ((y = 780; y <= 789; y++)); do
      write_jpeg "$state/tiles/11/$x/$y.jpg" "Meridane test tile z=11 x=$x y=$y"
    done
  done
  write_jpeg "$state/content/tile.jpg" "Meridane test image"
  printf '<html><head><title>Not a tile</title></head><body>Not a tile</body></html>\n' >"$state/content/text"
  : >"$state/content/empty"
}

wait_for_port() {
  local name=$1 port=$2 log=$3 i
  for ((i = 0; i < 100; i++)); do
    port_open "$port" && return 0
    sleep 0.1
  done
  echo "servers.sh: $name did not accept connections on 127.0.0.1:$port within 10 s" >&2
  [ -f "$log" ] && tail -n 20 "$log" >&2
  stop_all
  exit 1
}

start() {
  command -v nginx >/dev/null || [ -x /usr/sbin/nginx ] || fail "nginx is not installed"
  command -v tinyproxy >/dev/null || fail "tinyproxy is not installed"
  mkdir -p "$state"
  state=$(cd "$state" && pwd)
  stop_all  # left over from a run that never stopped them
  for port in "$http_port" "$proxy_port"; do
    port_open "$port" && fail "port $port on 127.0.0.1 is already in use by another program"
  done

  generate_content
  rm -f "$state/access.log" "$state/error.log" "$state/tinyproxy.log"
  # As root nginx would hand its workers to an unprivileged user, who may not
  # be able to read a build tree under /root.
  if [ "$(id -u)" -eq 0 ]; then
    fill "$here/nginx.conf.in" "$state/nginx.conf" "user root;"
    fill "$here/tinyproxy.conf.in" "$state/tinyproxy.conf" $'User root\nGroup root'
  else
    fill "$here/nginx.conf.in" "$state/nginx.conf" ""
    fill "$here/tinyproxy.conf.in" "$state/tinyproxy.conf" ""
  fi

  local nginx_bin
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
  "$nginx_bin" -p "$state/" -c "$state/nginx.conf" -e "$state/error.log" || {
    [ -f "$state/error.log" ] && tail -n 20 "$state/error.log" >&2
    fail "nginx did not start"
  }
  tinyproxy -c "$state/tinyproxy.conf" || {
    [ -f "$state/tinyproxy.log" ] && tail -n 20 "$state/tinyproxy.log" >&2
    stop_all
    fail "tinyproxy did not start"
  }
  wait_for_port nginx "$http_port" "$state/error.log"
  wait_for_port tinyproxy "$proxy_port" "$state/tinyproxy.log"
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
