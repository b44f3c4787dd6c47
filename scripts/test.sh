#!/usr/bin/env bash
# Installs what is missing, builds Kestrel and runs every test:
#   1. release build with strict warnings (with the CUDA back end of KestrelCUDA where nvcc is
#      found), all unit/GL/app tests under Xvfb;
#   2. the example host built against the installed package, and the ParaView plugin built
#      against it: pvbatch pictures serially and under mpirun -np 2 and -np 4 (the VTK mapper's
#      comparison with VTK's ray casters runs with the release tests);
#   3. the same tests built with AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. the kernel and set-up tests built with ThreadSanitizer (the workers share no lock);
#   5. the structured-file reader (30 s) and the DICOM (file bytes, and well-formed series),
#      NIfTI and NRRD readers (15 s each) fuzzed for a bounded time (libFuzzer).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$KESTREL_ROOT"

KESTREL_WITH_PARAVIEW=1 "$KESTREL_ROOT/scripts/install-deps.sh"
kestrel_start_xvfb

# A real scan for the VTK and ParaView comparisons (mricron-data's ch2.nii.gz), and
# python3-paraview for pvbatch (it conflicts with python3-vtk9, so it is unpacked, not installed).
kestrel_unpack_deb() {  # <package> <folder>
  [ -d "$2/usr" ] && return 0
  mkdir -p "$2"
  (cd "$2" && apt-get download -qq "$1" && dpkg -x "$1"_*.deb .)
}
kestrel_unpack_deb mricron-data build/scan-data
kestrel_unpack_deb python3-paraview build/paraview-python
export KESTREL_VTK_SCAN=$KESTREL_ROOT/build/scan-data/usr/share/mricron/templates/ch2.nii.gz

echo "== format check"
git ls-files '*.h' '*.cpp' '*.cu' | xargs clang-format --dry-run --Werror

echo "== release build"
kestrel_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_STRICT_WARNINGS=ON
ctest --test-dir build/release --output-on-failure -j "$KESTREL_JOBS" --timeout 600 |
  tee build/release.ctest.log
release_summary=$(grep -E 'tests passed|tests failed' build/release.ctest.log | tail -1)

echo "== Python package: pip install into build/python-site, then its pytest suite"
# Debian's interpreter (numpy, pybind11 and pytest come from Debian, not from a package index).
rm -rf build/python-site
KESTREL_PYTHON_BUILD_DIR="$KESTREL_ROOT/build/python-package" /usr/bin/python3 -m pip install \
  --no-build-isolation --no-deps --target build/python-site . >build/python-install.log 2>&1 ||
  { tail -40 build/python-install.log; exit 1; }
(KESTREL_RENDER="$KESTREL_ROOT/build/release/bin/kestrel-render" PYTHONPATH=build/python-site \
  /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests || true) | tee build/python.pytest.log
# pytest's closing line, e.g. "2 failed, 40 passed, 1 error in 9.1s"
python_summary=$(tail -1 build/python.pytest.log)
# (awk, not grep: a line without failures must not end the script under pipefail)
python_passed=$(awk '{for (i = 2; i <= NF; i++) if ($i ~ /^passed/) n += $(i - 1)} END {print n + 0}' \
  <<<"$python_summary")
