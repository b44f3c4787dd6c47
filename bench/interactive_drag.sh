#!/usr/bin/env bash
# A scripted drag in kestrel-viewer under Xvfb, per view: a left press in the upper half (clear
# of the transfer-function panel), 30 moves of 5 pixels and
# the release, at 512 x 512, with the viewer's default coarse frames while interacting. From the
# viewer's --timings it prints per view the median frame time during the drag, the time from the
# release to the first full-quality frame, the longest refinement step (the longest an event
# arriving during refinement waits) and the levels seen.
#
#   bash bench/interactive_drag.sh [BUILD_DIR] [-- VOLUME OPTIONS...]
#
# BUILD_DIR defaults to build/release; the volume options (e.g. --raw FILE --dims 512 512 400
# --type int16) default to the built-in phantom. KESTREL_DRAG_VIEWS lists the views (default
# "mip iso full"), KESTREL_DRAG_EXTRA adds viewer options (e.g. --gpu or --endoscopy).
#
# Figures, 2-core VM, load about 1.3, 512 x 512, budget 60 ms (bands sized by what the coarse
# picture shows, cast in chunks of 16 rows and cut short at the budget): drag median / full
# picture after the release / longest refinement step, ms:
#   phantom 256^3         MIP 25 / 87 / 57     iso 30 / 31 / 31     full 46 / 343 / 58
#   phantom, --gpu (host) MIP 26 / 94 / 57     iso 29 / 31 / 31     full 45 / 350 / 55
#   phantom, --endoscopy  full + slice 11 / 13 / 13
#   512 x 512 x 400 int16 (synthetic CT head: air, skull shell, brain, noise)
#                         MIP 45 / 680 / 59    iso 43 / 45 / 45     full 34 / 183 / 54
# Before the bands were cast in chunks the large MIP's longest step was 98 to 125 ms (its rays
# cost more in some rows than the coarse picture predicts); before the bands were sized by the
# picture (one cost per ray for the whole frame) the longest steps of the full view and of the
# large MIP were 161 and 138 ms.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"
cd "$KESTREL_ROOT"

BUILD=${1:-build/release}
shift || true
[ "${1:-}" = "--" ] && shift
VIEWER=$BUILD/bin/kestrel-viewer
[ -x "$VIEWER" ] || { echo "interactive_drag: no $VIEWER (build kestrel-viewer first)" >&2; exit 1; }
kestrel_start_xvfb

events="ldown 256 120"
for i in $(seq 1 30); do events+="; move $((256 + 5 * i)) 120"; done
events+="; lup 406 120"

# summarize <csv>: frame 1 is the first frame, 2 .. 31 the 30 moves, then the refinement.
summarize() {
  local median
  median=$(awk -F, 'NR > 1 && $1 >= 2 && $1 <= 31 { print $2 }' "$1" | sort -n |
    awk '{ v[NR] = $1 } END { if (NR) print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  awk -F, -v median="$median" 'NR == 1 { next }
    $1 >= 2 && $1 <= 31 { n++; levels[$3] = 1 }
    $1 > 31 && !done { since += $2; if ($2 > longest) longest = $2; steps++; if ($3 == "full") done = 1 }
    END {
      seen = ""; for (l in levels) seen = seen " " l
      printf "drag median %.1f ms (%d frames, levels%s); full picture %.0f ms after the release (%d steps, longest %.1f ms)\n",
        median, n, seen, since, steps, longest }' "$1"
}

echo "load: $(uptime | sed 's/.*load average/load average/')"
for view in ${KESTREL_DRAG_VIEWS:-mip iso full}; do
  csv=$(mktemp)
  # shellcheck disable=SC2086
  "$VIEWER" --view "$view" --size 512x512 --frames 1 --events "$events" --timings "$csv" \
    ${KESTREL_DRAG_EXTRA:-} "$@" >/dev/null
  printf '%-5s %s\n' "$view" "$(summarize "$csv")"
  rm -f "$csv"
done
