# Sourced by the benchmark scripts: the build folder, timing helpers, a work
# folder on tmpfs that goes at exit, and tiles of noise to link a task to.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${MERIDANE_BUILD_DIR:-$root/build}

now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc -l; }

# work_folder NAME: a fresh folder in /dev/shm, removed when the script ends.
work_folder() {
  work=$(mktemp -d "/dev/shm/meridane-$1.XXXXXX")
  trap 'rm -rf "$work"' EXIT
}

# Four 256x256 JPEGs of noise, about 30 KB each (more to decode than most real
# tiles), as $work/source1..4.jpg: a task's tiles are hard links to them in turn.
noise_sources() {
  for i in 1 2 3 4; do
    { printf 'P6\n256 256\n255\n'; head -c $((256 * 256 * 3)) /dev/urandom; } | cjpeg -quality 60 >"$work/source$i.jpg"
  done
}

# need_packages PKG...: installs the Debian packages a benchmark runs that are
# missing (the peers it is measured against, the tools that make its tiles).
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -q >/dev/null
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >/dev/null
}
