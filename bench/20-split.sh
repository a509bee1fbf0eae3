#!/usr/bin/env bash
# The cutting jobs on the big file, each side by side with cp of the same
# file: split into 10 parts, the save of the middle half, and the frames-only
# copy; a plain loop that reads 1 MiB and writes it (dd) beside cp for
# scale. Every run writes new files: all outputs are removed before each run,
# outside its timing. The last row writes over existing files instead: the
# split over the parts of its previous run, cp over its previous copy.
# Goals: the split and the frames-only copy at most 1.0 x cp, the middle half
# at most 0.5 x cp (it writes half the bytes), peak memory below 16 MiB; a
# split of a source with a 400 KB cover at most 1.02 x the same with
# --no-tags, and one with a 10 MiB cover holding it in memory once.
set -euo pipefail
. "$(dirname "$0")/common.sh"

# The middle half of the play time that the frame walk adds up.
play_time=$("$CLI" info "$BIG" | sed -n 's/^Play time: \([0-9.]*\) s$/\1/p')
sel_start=$(printf '%.1f' "$(echo "$play_time / 4" | bc -l)")
sel_end=$(printf '%.1f' "$(echo "$play_time * 3 / 4" | bc -l)")

OUT=$WORK/out
fresh() { rm -rf "$OUT" && mkdir -p "$OUT/parts"; }
keep() { mkdir -p "$OUT/parts"; }

copy_big() { cp "$BIG" "$OUT/copy.mp3"; }
loop_big() { dd if="$BIG" of="$OUT/loop.mp3" bs=1M status=none; }
split_big() { "$CLI" split "$BIG" --parts 10 --folder "$OUT/parts" --overwrite --quiet; }
cut_middle() {
    "$CLI" cut "$BIG" --start "$sel_start" --end "$sel_end" --out "$OUT/middle.mp3" \
        --overwrite --title "Middle half" --quiet
}
prepare_big() { "$CLI" prepare "$BIG" "$OUT/frames.mp3" --overwrite --quiet; }

cat "$BIG" >/dev/null # into the page cache
echo
echo "Cutting (play time ${play_time} s; A/B: median of $RUNS pairs, A and B in turn):"
read -r loop_s cp_s loop_ratio < <(compare fresh loop_big fresh copy_big)
row "cp of the source" "$cp_s"
row "read 1 MiB, write it (dd bs=1M)" "$loop_s" "$loop_ratio" "cp"
read -r split_s cp_s split_ratio < <(compare fresh split_big fresh copy_big)
row "split into 10 parts" "$split_s" "$split_ratio" "cp (goal <= 1.00)"
read -r cut_s cp_s cut_ratio < <(compare fresh cut_middle fresh copy_big)
row "save of the middle half" "$cut_s" "$cut_ratio" "cp (goal <= 0.50)"
read -r prep_s cp_s prep_ratio < <(compare fresh prepare_big fresh copy_big)
row "frames-only copy (prepare)" "$prep_s" "$prep_ratio" "cp (goal <= 1.00)"
fresh
read -r split_s cp_s split_ratio < <(compare keep split_big keep copy_big)
row "split over its parts, cp over its copy" "$split_s" "$split_ratio" "cp over a copy"

# The same source behind an ID3v2 tag with a 400 KB cover (made by mutagen
# on a small fixture, then put in front of the source): ten tagged parts
# against the same split with --no-tags. Goal: at most 1.02. Then the peak
# memory of the split behind a tag with a 10 MiB cover.
TAGGED=$WORK/tagged.mp3
if /usr/bin/python3 - tests/data/cbr-128-info.mp3 "$WORK/tag.mp3" "$WORK/tag.id3" \
    "$WORK/tag10m.id3" <<'PY'
import os, shutil, sys
from mutagen.id3 import ID3, APIC, TIT2, TPE1
for cover, out in ((400 * 1024, sys.argv[3]), (10 << 20, sys.argv[4])):
    shutil.copy(sys.argv[1], sys.argv[2])
    tag = ID3()
    tag.add(TIT2(encoding=1, text="Bench"))
    tag.add(TPE1(encoding=1, text="Segmora"))
    tag.add(APIC(encoding=0, mime="image/jpeg", type=3, desc="", data=os.urandom(cover)))
    tag.save(sys.argv[2], v2_version=3, padding=lambda info: 0)
    data = open(sys.argv[2], "rb").read()
    size = 10 + sum((b & 0x7F) << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
    open(out, "wb").write(data[:size])
PY
then
    cat "$WORK/tag.id3" "$BIG" >"$TAGGED"
    split_tagged() { "$CLI" split "$TAGGED" --parts 10 --folder "$OUT/parts" --overwrite --quiet; }
    split_bare() {
        "$CLI" split "$TAGGED" --parts 10 --folder "$OUT/parts" --overwrite --quiet --no-tags
    }
    cat "$TAGGED" >/dev/null
    read -r tagged_s bare_s tagged_ratio < <(compare fresh split_tagged fresh split_bare)
    row "split of a tagged source, 400 KB cover" "$tagged_s" "$tagged_ratio" \
        "--no-tags (goal <= 1.02)"
    cat "$WORK/tag10m.id3" "$BIG" >"$TAGGED"
    fresh
    cover_kib=$(peak_kib "$CLI" split "$TAGGED" --parts 10 --folder "$OUT/parts" --quiet)
    rm -f "$TAGGED"
else
    echo "  (no tagged split: /usr/bin/python3 with mutagen is missing)"
fi

fresh
split_kib=$(peak_kib "$CLI" split "$BIG" --parts 10 --folder "$OUT/parts" --quiet)
fresh
cut_kib=$(peak_kib "$CLI" cut "$BIG" --start "$sel_start" --end "$sel_end" \
    --out "$OUT/middle.mp3" --quiet)
fresh
prep_kib=$(peak_kib "$CLI" prepare "$BIG" "$OUT/frames.mp3" --quiet)
rm -rf "$OUT"
printf '  %-46s %8s KiB (goal < 16384)\n' "peak memory of the split" "$split_kib"
if [ -n "${cover_kib:-}" ]; then
    printf "  %-46s %8s KiB (goal: the split's + 10240, one cover)\n" \
        "peak memory of the split, 10 MiB cover" "$cover_kib"
fi
printf '  %-46s %8s KiB\n' "peak memory of the save" "$cut_kib"
printf '  %-46s %8s KiB\n' "peak memory of the frames-only copy" "$prep_kib"
