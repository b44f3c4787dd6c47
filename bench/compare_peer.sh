#!/usr/bin/env bash
# Frame time of a Kestrel benchmark beside its VTK peer script, from one run.
# Usage: bench/compare_peer.sh <mip|iso|full> [build-dir] [extra options of vtk_<name>_peer.py]
# Needs bench_MipBench, bench_IsoBench or bench_FullBench built in the build directory (default: build) and
# python3-vtk9. Without a DISPLAY it starts its own Xvfb on a free display.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
case "${1:-}" in
    mip) bench_name=MipBench ;;
    iso) bench_name=IsoBench ;;
    full) bench_name=FullBench ;;
    *) echo "usage: compare_peer.sh <mip|iso|full> [build-dir] [peer options]" >&2; exit 2 ;;
esac
peer="$here/vtk_$1_peer.py"
shift
build=${1:-build}
[ $# -gt 0 ] && shift
bench="$build/bin/bench_$bench_name"
if [ ! -x "$bench" ]; then
    echo "compare_peer.sh: $bench not found; build the target bench_$bench_name first" >&2
    exit 2
fi
if [ -z "${DISPLAY:-}" ]; then
    source "$here/../scripts/common.sh"
    kestrel_start_xvfb
fi
# The Debian VTK bindings belong to the system interpreter.
/usr/bin/python3 "$peer" --bench "$bench" "$@"