python_failed=$(awk '{for (i = 2; i <= NF; i++) if ($i ~ /^(failed|errors?)/) n += $(i - 1)}
  END {print n + 0}' <<<"$python_summary")
python_passed=${python_passed:-0}
python_failed=${python_failed:-0}
[ "$python_passed" -gt 0 ] || python_failed=$((python_failed + 1))  # the suite did not run

echo "== installed package and example host"
rm -rf build/stage build/example
cmake --install build/release --prefix build/stage >/dev/null
cmake -S examples/host -B build/example -G Ninja -DCMAKE_PREFIX_PATH="$KESTREL_ROOT/build/stage" \
  >build/example.configure.log 2>&1 || { cat build/example.configure.log; exit 1; }
cmake --build build/example
# The installed libraries find each other through their run path ($ORIGIN): no LD_LIBRARY_PATH.
env -u LD_LIBRARY_PATH build/example/kestrel-example-host

echo "== ParaView plugin: Kestrel Volume in pvbatch, serial against mpirun -np 2 and -np 4"
cmake -S paraview -B build/paraview -G Ninja -DCMAKE_PREFIX_PATH="$KESTREL_ROOT/build/stage" \
  -DKESTREL_PARAVIEW_PYTHON_ROOT="$KESTREL_ROOT/build/paraview-python" \
  >build/paraview.configure.log 2>&1 || { tail -40 build/paraview.configure.log; exit 1; }
cmake --build build/paraview -j "$KESTREL_JOBS"
build/release/bin/kestrel_write_phantom build/paraview/phantom128.vol 128
(PYTHONPATH="$KESTREL_ROOT/build/paraview-python/usr/lib/python3/dist-packages" \
  paraview/tests/serial_vs_mpi.sh \
  "$KESTREL_ROOT/build/paraview/lib/paraview-plugins/KestrelParaView/KestrelParaView.so" \
  build/paraview/pictures build/paraview/phantom128.vol "$KESTREL_VTK_SCAN" || true) |
  tee build/paraview.log
paraview_passed=$(sed -nE 's/^tests: ([0-9]+) passed, ([0-9]+) failed$/\1/p' build/paraview.log)
paraview_failed=$(sed -nE 's/^tests: ([0-9]+) passed, ([0-9]+) failed$/\2/p' build/paraview.log)
paraview_passed=${paraview_passed:-0}
paraview_failed=${paraview_failed:-1}

echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
kestrel_build build/asan -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_BUILD_BENCH=OFF
# intercept_tls_get_addr=0: LeakSanitizer's bookkeeping of dynamic TLS (the blocks of the GL
# driver's dlopen'ed libraries) can hold a bogus range, and its leak scan then dies with "Tracer
# caught signal 11" at exit of a tool that drew through GLX (seen for kestrel-render --gl --gpu,
# depending on the binaries' layout). Without the interception those blocks are not scanned; no
# leak goes unreported, at worst one held only by such a block would be reported.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0
export LSAN_OPTIONS=suppressions=$KESTREL_ROOT/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j "$KESTREL_JOBS" --timeout 900 |
  tee build/asan.ctest.log
asan_summary=$(grep -E 'tests passed|tests failed' build/asan.ctest.log | tail -1)

echo "== ThreadSanitizer build of the kernel and set-up tests"
mkdir -p build/tsan
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_SANITIZE_THREAD=ON \
  -DKESTREL_BUILD_APPS=OFF -DKESTREL_BUILD_BENCH=OFF >build/tsan.configure.log 2>&1 ||
  { cat build/tsan.configure.log; exit 1; }
cmake --build build/tsan -j "$KESTREL_JOBS" --target kestrel_test_standard_kernels \
  kestrel_test_standard_setup
# The GL tests of the set-up folder are left out: Mesa's own threads are not ours to check.
tsan_passed=0
tsan_failed=0
# run_tsan <test folder> <gtest filter>
run_tsan() {
  local log="build/tsan.$1.log"
  if TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "build/tsan/bin/kestrel_test_$1" \
    --gtest_filter="$2" >"$log" 2>&1; then
    tsan_passed=$((tsan_passed + $(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$log")))
  else
    tail -40 "$log"
    tsan_failed=$((tsan_failed + 1))
  fi
  tail -1 "$log"
}
run_tsan standard_kernels '*'
run_tsan standard_setup '-VRImageRender.*'

echo "== fuzzing the structured volume file reader (30 s)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DKESTREL_BUILD_FUZZ=ON -DKESTREL_BUILD_APPS=OFF -DKESTREL_BUILD_BENCH=OFF \
  >build/fuzz.configure.log 2>&1 || { cat build/fuzz.configure.log; exit 1; }
cmake --build build/fuzz --target kestrel_fuzz_volumefile kestrel_fuzz_dicom \
  kestrel_fuzz_dicom_series kestrel_fuzz_nifti kestrel_fuzz_nrrd
mkdir -p build/fuzz/corpus
build/fuzz/bin/kestrel_fuzz_volumefile -max_total_time=30 -print_final_stats=1 \
  build/fuzz/corpus tests/fuzz/seeds 2>&1 | tail -5
for reader in dicom dicom_series nifti nrrd; do
  echo "== fuzzing the $reader reader (15 s)"
  mkdir -p "build/fuzz/corpus-$reader"
  seeds=()
  [ -d "tests/fuzz/seeds-$reader" ] && seeds=("tests/fuzz/seeds-$reader")
  # The DICOM load's child refuses GDCM's gigabyte allocations itself (ContainedCall.cpp), under
  # the fuzzer's own limit on one allocation.
  limits=()
  [ "$reader" = dicom ] && limits=(-malloc_limit_mb=65536)
  "build/fuzz/bin/kestrel_fuzz_$reader" -max_total_time=15 -print_final_stats=1 "${limits[@]}" \
    "build/fuzz/corpus-$reader" "${seeds[@]}" 2>&1 | tail -3
done

echo "== summary"
grep -h "KestrelCUDA:" build/release.configure.log | sed 's/^-- /release build: /'
echo "release:   $release_summary"
echo "sanitized: $asan_summary"
echo "threads:   $tsan_passed kernel and set-up tests passed under ThreadSanitizer, $tsan_failed suites failed"
echo "python:    $python_passed passed, $python_failed failed (pytest python/tests)"
# One closing line over both runs: "N passed, N failed".
total_passed=0
total_failed=0
for summary in "$release_summary" "$asan_summary"; do
  failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$summary")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$summary")
  total_passed=$((total_passed + total - failed))
  total_failed=$((total_failed + failed))
done
total_passed=$((total_passed + tsan_passed + python_passed))
total_failed=$((total_failed + tsan_failed + python_failed))
echo "paraview:  $paraview_passed passed, $paraview_failed failed (serial against mpirun pictures)"
total_passed=$((total_passed + paraview_passed))
total_failed=$((total_failed + paraview_failed))
echo "tests: ${total_passed} passed, ${total_failed} failed"
