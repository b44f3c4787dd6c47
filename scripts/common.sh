# Shared helpers of the quick-start scripts (sourced, not run).

KESTREL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KESTREL_JOBS=${KESTREL_JOBS:-$(nproc)}

# kestrel_build <build-dir> [cmake options...]: configure and build.
kestrel_build() {
  local dir=$1
  shift
  mkdir -p "$dir"
  cmake -S "$KESTREL_ROOT" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$KESTREL_JOBS"
}

# kestrel_start_xvfb: starts a virtual X server with Mesa's software GL for this
# script and exports DISPLAY; it is stopped when the script exits.
kestrel_start_xvfb() {
  local display=99
  while [ -e "/tmp/.X${display}-lock" ] || [ -e "/tmp/.X11-unix/X${display}" ]; do
    display=$((display + 1))
  done
  Xvfb ":${display}" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  KESTREL_XVFB_PID=$!
  trap 'kill "$KESTREL_XVFB_PID" 2>/dev/null || true' EXIT
  export DISPLAY=":${display}"
  export LIBGL_ALWAYS_SOFTWARE=1
  for _ in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "kestrel: Xvfb did not start on $DISPLAY" >&2
  return 1
}
