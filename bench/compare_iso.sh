#!/bin/sh
# Isosurface frame time of Kestrel beside VTK (flying-edges mesh, GPU ray cast), from one run.
# Usage: bench/compare_iso.sh [build-dir] [extra options of vtk_iso_peer.py]
exec "$(dirname "$0")/compare_peer.sh" iso "$@"
