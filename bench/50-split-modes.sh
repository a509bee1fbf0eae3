#!/usr/bin/env bash
# The ways to split besides by size: a split of the big file into 10 parts
# of equal time beside the same split by size, and finding the silences of
# a 1-hour file (its loudness decoded, no part written) beside mpg123
# decoding it, then again with the picture the window keeps already there.
# Goals: equal time at most 1.05 x by size; silences at most 1.0 x mpg123
# (0.6 on two processors); with the kept picture, no decoding at all.
set -euo pipefail
. "$(dirname "$0")/common.sh"

OUT=$WORK/modes
HOUR=$WORK/hour.mp3
make_hour "$HOUR"

fresh() { rm -rf "$OUT"; }
by_time() { "$CLI" split "$BIG" --equal-time 10 --folder "$OUT" --quiet; }
by_size() { "$CLI" split "$BIG" --parts 10 --folder "$OUT" --quiet; }
read -r time_s size_s time_ratio < <(compare fresh by_time fresh by_size)
fresh

# A cache folder of its own, emptied before each run that must decode.
export XDG_CACHE_HOME=$WORK/cache
no_cache() { rm -rf "$XDG_CACHE_HOME"; }
silences() { "$CLI" split "$HOUR" --silence --dry-run --folder "$OUT"; }
decode_mpg123() { mpg123 -q -s "$HOUR"; }
cat "$HOUR" >/dev/null
read -r silence_s mpg123_s silence_ratio < <(compare no_cache silences : decode_mpg123)
silences >/dev/null 2>&1 # keeps the picture
kept_s=$(for ((i = 0; i < RUNS; i++)); do seconds_of silences; done | median)
rm -rf "$HOUR" "$XDG_CACHE_HOME"

echo
echo "Split modes (A/B: median of $RUNS pairs):"
row "split into 10 parts by size" "$size_s"
row "split into 10 parts of equal time" "$time_s" "$time_ratio" "by size (goal <= 1.05)"
row "mpg123 -q -s, 1 hour at 128 kbit/s" "$mpg123_s"
row "silences of that hour, decoded" "$silence_s" "$silence_ratio" "mpg123 (goal <= 1.00, 0.60 on 2 cores)"
row "silences of that hour, the picture kept" "$kept_s"
