#!/usr/bin/env bash
# The cutting jobs on the big file, side by side with cp of the same file:
# split into 10 parts, and the save of a ten-minute selection from the
# middle. Goals: the split at most 1.2 x cp, its peak memory below 16 MiB.
set -euo pipefail
. "$(dirname "$0")/common.sh"

# The middle of the source, from the play time the frame walk adds up. (Not
# named start and end: median_seconds has locals of those names.)
play_time=$("$CLI" info "$BIG" | sed -n 's/^Play time: \([0-9.]*\) s$/\1/p')
middle=$(printf '%.0f' "$(echo "$play_time / 2" | bc -l)")
sel_start=$((middle - 300))
sel_end=$((middle + 300))

copy_big() { cp "$BIG" "$WORK/copy.mp3"; }
split_big() { "$CLI" split "$BIG" --parts 10 --folder "$WORK/parts" --overwrite --quiet; }
cut_middle() {
    "$CLI" cut "$BIG" --start "$sel_start" --end "$sel_end" --out "$WORK/middle.mp3" \
        --overwrite --title "Ten minutes" --quiet
}

# One run of each first, so that all three meet the same warm page cache.
copy_big
split_big
cut_middle
cp_s=$(median_seconds copy_big)
split_s=$(median_seconds split_big)
cut_s=$(median_seconds cut_middle)
split_kib=$(peak_kib "$CLI" split "$BIG" --parts 10 --folder "$WORK/parts" --overwrite --quiet)
cut_kib=$(peak_kib "$CLI" cut "$BIG" --start "$sel_start" --end "$sel_end" \
    --out "$WORK/middle.mp3" --overwrite --quiet)
rm -rf "$WORK/parts" "$WORK/copy.mp3" "$WORK/middle.mp3"

echo "Cutting (play time ${play_time} s; selection ${sel_start} s to ${sel_end} s):"
row "cp of the source" "$cp_s"
row "split into 10 parts" "$split_s" "$cp_s" "cp"
row "cut of ten minutes from the middle" "$cut_s" "$cp_s" "cp"
printf '  %-44s %8s KiB\n' "peak memory of the split" "$split_kib"
printf '  %-44s %8s KiB\n' "peak memory of the cut" "$cut_kib"
