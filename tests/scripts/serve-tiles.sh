#!/usr/bin/env bash
# scripts/serve-tiles in a state folder and on a port of its own: real 256x256
# JPEG tiles, a different one at each address, at the demo zoom and the
# background zooms; 404 elsewhere; column 13490 answering 500 until "fix"; the
# configuration pointing at the server; nothing listening after "stop".
# Usage: serve-tiles.sh SERVE_TILES BUILD_DIR
set -uo pipefail
serve=$1
export MERIDANE_BUILD_DIR=$2
state=$(mktemp -d)
export MERIDANE_EXAMPLE_DIR=$state/server
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in $(seq 50); do
  PORT=$((20000 + RANDOM % 12768))
  port_open "$PORT" || break
done
export PORT
trap 'bash "$serve" stop; rm -rf "$state"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

bash "$serve" start >/dev/null || { echo "FAIL: the server did not start"; exit 1; }
grep -q "^Host0=127.0.0.1:$PORT"$'\r'"$" "$MERIDANE_EXAMPLE_DIR/config.ini" || fail "config.ini does not name port $PORT"

# zoom x y | status
cases=(
  '14 13485 6205|200'
  '14 13497 6215|200'
  '14 13480 6200|200'
  '14 13490 6205|500'
  '14 13479 6205|404'
  '0 0 0|200'
  '3 6 3|200'
  '8 210 96|200'
  '8 0 0|404'
  '9 421 193|404'
)
get() {  # zoom x y file: prints the status
  curl -s -o "$4" -w '%{http_code}' "http://127.0.0.1:$PORT/kh/v=1&s=Gal&x=$2&y=$3&z=$1"
}
declare -A sums
check() {  # "zoom x y" status
  local key=$1 want=$2 file got sum
  file=$state/got-${key// /-}.jpg
  got=$(get $key "$file")
  [ "$got" = "$want" ] || { fail "$key answered $got, not $want"; return; }
  [ "$want" = 200 ] || return
  # -mm decodes every pixel: a stub that only starts like a JPEG fails here.
  gdalinfo -mm "$file" 2>&1 | grep -q 'Size is 256, 256' || fail "$key is no 256x256 picture"
  gdalinfo -mm "$file" 2>&1 | grep -q 'Computed Min/Max' || fail "$key does not decode"
  sum=$(md5sum <"$file")
  [ -z "${sums[$sum]:-}" ] || fail "$key looks like ${sums[$sum]}"
  sums[$sum]=$key
}
for c in "${cases[@]}"; do check "${c%%|*}" "${c##*|}"; done

bash "$serve" fix >/dev/null
check '14 13490 6205' 200

bash "$serve" stop
port_open "$PORT" && fail "something still listens on $PORT after stop"
exit $failed
