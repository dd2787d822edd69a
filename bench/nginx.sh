# Sourced by the benchmark scripts: nginx on 127.0.0.1:PORT serving STATE/www,
# its pid, logs and temporary files in STATE, with any extra server lines.
# start_nginx STATE PORT [EXTRA_SERVER_LINES]
start_nginx() {
  local state=$1 port=$2 extra=${3:-} user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  mkdir -p "$state/logs" "$state/tmp" "$state/www"
  cat >"$state/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $state/nginx.pid;
error_log $state/logs/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  keepalive_requests 1000000;
  client_body_temp_path $state/tmp; proxy_temp_path $state/tmp; fastcgi_temp_path $state/tmp;
  uwsgi_temp_path $state/tmp; scgi_temp_path $state/tmp;
  server { listen 127.0.0.1:$port; root $state/www; $extra }
}
CONF
  nginx -p "$state" -c "$state/nginx.conf"
}

stop_nginx() { [ -f "$1/nginx.pid" ] && kill "$(cat "$1/nginx.pid")" 2>/dev/null || true; }

median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
