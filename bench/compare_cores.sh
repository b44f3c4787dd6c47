#!/usr/bin/env bash
# Frame time of the MIP, isosurface and full-view benchmarks on one core against two, from one run.
# Usage: bench/compare_cores.sh [build-dir] [rounds]
# Each round runs every benchmark's grid entry point under `taskset -c 0` (the kernels still start
# one thread per online processor; on one core they take turns) and then on all processors; prints
# per view the median and minimum frame times over the rounds and the speed-up (one-core time /
# two-core time).
set -euo pipefail
build=${1:-build}
rounds=${2:-3}
run() {  # run <bench> <filter> [taskset prefix...]: one JSON report on stdout
    local bench=$1 filter=$2
    shift 2
    "$@" "$build/bin/bench_$bench" --benchmark_filter="$filter" --benchmark_format=json 2>/dev/null
}
views=(
    "MipBench MipFrames/RenderWithGridPartition mip"
    "IsoBench IsoFrames/RenderWithGridPartition iso"
    "FullBench ^FullFrames/GridShaded full-shaded"
    "FullBench ^FullFrames/GridUnshaded full-unshaded"
)
results=$(mktemp)
trap 'rm -f "$results"' EXIT
for ((round = 1; round <= rounds; ++round)); do
    for view in "${views[@]}"; do
        read -r bench filter name <<<"$view"
        echo "$name one $(run "$bench" "$filter" taskset -c 0 | tr -d '\n')" >>"$results"
        echo "$name two $(run "$bench" "$filter" | tr -d '\n')" >>"$results"
    done
done
python3 - "$results" <<'PY'
import json, statistics, sys
runs = {}
for line in open(sys.argv[1]):
    name, cores, report = line.split(" ", 2)
    b = json.loads(report)["benchmarks"][0]
    runs.setdefault((name, cores), []).append((b["median_ms"], b["min_ms"], b["cpu_ms"]))
print(f"{'view':14} {'1 core med/min ms':>18} {'2 cores med/min ms':>19} {'speed-up med':>13} {'min':>6}")
for name in dict.fromkeys(k[0] for k in runs):
    one, two = runs[(name, "one")], runs[(name, "two")]
    m1 = statistics.median(r[0] for r in one); n1 = min(r[1] for r in one)
    m2 = statistics.median(r[0] for r in two); n2 = min(r[1] for r in two)
    print(f"{name:14} {m1:8.1f} /{n1:7.1f}   {m2:8.1f} /{n2:7.1f}   {m1 / m2:11.2f} {n1 / n2:6.2f}")
PY
