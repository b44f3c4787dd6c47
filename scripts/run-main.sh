#!/usr/bin/env bash
# Installs what is missing, builds Kestrel and runs its main job: a maximum-intensity
# projection of the built-in head phantom (256^3 uint16) rendered on every core at
# 512 x 512, written to kestrel-mip.png, with the frame time over twelve views.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$KESTREL_ROOT"

"$KESTREL_ROOT/scripts/install-deps.sh"
kestrel_build build/main -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_BUILD_TESTS=OFF \
  -DKESTREL_BUILD_BENCH=OFF

build/main/bin/kestrel-render --view mip --size 512x512 --output kestrel-mip.png --frames 12
echo "wrote $KESTREL_ROOT/kestrel-mip.png"
