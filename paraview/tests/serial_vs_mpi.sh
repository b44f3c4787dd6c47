#!/usr/bin/env bash
# The plugin in pvbatch: each volume rendered as "Kestrel Volume" in every blend mode from three
# directions, serially and under mpirun with 2 and 4 ranks; the distributed pictures must match
# the serial ones (compare_pictures.py). The maximum intensity projection is rendered and saved
# but not compared across ranks: IceT composites the ranks' pieces with the "over" operator,
# which is not a maximum. Prints the frame times and a closing "tests: N passed, N failed".
#   serial_vs_mpi.sh PLUGIN OUTDIR VOLUME...
# Needs DISPLAY (Xvfb) and PYTHONPATH reaching paraview.simple.
set -uo pipefail
plugin=$1
out=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMPI_MCA_btl_vader_single_copy_mechanism=none
passed=0
failed=0
for volume in "$@"; do
  name=$(basename "$volume")
  for ranks in 1 2 4; do
    dir="$out/$name/np$ranks"
    rm -rf "$dir"
    mkdir -p "$out/$name"
    launch=()
    [ "$ranks" -gt 1 ] && launch=(mpirun --allow-run-as-root --oversubscribe -np "$ranks")
    # One retry when the X server refused the connection (seen on a loaded machine).
    run() { timeout 600 "${launch[@]}" pvbatch "$here/render_views.py" "$plugin" "$volume" "$dir" \
      >"$dir.log" 2>&1; }
    if ! run && ! { grep -q "bad X server connection" "$dir.log" && run; }; then
      tail -20 "$dir.log"
      failed=$((failed + 1))
      continue
    fi
    grep '^frame' "$dir.log" | sed "s/^/np$ranks /"
    [ "$ranks" -eq 1 ] && continue
    python3 "$here/compare_pictures.py" "$out/$name/np1" "$dir" "$name np$ranks" mip |
      tee "$dir.compare"
    passed=$((passed + $(sed -nE 's/.*: ([0-9]+) passed, ([0-9]+) failed$/\1/p' "$dir.compare")))
    failed=$((failed + $(sed -nE 's/.*: ([0-9]+) passed, ([0-9]+) failed$/\2/p' "$dir.compare")))
  done
done
echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
