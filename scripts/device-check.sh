#!/usr/bin/env bash
# The GPU check, for a machine with an NVIDIA GPU and the CUDA toolkit under /usr/local/cuda:
#   1. builds Kestrel with the CUDA back end of KestrelCUDA (build/device, Release, for the
#      device's own architecture);
#   2. runs the KestrelCUDA kernel tests and the GPU scene tests on the CUDA back end: each GPU
#      scene's frame equals its CPU twin's within 1e-4 per float channel (the twin tests), and
#      the GPU scenes' coarse and refined frames behave as the CPU scenes' do;
#   3. runs bench_GpuBench on a 512^3 phantom (GPU scene against CPU twin, 512 x 512) and
#      kestrel-render --gpu on the same phantom at 1024 x 1024 (median of 12 views);
#   4. prints one summary line per view (MIP, isosurface, full).
# Without a device it stops at once with one line and exit status 1. Everything it writes stays
# under build/device*; the whole run is meant to finish within 8 minutes on a 16-core machine.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$KESTREL_ROOT"

fail() {
  echo "device-check: $*" >&2
  exit 1
}

START=$SECONDS
NVCC=/usr/local/cuda/bin/nvcc
command -v nvidia-smi >/dev/null 2>&1 || fail "no NVIDIA driver (nvidia-smi not found): run this on a machine with an NVIDIA GPU"
GPU=$(nvidia-smi --query-gpu=name,compute_cap --format=csv,noheader 2>/dev/null | head -1) || true
[ -n "$GPU" ] || fail "no CUDA device: nvidia-smi lists none"
[ -x "$NVCC" ] || fail "no CUDA compiler at $NVCC"
ARCH=$(echo "$GPU" | awk -F', *' '{gsub(/\./, "", $2); print $2}')
echo "== device: $GPU (architecture $ARCH), $(nproc) cores"

DIR=build/device
LOG=build/device.log
mkdir -p "$DIR"
: >"$LOG"
echo "== build with the CUDA back end ($DIR)"
cmake -S . -B "$DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_CUDA=ON \
  -DCMAKE_CUDA_COMPILER="$NVCC" -DKESTREL_CUDA_ARCHITECTURE="$ARCH" -DKESTREL_BUILD_PYTHON=OFF \
  >>"$LOG" 2>&1 || { tail -30 "$LOG"; fail "configure failed (log: $LOG)"; }
cmake --build "$DIR" -j "$KESTREL_JOBS" --target kestrel_test_cuda kestrel_test_scene \
  bench_GpuBench kestrel-render >>"$LOG" 2>&1 || { tail -30 "$LOG"; fail "build failed (log: $LOG)"; }
echo "   built in $((SECONDS - START)) s"

kestrel_start_xvfb  # the scene tests draw through GL
BIN=$DIR/bin

# run_tests <name> <binary> <filter>: one gtest run; prints and keeps "passed N" / "FAILED ..."
declare -A TESTS
run_tests() {
  local log="$DIR/test.$1.log"
  if "$BIN/$2" --gtest_filter="$3" >"$log" 2>&1; then
    TESTS[$1]="tests passed $(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log")"
  else
    TESTS[$1]="TESTS FAILED: $(grep -E '^\[  FAILED  \] [A-Za-z]' "$log" | sed 's/\[  FAILED  \] //;s/ (.*//' |
      sort -u | tr '\n' ' ')"
  fi
}
echo "== GPU kernel and scene tests on the CUDA back end"
run_tests kernels kestrel_test_cuda '*'
run_tests mip kestrel_test_scene \
  'CUDASceneTwins.MIP*:CUDASceneFrame/0.*:CUDAMIPVRScene*:InteractiveQuality/3.*'
run_tests iso kestrel_test_scene \
  'CUDASceneTwins.Isosurface*:CUDASceneFrame/1.*:CUDAIsosurfaceVRScene*:InteractiveQuality/4.*'
run_tests full kestrel_test_scene \
  'CUDASceneTwins.*Full*:CUDASceneTwins.Preintegrated*:CUDASceneFrame/2.*:CUDAFullVRScene*:InteractiveQuality/5.*'
echo "   kernels: ${TESTS[kernels]}"

echo "== bench_GpuBench, 512^3 phantom, 512 x 512"
BENCH=$DIR/gpubench.txt
KESTREL_GPU_BENCH_SIZE=512 "$BIN/bench_GpuBench" --benchmark_counters_tabular=false >"$BENCH" 2>&1 ||
  { tail -20 "$BENCH"; fail "bench_GpuBench failed"; }
# bench <case>: "median_ms label" of one row, e.g. "3.21 cuda"
bench() {
  awk -v name="$1/" 'index($1, name) == 1 {
    for (i = 1; i <= NF; ++i) if ($i ~ /^median_ms=/) { sub(/median_ms=/, "", $i); m = $i }
    print m, $NF; exit }' "$BENCH"
}
grep -q ' host$' "$BENCH" && fail "the GPU scenes ran on the host back end: no device answered (see $BENCH)"

echo "== kestrel-render --gpu, 512^3 phantom, 1024 x 1024, 12 views"
# render <view>: the median frame time of 12 views
render() {
  "$BIN/kestrel-render" --view "$1" --gpu --phantom-size 512 --size 1024x1024 --frames 12 \
    --output "$DIR/render-$1.png" 2>&1 | sed -nE 's/.*median ([0-9.]+) ms.*/\1/p'
}

summary() {  # summary <label> <view> <bench name> <test key>
  local gpu cpu ratio big
  read -r gpu _ <<<"$(bench "$3/gpu")"
  read -r cpu _ <<<"$(bench "$3/cpu")"
  ratio=$(awk -v g="$gpu" -v c="$cpu" 'BEGIN { if (g > 0) printf "%.1f", c / g; else print "?" }')
  big=$(render "$2")
  printf 'device-check %-10s %s; 512^3 at 512x512: GPU %s ms, CPU twin %s ms (x%s); at 1024x1024: GPU %s ms\n' \
    "$1:" "${TESTS[$4]}" "${gpu:-?}" "${cpu:-?}" "$ratio" "${big:-?}"
}
summary MIP mip MIP mip
summary isosurface iso Iso iso
summary full full Full full
read -r preint _ <<<"$(bench "Full/gpu-preint")"
echo "device-check full, pre-integrated: 512^3 at 512x512: GPU ${preint:-?} ms"
echo "device-check: done in $((SECONDS - START)) s (logs under $DIR)"
for key in kernels mip iso full; do
  case ${TESTS[$key]} in TESTS\ FAILED*) exit 1 ;; esac
done
