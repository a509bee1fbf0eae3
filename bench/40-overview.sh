#!/usr/bin/env bash
# The loudness overview of a 1-hour file at 128 kbit/s: its whole decoding
# side by side with mpg123 decoding the same file to nothing, how soon the
# window's builder has the first column of the picture, the longest wait of
# the events while the timeline repaints during the decoding (offscreen), and
# the memory of an 18-hour overview at 48 kHz.
# Goals: at most 1.0 x mpg123 (0.6 with two processors), the first column
# within 0.3 s, no wait above 50 ms, at most 32 MiB for 18 hours.
set -euo pipefail
. "$(dirname "$0")/common.sh"

OVERVIEW=$BUILD/bench/segmora-overview-bench
PAINT=$BUILD/bench/segmora-overview-paint-bench
HOUR=$WORK/hour.mp3

make_hour "$HOUR"

decode_overview() { "$OVERVIEW" "$HOUR"; }
decode_mpg123() { mpg123 -q -s "$HOUR"; }

cat "$HOUR" >/dev/null
read -r overview_s mpg123_s ratio < <(compare : decode_overview : decode_mpg123)
first_s=$(for ((i = 0; i < RUNS; i++)); do "$OVERVIEW" --first "$HOUR"; done | median)
wait_ms=$(QT_QPA_PLATFORM=offscreen "$PAINT" "$HOUR" 2>/dev/null |
    sed -n 's/^longest wait between 10 ms ticks: \([0-9.]*\) ms$/\1/p')
memory=$("$OVERVIEW" --memory 18 48000)
hour_mb=$(echo "scale=1; $(stat -c %s "$HOUR") / 1000000" | bc -l)
rm -f "$HOUR"

echo
echo "Loudness overview of 1 hour at 128 kbit/s, $hour_mb MB (A/B: median of $RUNS pairs):"
row "mpg123 -q -s > /dev/null" "$mpg123_s"
row "whole overview decoded" "$overview_s" "$ratio" "mpg123 (goal <= 1.00, 0.60 on 2 cores)"
printf '  %-46s %8.3f s   (goal <= 0.300, median of %s)\n' \
    "first column known, builder without cache" "$first_s" "$RUNS"
printf '  %-46s %8s ms  (goal <= 50)\n' "longest wait of the events, repaint every 30 ms" \
    "$wait_ms"
printf '  %-46s %8s KiB (goal <= 32768)\n' "memory of an 18-hour overview at 48 kHz" \
    "$((memory >> 10))"
