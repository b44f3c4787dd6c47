#!/bin/sh
# Full volume rendering frame time of Kestrel beside VTK's CPU ray caster, from one run.
# Usage: bench/compare_full.sh [build-dir] [extra options of vtk_full_peer.py]
exec "$(dirname "$0")/compare_peer.sh" full "$@"
