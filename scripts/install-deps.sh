#!/usr/bin/env bash
# Installs the Debian packages Kestrel needs to build, test and benchmark.
# Idempotent: packages already present are left alone, so a warm machine
# skips apt entirely.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libglew-dev freeglut3-dev libgl-dev libglu1-mesa-dev libx11-dev libpng-dev
  libgdcm-dev libnifti2-dev libteem-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libimgui-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth libgl1-mesa-dri xdotool x11-utils
  pybind11-dev python3-dev python3-numpy python3-pytest python3-pip python3-setuptools
  python3-wheel
)
if [ "${KESTREL_WITH_PEER:-0}" = 1 ]; then
  packages+=(python3-vtk9 python3-numpy)
fi
# VTK, ParaView and MPI for the VTK mapper and the ParaView plugin (scripts/test.sh).
if [ "${KESTREL_WITH_PARAVIEW:-0}" = 1 ]; then
  packages+=(paraview paraview-dev libvtk9-dev openmpi-bin libopenmpi-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
