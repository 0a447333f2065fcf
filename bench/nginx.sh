# SPDX-License-Identifier: Apache-2.0
# Sourced by the benchmark scripts: starts nginx on loopback with its own configuration in
# a scratch folder, and stops it by process id.
#   start_nginx DIR LISTEN [EXTRA]   serves DIR/www on LISTEN ("addr:port"); EXTRA goes into
#                                    the server block; sets NGINX_PID
#   stop_nginx
NGINX_PID=""

start_nginx() {
  local dir=$1 listen=$2 extra=${3:-}
  mkdir -p "$dir/www" "$dir/logs"
  cat >"$dir/nginx.conf" <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  client_body_temp_path $dir/logs/body;
  proxy_temp_path $dir/logs/proxy;
  fastcgi_temp_path $dir/logs/fastcgi;
  uwsgi_temp_path $dir/logs/uwsgi;
  scgi_temp_path $dir/logs/scgi;
  server {
    listen $listen;
    root $dir/www;
    $extra
  }
}
CONF
  nginx -e "$dir/logs/error.log" -p "$dir" -c "$dir/nginx.conf" -g 'daemon off;' &
  NGINX_PID=$!
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://$listen/" && return 0
    sleep 0.05
  done
  echo "nginx did not start on $listen" >&2
  return 1
}

stop_nginx() {
  if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
  NGINX_PID=""
}
