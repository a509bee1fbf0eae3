#!/usr/bin/env bash
# Independent checks of what segmora-cli writes: every output made from every
# fixture (parts, selections, frames-only copies, tagged copies) decodes with
# mpg123 without a note, warning or error, and every tag the program wrote
# reads back with mutagen as it was given.
#   check-outputs.sh SEGMORA_CLI FIXTURE_DIR
# Exits 77 (skipped) when mpg123 or python3 with mutagen is missing.
set -uo pipefail
CLI=$1
DATA=$2

command -v mpg123 >/dev/null || { echo "mpg123 is missing"; exit 77; }
PYTHON=
for candidate in /usr/bin/python3 python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import mutagen' 2>/dev/null; then
        PYTHON=$candidate
        break
    fi
done
[ -n "$PYTHON" ] || { echo "python3 with mutagen is missing"; exit 77; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/segmora-check-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

run() {
    if ! "$CLI" "$@" >"$WORK/cli.out" 2>&1; then
        fail "segmora-cli $*: $(cat "$WORK/cli.out")"
        return 1
    fi
}

# mpg123 in test mode: exit status 0 and nothing said, not even the notes it
# prints on junk it has to skip. Two remarks are inherent to copying frames
# unchanged and are let through:
# - "Xing stream size off": the Info/Xing frame at the start of the source
#   travels into the first part or selection and still counts the whole
#   source;
# - a bit-reservoir complaint about the first frame of an output that begins
#   inside a Layer III stream: that frame borrows bytes from frames that
#   stayed behind in the source. Only the first frame may say it, and only
#   that.
problems() {
    grep -iE 'note:|warning|error|illegal|resync|skipped' | grep -v 'Xing stream size off'
}
decodes() {
    local file=$1 said first status
    if [ ! -s "$file" ]; then
        fail "$file is empty"
        return
    fi
    mpg123 -t "$file" >"$WORK/mpg123.out" 2>&1
    status=$?
    said=$(tr '\r' '\n' <"$WORK/mpg123.out" | problems)
    if [ $status -ne 0 ]; then
        fail "mpg123 on $file: exit status $status"
    elif [ -n "$said" ]; then
        first=$(mpg123 -t -n 1 "$file" 2>&1 | tr '\r' '\n' | problems)
        if [ "$said" != "$first" ] || grep -vqE 'part2_3_length .* too large|bit reservoir' <<<"$said"; then
            fail "mpg123 on $file: $(head -3 <<<"$said")"
        fi
    fi
}

# tag_is FILE TITLE ARTIST ALBUM YEAR COMMENT GENRE: mutagen reads exactly this
# ID3v1 tag (an empty GENRE means none, as 255 is no genre).
tag_is() {
    "$PYTHON" - "$@" <<'PY' || fail "tag of $1"
import sys
from mutagen.id3 import ParseID3v1
path, title, artist, album, year, comment, genre = sys.argv[1:8]
with open(path, 'rb') as f:
    f.seek(-128, 2)
    block = f.read(128)
frames = ParseID3v1(block)
if frames is None:
    print(f"{path}: no ID3v1 tag")
    sys.exit(1)
got = {key: str(frames[key]) for key in frames}
want = {}
for key, value in (('TIT2', title), ('TPE1', artist), ('TALB', album), ('TDRC', year)):
    if value:
        want[key] = value
if comment:
    want['COMM'] = comment
if genre:
    want['TCON'] = genre
got = {('COMM' if k.startswith('COMM') else k): v for k, v in got.items() if k != 'TRCK'}
if got != want:
    print(f"{path}: read {got}, wrote {want}")
    sys.exit(1)
PY
}

for source in "$DATA"/*.mp3; do
    name=$(basename "$source" .mp3)
    out="$WORK/$name"
    mkdir -p "$out"

    run split "$source" --parts 3 --folder "$out/parts" --quiet && for part in "$out"/parts/*.mp3; do
        decodes "$part"
    done

    run cut "$source" --start 0.5 --end 00:01.5 --out "$out/cut.mp3" \
        --title "Cut of $name" --artist "Segmora" --album "Checks" --year 2025 \
        --comment "from 0.5 s to 1.5 s" --quiet && {
        decodes "$out/cut.mp3"
        tag_is "$out/cut.mp3" "Cut of $name" "Segmora" "Checks" 2025 "from 0.5 s to 1.5 s" ""
    }

    run prepare "$source" "$out/prepared.mp3" --quiet && decodes "$out/prepared.mp3"

    # The tag command replaces a tag or appends one and leaves the rest alone.
    cp "$source" "$out/tagged.mp3"
    run tag "$out/tagged.mp3" --title "Tagged $name" --artist "A" --album "B" --year 1987 \
        --comment "Tagged in place" --genre 17 && {
        tag_is "$out/tagged.mp3" "Tagged $name" "A" "B" 1987 "Tagged in place" 17
        size=$(stat -c %s "$source")
        if "$PYTHON" -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.exit(0 if len(d)>=128 and d[-128:-125]==b"TAG" else 1)' "$source"; then
            size=$((size - 128))
        fi
        cmp -s -n "$size" "$source" "$out/tagged.mp3" || fail "tag changed the audio of $name"
        [ "$(stat -c %s "$out/tagged.mp3")" -eq $((size + 128)) ] || fail "tagged $name has the wrong size"
    }
done

# A source with a tag hands it to every part.
for part in "$WORK"/id3v1-end/parts/*.mp3; do
    "$PYTHON" -c '
import sys
from mutagen.id3 import ParseID3v1
blocks = [open(p, "rb").read()[-128:] for p in sys.argv[1:]]
tags = [ParseID3v1(b) for b in blocks]
sys.exit(0 if all(t is not None and dict(t) == dict(tags[0]) for t in tags) else 1)
' "$part" "$DATA/id3v1-end.mp3" || fail "$part lacks the source's tag"
done

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All outputs decode and every tag reads back."
