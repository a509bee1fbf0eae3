#!/usr/bin/env bash
# Independent checks of what segmora-cli writes: every output made from every
# fixture (parts, selections, frames-only copies, tagged copies) decodes with
# mpg123 without a note, warning or error, and every tag the program wrote
# reads back with mutagen as it was given; and every output that carries an
# information frame tells its true length to ffprobe and mutagen, counts its
# own frames and bytes, and has an encoder extension whose CRCs verify.
# Outputs of the corpus files that have an information frame or a varying
# bit rate get the same header checks, when the corpus is there.
#   check-outputs.sh SEGMORA_CLI FIXTURE_DIR [CORPUS_DIR]
# Exits 77 (skipped) when mpg123, ffprobe or python3 with mutagen is missing.
set -uo pipefail
CLI=$1
DATA=$2
CORPUS=${SEGMORA_CORPUS:-${3:-}}

command -v mpg123 >/dev/null || { echo "mpg123 is missing"; exit 77; }
command -v ffprobe >/dev/null || { echo "ffprobe is missing"; exit 77; }
PYTHON=
for candidate in /usr/bin/python3 python3; do
    if command -v "$candidate" >/dev/null && "$candidate" -c 'import mutagen' 2>/dev/null; then
        PYTHON=$candidate
        break
    fi
done
[ -n "$PYTHON" ] || { echo "python3 with mutagen is missing"; exit 77; }

source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh" segmora-check

run() {
    if ! "$CLI" "$@" >"$WORK/cli.out" 2>&1; then
        fail "segmora-cli $*: $(cat "$WORK/cli.out")"
        return 1
    fi
}

