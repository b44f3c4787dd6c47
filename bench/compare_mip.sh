#!/bin/sh
# MIP frame time of Kestrel beside VTK's CPU ray caster, from one run.
# Usage: bench/compare_mip.sh [build-dir] [extra options of vtk_mip_peer.py]
exec "$(dirname "$0")/compare_peer.sh" mip "$@"
