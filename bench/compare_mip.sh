#!/bin/sh
# MIP frame time of Kestrel beside VTK's CPU ray caster, from one run.
# Usage: bench/compare_mip.sh [build-dir] [extra options of vtk_mip_peer.py]
# Needs bench_MipBench built in the build directory (default: build) and
# python3-vtk9. Without a DISPLAY it starts its own Xvfb on :93.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
[ $# -gt 0 ] && shift
bench="$build/bin/bench_MipBench"
if [ ! -x "$bench" ]; then
    echo "compare_mip.sh: $bench not found; build the target bench_MipBench first" >&2
    exit 2
fi
xvfb_pid=
if [ -z "${DISPLAY:-}" ]; then
    Xvfb :93 -screen 0 1280x1024x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
    export DISPLAY=:93
    sleep 1
fi
# The Debian VTK bindings belong to the system interpreter.
/usr/bin/python3 "$here/vtk_mip_peer.py" --bench "$bench" "$@"