# mpg123 in test mode: exit status 0 and nothing said, not even the notes it
# prints on junk it has to skip. One remark is inherent to copying frames
# unchanged and is let through: a bit-reservoir complaint about the first
# frame of an output that begins inside a Layer III stream, as that frame
# borrows bytes from frames that stayed behind in the source. Only the first
# frame may say it, and only that.
# The file's bytes between a leading ID3v2 tag and an ID3v1 tag at the end.
between() {
    python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
if data[-128:-125] == b"TAG":
    data = data[:-128]
if data[:3] == b"ID3":
    size = 10 + sum((b & 0x7F) << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
    data = data[size + (10 if data[5] & 0x10 else 0):]
sys.stdout.buffer.write(data)
PY
}

problems() {
    grep -iE 'note:|warning|error|illegal|resync|skipped'
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
        # mpg123 plays a VBRI frame as a frame: the first audio frame is its
        # second then.
        local count=1
        [ "$(dd if="$file" bs=1 skip=36 count=4 2>/dev/null)" = VBRI ] && count=2
        first=$(mpg123 -t -n $count "$file" 2>&1 | tr '\r' '\n' | problems)
        if [ "$said" != "$first" ] ||
            grep -vqE 'part2_3_length .* too large|bit reservoir|dequantization failed' <<<"$said"; then
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

# The information frame at the start of an output against the output itself,
# read by a walker of its own: the frame and byte counts, the seek table, the
# extension's music length and both CRCs; then the lengths that ffprobe and
# mutagen give against the audio frames' (mutagen takes the extension's delay
# and padding off, ffprobe does not). An output without an information frame
# must come from a source that needs none: one rate, no information frame.
cat >"$WORK/headers.py" <<'PY'
import json, subprocess, sys
from mutagen.mp3 import MP3

KBPS = {
    (1, 1): [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
    (1, 2): [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
    (1, 3): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    (2, 1): [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
    (2, 2): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
}
KBPS[(2, 3)] = KBPS[(2, 2)]
RATES = {1: [44100, 48000, 32000], 2: [22050, 24000, 16000], 3: [11025, 12000, 8000]}


def frame_at(data, pos):
    if pos + 4 > len(data) or data[pos] != 0xFF or data[pos + 1] & 0xE0 != 0xE0:
        return None
    b1, b2, b3 = data[pos + 1], data[pos + 2], data[pos + 3]
    version = {3: 1, 2: 2, 0: 3}.get((b1 >> 3) & 3)
    layer = {3: 1, 2: 2, 1: 3}.get((b1 >> 1) & 3)
    if version is None or layer is None or (b2 >> 2) & 3 == 3 or not 0 < b2 >> 4 < 15:
        return None
    kbps = KBPS[(min(version, 2), layer)][b2 >> 4]
    rate, pad = RATES[version][(b2 >> 2) & 3], (b2 >> 1) & 1
    if layer == 1:
        length, samples = (12000 * kbps // rate + pad) * 4, 384
    else:
        samples = 1152 if layer == 2 or version == 1 else 576
        length = samples // 8 * 1000 * kbps // rate + pad
    mono = b3 >> 6 == 3
    side = (17 if mono else 32) if version == 1 else (9 if mono else 17)
    return dict(pos=pos, length=length, samples=samples, rate=rate, layer=layer, kbps=kbps,
                side=side)


def names_itself(data, frame):
    """The kind of information frame that frame is, or None."""
    at = frame["pos"]
    if data[at + 36:at + 40] == b"VBRI":
        return b"VBRI"
    tag = data[at + 4 + frame["side"]:at + 8 + frame["side"]]
    return tag if frame["layer"] == 3 and tag in (b"Xing", b"Info") else None


def crc16(data, crc=0):
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def be(data, at, count):
    return int.from_bytes(data[at:at + count], "big")


def check(path, source_needs_header):
    data = open(path, "rb").read()
    if data[-128:-125] == b"TAG":
        data = data[:-128]
    # An ID3v2 tag in front of the frames: its size is four 7-bit bytes.
    if data[:3] == b"ID3":
        size = 10 + sum((b & 0x7F) << (7 * (3 - i)) for i, b in enumerate(data[6:10]))
        data = data[size + (10 if data[5] & 0x10 else 0):]
    frames, pos = [], 0
    while pos < len(data):
        frame = frame_at(data, pos)
        if frame is None:
            return [f"no frame at byte {pos}"]
        frames.append(frame)
        pos += frame["length"]
    if not frames:
        return []
    first = frames[0]
    kind = names_itself(data, first)
    if kind is None:
        return ["no information frame"] if source_needs_header else []
    audio = frames[1:]
    total = sum(f["length"] for f in frames)
    wrong = []
    delay = padding = 0
    if kind == b"VBRI":
        claimed_bytes, claimed_frames = be(data, 46, 4), be(data, 50, 4)
    else:
        at = 4 + first["side"] + 4
        flags = be(data, at, 4)
        if flags & 15 != 15:
            wrong.append(f"flags {flags}")
        claimed_frames, claimed_bytes = be(data, at + 4, 4), be(data, at + 8, 4)
        toc = data[at + 12:at + 112]
        if list(toc) != sorted(toc):
            wrong.append("seek table goes backwards")
        for i in (0, 25, 50, 75, 99):
            start = first["length"] + sum(f["length"] for f in audio[:i * len(audio) // 100])
            if audio and abs(toc[i] - start * 256 // total) > 1:
                wrong.append(f"seek table entry {i} is {toc[i]}, not {start * 256 // total}")
        ext = at + 116
        if data[ext:ext + 4] == b"LAME":
            delay, padding = be(data, ext + 21, 3) >> 12, be(data, ext + 21, 3) & 0xFFF
            if be(data, ext + 28, 4) != total:
                wrong.append("music length")
            if be(data, ext + 32, 2) != crc16(data[first["length"]:]):
                wrong.append("music CRC")
            if be(data, ext + 34, 2) != crc16(data[:ext + 34]):
                wrong.append("tag CRC")
    if claimed_frames != len(audio):
        wrong.append(f"{claimed_frames} frames claimed, {len(audio)} there")
    if claimed_bytes != total:
        wrong.append(f"{claimed_bytes} bytes claimed, {total} there")
    if not audio:
        return wrong
    samples = sum(f["samples"] for f in audio)
    rate = first["rate"]
    one_frame = first["samples"] / rate
    seconds = samples / rate
    mutagen = MP3(path).info.length
    if abs(mutagen - max(0, samples - delay - padding) / rate) > one_frame:
        wrong.append(f"mutagen says {mutagen:.3f} s, the frames {seconds:.3f} s")
    probe = json.loads(subprocess.run(
        ["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "json", path],
        capture_output=True, text=True).stdout)
    # ffprobe needs a few frames to recognise a stream and time it.
    if len(audio) < 10:
        return wrong
    if "duration" not in probe.get("format", {}):
        wrong.append("ffprobe reads no duration")
        return wrong
    ffprobe = float(probe["format"]["duration"])
    if abs(ffprobe - seconds) > one_frame:
        wrong.append(f"ffprobe says {ffprobe:.3f} s, the frames {seconds:.3f} s")
    return wrong


def needs_header(path):
    """A source needs headers on its outputs when its audio is Layer III and
    its first frame is an information frame or its frames have more than one
    bit rate. Other layers never get one: decoders would play it."""
    data = open(path, "rb").read()
    frames, pos = [], 0
    while pos + 4 <= len(data):
        frame = frame_at(data, pos)
        if frame and (frames or frame_at(data, pos + frame["length"])):
            frames.append(frame)
            pos += frame["length"]
        else:
            pos += 1
    if not frames:
        return False
    informed = names_itself(data, frames[0])
    audio = frames[1:] if informed else frames
    if not audio or audio[0]["layer"] != 3:
        return False
    return informed or len({f["kbps"] for f in frames}) > 1


if sys.argv[1] == "needs":
    sys.exit(0 if needs_header(sys.argv[2]) else 1)
source_needs = needs_header(sys.argv[1])
status = 0
for path in sys.argv[2:]:
    for what in check(path, source_needs):
        print(f"{path}: {what}")
        status = 1
sys.exit(status)
PY

headers_hold() {
    local source=$1
    shift
    "$PYTHON" "$WORK/headers.py" "$source" "$@" >"$WORK/headers.out" 2>&1 ||
        fail "information frames of outputs of $(basename "$source"): $(head -5 "$WORK/headers.out")"
}

for source in "$DATA"/*.mp3; do
    name=$(basename "$source" .mp3)
    # Not MPEG audio at all: every command refuses them.
    case $name in
    wav-renamed | free-format) continue ;;
    esac
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
    case $name in
    junk-between | truncated-last) ;; # lame's counts no longer hold there
    *) headers_hold "$source" "$out"/parts/*.mp3 "$out/cut.mp3" "$out/prepared.mp3" ;;
    esac

    # The tag command replaces the ID3v1 tag or appends one, puts a new ID3v2
    # tag in front, and leaves the bytes between them alone.
    cp "$source" "$out/tagged.mp3"
    run tag "$out/tagged.mp3" --title "Tagged $name" --artist "A" --album "B" --year 1987 \
        --comment "Tagged in place" --genre 17 && {
        tag_is "$out/tagged.mp3" "Tagged $name" "A" "B" 1987 "Tagged in place" 17
        between "$source" >"$WORK/source.between"
        between "$out/tagged.mp3" >"$WORK/tagged.between"
        cmp -s "$WORK/source.between" "$WORK/tagged.between" || fail "tag changed the audio of $name"
        [ "$(tail -c 128 "$out/tagged.mp3" | head -c 3)" = TAG ] || fail "tagged $name has no ID3v1 tag at its end"
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

# The corpus: outputs of every file that has an information frame or a
# varying bit rate. Its files are odd by design, so only the headers are
# judged, and mpg123 must not find them off.
if [ -n "$CORPUS" ] && [ -d "$CORPUS" ]; then
    checked=0
    while IFS= read -r -d '' source; do
        "$PYTHON" "$WORK/headers.py" needs "$source" || continue
        out="$WORK/corpus-$checked"
        mkdir -p "$out"
        "$CLI" split "$source" --parts 3 --folder "$out" --prefix p --quiet >/dev/null 2>&1 || continue
        "$CLI" cut "$source" --start 0.1 --end 0.4 --out "$out/cut.mp3" --quiet >/dev/null 2>&1
        "$CLI" prepare "$source" "$out/prepared.mp3" --quiet >/dev/null 2>&1
        outputs=("$out"/*.mp3)
        headers_hold "$source" "${outputs[@]}"
        for output in "${outputs[@]}"; do
            if mpg123 -t "$output" 2>&1 | tr '\r' '\n' | grep -q 'Xing'; then
                fail "mpg123 finds the information frame of $output off"
            fi
        done
        checked=$((checked + 1))
    done < <(find "$CORPUS" -type f \( -name '*.mp3' -o -name '*.bit' \) -print0)
    echo "Checked the outputs of $checked corpus files with an information frame or a varying rate."
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "All outputs decode and every tag reads back."
