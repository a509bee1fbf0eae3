#!/usr/bin/env bash
# Cutting to the sample on the big file: the save of its middle half, marks
# inside frames, and a split into 10 parts, each with --exact side by side
# with the same job without it. The frames put in front of each output and
# the sums for its header are all that --exact adds to the copy.
# Goal: both at most 1.05 x the job without --exact.
set -euo pipefail
. "$(dirname "$0")/common.sh"

# The middle half of the play time, each mark a few milliseconds into a
# frame (26.12 ms each) so that the save has frames to put in front and
# samples to drop at both ends.
play_time=$("$CLI" info "$BIG" | sed -n 's/^Play time: \([0-9.]*\) s$/\1/p')
sel_start=$(printf '%.3f' "$(echo "$play_time / 4 + 0.0107" | bc -l)")
sel_end=$(printf '%.3f' "$(echo "$play_time * 3 / 4 + 0.0153" | bc -l)")

OUT=$WORK/exact
fresh() { rm -rf "$OUT" && mkdir -p "$OUT/parts"; }
cut_with() {
    "$CLI" cut "$BIG" --start "$sel_start" --end "$sel_end" --out "$OUT/middle.mp3" --quiet --exact
}
cut_without() {
    "$CLI" cut "$BIG" --start "$sel_start" --end "$sel_end" --out "$OUT/middle.mp3" --quiet
}
split_with() { "$CLI" split "$BIG" --parts 10 --folder "$OUT/parts" --quiet --exact; }
split_without() { "$CLI" split "$BIG" --parts 10 --folder "$OUT/parts" --quiet; }

cat "$BIG" >/dev/null # into the page cache
read -r cut_exact_s cut_s cut_ratio < <(compare fresh cut_with fresh cut_without)
read -r split_exact_s split_s split_ratio < <(compare fresh split_with fresh split_without)
rm -rf "$OUT"

echo
echo "Cutting to the sample (A/B: median of $RUNS pairs, A and B in turn):"
row "save of the middle half" "$cut_s"
row "the same with --exact" "$cut_exact_s" "$cut_ratio" "without (goal <= 1.05)"
row "split into 10 parts" "$split_s"
row "the same with --exact" "$split_exact_s" "$split_ratio" "without (goal <= 1.05)"
