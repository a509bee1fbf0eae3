#!/usr/bin/env bash
# The frame walk of `segmora-cli info` beside reading the same file, and the
# search over data that holds no frame.
set -euo pipefail
. "$(dirname "$0")/common.sh"

read_big() { cat "$BIG" >/dev/null; }
walk_big() { "$CLI" info "$BIG"; }

echo
echo "Frame walk over $(($(stat -c %s "$BIG") >> 20)) MiB (A/B: median of $RUNS pairs):"
read -r walk_s read_s ratio < <(compare : walk_big : read_big)
row "cat > /dev/null" "$read_s"
row "segmora-cli info (frame walk)" "$walk_s" "$ratio" "cat (goal <= 1.50)"
echo "  peak memory of the walk: $(peak_kib "$CLI" info "$BIG") KiB (goal < 16384)"

# 64 MiB of random bytes in which no 0xFF byte is followed by a second sync
# byte: no frame header anywhere, but the search still stops at every 0xFF.
python3 - "$WORK/noise.bin" <<'PY'
import random, sys
random.seed(1)
data = bytearray(random.getrandbits(8) for _ in range(1 << 20))
for i in range(len(data) - 1):
    if data[i] == 0xFF:
        data[i + 1] &= 0x7F
if data[-1] == 0xFF:
    data[-1] = 0
with open(sys.argv[1], 'wb') as out:
    for _ in range(64):
        out.write(data)
PY
# It is refused as not MPEG audio (exit 1) once the whole search is done.
scan_noise() { "$CLI" info "$WORK/noise.bin" || true; }
scan_noise >/dev/null 2>&1
scan_s=$(for ((i = 0; i < RUNS; i++)); do seconds_of scan_noise; done | median)
echo
echo "Search over 64 MiB without a frame:"
row "segmora-cli info" "$scan_s"
echo "  rate: $(echo "scale=0; 64 / $scan_s" | bc -l) MiB/s (goal >= 300)"
rm -f "$WORK/noise.bin"
