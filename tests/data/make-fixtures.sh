#!/usr/bin/env bash
# Remakes the MP3 fixtures in this folder and their measurements in
# fixtures.tsv, then the tagged and joined files that make-tagged.py makes
# from them. The audio is a few seconds of swept tones over seeded pink
# noise, made by ffmpeg; lame and twolame encode it. The frames of every file
# are then counted by a small walker written here and cross-checked against
# ffprobe's packet list, so the numbers never come from Segmora's own reader.
#
# Usage: tests/data/make-fixtures.sh [output folder]   (default: this folder)
#
# The same package versions give the same bytes on every run. Another lame,
# twolame or ffmpeg release may encode differently; then fixtures.tsv changes
# too, and the constants in tests/core/FixtureFramesTest.cpp must follow it.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
mkdir -p "$out"
out=$(cd "$out" && pwd)

. "$here/../../scripts/ensure-packages.sh"
ensure_packages lame twolame ffmpeg python3 python3-mutagen mpg123

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# pcm RATE SECONDS CHANNELS FILE: a 16-bit WAV file of two swept tones per
# channel over quiet pink noise with a fixed seed. The noise keeps the VBR
# encoder changing its bit rate from frame to frame.
pcm() {
    local rate=$1 seconds=$2 channels=$3 file=$4
    local tones="0.35*sin(2*PI*(220+110*t)*t)+0.1*sin(2*PI*1760*t)"
    tones+="|0.35*sin(2*PI*330*t)+0.15*sin(2*PI*(3000-500*t)*t)"
    ffmpeg -v error -nostdin \
        -f lavfi -i "aevalsrc=exprs='$tones':s=$rate:d=$seconds" \
        -f lavfi -i "anoisesrc=seed=7:a=0.08:c=pink:r=$rate:d=$seconds" \
        -filter_complex "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0" \
        -ac "$channels" -c:a pcm_s16le -flags +bitexact -fflags +bitexact -y "$file"
}

pcm 44100 3 2 "$work/44k-3s.wav"
pcm 44100 2 2 "$work/44k-2s.wav"
pcm 22050 3 2 "$work/22k-3s.wav"
pcm 8000 3 1 "$work/8k-3s.wav"
pcm 48000 2 2 "$work/48k-2s.wav"

# lame writes no ID3 tag unless asked for one, and its Info/Xing frame by
# default, so the plain encodings below have an information frame and no tag.
enc() { lame --quiet --noreplaygain "$@"; }

enc -b 128 "$work/44k-3s.wav" "$out/cbr-128-info.mp3"
enc -V 4 "$work/44k-3s.wav" "$out/vbr.mp3"
enc -b 64 "$work/22k-3s.wav" "$out/mpeg2-l3.mp3"
# Below 32 kbit/s an 8000 Hz frame is too small for lame's Info frame.
enc -b 32 -m m "$work/8k-3s.wav" "$out/mpeg25-l3.mp3"
twolame --quiet -b 192 "$work/48k-2s.wav" "$out/layer2.mp3"
enc -b 128 --id3v2-only --pad-id3v2-size 3000 \
    --tt "Fixture With Front Tag" --ta "Segmora Tests" --tl "Fixtures" --ty 2024 \
    "$work/44k-2s.wav" "$out/id3v2-front.mp3"
enc -b 128 --id3v1-only \
    --tt "Fixture With End Tag" --ta "Segmora Tests" --tl "Fixtures" --ty 2024 \
    --tc "made by make-fixtures.sh" --tg Ambient \
    "$work/44k-2s.wav" "$out/id3v1-end.mp3"
enc -b 128 "$work/44k-2s.wav" "$work/plain-2s.mp3"

# Files for the clock tests: silence with two 20 ms bursts of 1 kHz at 0.5 s
# and 1.5 s, one file per kind of stream whose timeline a decoder may shift:
# lame's Info frame with its extension (MPEG-1, MPEG-2, MPEG-2.5), lame
# without an information frame (-t), twolame's Layer II, a Xing frame without
# extension (lame's VBR frame with the extension blanked) and ffmpeg's own
# encoder, whose Info frame carries an extension of another name.
bursts() {
    local rate=$1 file=$2
    ffmpeg -v error -nostdin \
        -f lavfi -i "aevalsrc=exprs='0.5*sin(2*PI*1000*t)*(between(t,0.5,0.52)+between(t,1.5,1.52))':s=$rate:d=2" \
        -ac 1 -c:a pcm_s16le -flags +bitexact -fflags +bitexact -y "$file"
}
bursts 44100 "$work/b44.wav"
bursts 22050 "$work/b22.wav"
bursts 8000 "$work/b8.wav"
bursts 48000 "$work/b48.wav"
enc --resample 44.1 -b 64 "$work/b44.wav" "$out/burst-44k.mp3"
enc -t --resample 44.1 -b 64 "$work/b44.wav" "$out/burst-44k-t.mp3"
enc --resample 22.05 -b 56 "$work/b22.wav" "$out/burst-22k.mp3"
enc --resample 8 -b 32 "$work/b8.wav" "$out/burst-8k.mp3"
twolame --quiet -b 64 -m m "$work/b48.wav" "$out/burst-layer2.mp3"
enc --resample 44.1 -V 6 "$work/b44.wav" "$work/burst-vbr.mp3"
ffmpeg -v error -nostdin -i "$work/b44.wav" -c:a libmp3lame -b:a 48k -map_metadata -1 \
    -id3v2_version 0 -write_id3v1 0 -flags +bitexact -fflags +bitexact -y "$out/burst-lavc.mp3"
python3 - "$work/burst-vbr.mp3" "$out/burst-xing.mp3" <<'BLANK'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.index(b"Xing", 0, 64) + 120  # tag, flags, frames, bytes, table, quality
if data[at:at + 4] != b"LAME":
    sys.exit("make-fixtures: burst-xing.mp3: no extension where expected")
data[at:at + 36] = bytes(36)
open(sys.argv[2], "wb").write(data)
BLANK
# For the split at silences: 1 s tones of 440 Hz at -6 dB with three gaps
# between them, a short silent one (0.3 s), a long one holding the tone at
# -60 dB (0.8 s) and a long one at -30 dB (0.8 s). Mono, lame 64 kbit/s.
gap_tone="0.5*(lt(t,1)+gte(t,1.3)*lt(t,2.3)+gte(t,3.1)*lt(t,4.1)+gte(t,4.9))"
gap_tone+="+0.001*gte(t,2.3)*lt(t,3.1)+0.0316*gte(t,4.1)*lt(t,4.9)"
ffmpeg -v error -nostdin -f lavfi -i "aevalsrc=exprs='sin(2*PI*440*t)*($gap_tone)':s=44100:d=5.9" \
    -ac 1 -c:a pcm_s16le -flags +bitexact -fflags +bitexact -y "$work/gaps.wav"
enc -b 64 "$work/gaps.wav" "$out/tone-gaps.mp3"
# For cutting to the sample: music at a low bit rate, where nearly every
# frame takes its main data from the frames before it (the bit reservoir).
enc -b 32 --resample 44.1 "$work/44k-2s.wav" "$out/reservoir-32k.mp3"
# The frame walker and the checks, shared by the steps below.
cat >"$work/fixtures.py" <<'PY'
import json
import os
import struct
import sys

BITRATES = {  # kbit/s by (MPEG-1?, layer); indexes 0 and 15 are invalid
    (True, 1): [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1],
    (True, 2): [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1],
    (True, 3): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1],
    (False, 1): [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1],
    (False, 2): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1],
}
BITRATES[(False, 3)] = BITRATES[(False, 2)]
RATES = {1: [44100, 48000, 32000], 2: [22050, 24000, 16000], 3: [11025, 12000, 8000]}

# Junk put into junk-between.mp3 behind these frames (counted from 0, the
# Info frame). The third run holds a valid header that no second header
# confirms one frame length later; it must not stand right behind a frame,
# where a header is trusted on its own.
JUNK_RUNS = {
    10: bytes(100),
    30: b"-- this is not an MPEG audio frame --",
    50: bytes(16) + b"\xff\xfb\x90\x44" + b"\x55" * 20,
}
CUT_BYTES = 100  # taken off the end of truncated-last.mp3


def header(data, pos):
    """The frame that the four bytes at pos describe, or None."""
    if pos + 4 > len(data):
        return None
    b0, b1, b2, _ = data[pos:pos + 4]
    if b0 != 0xFF or b1 & 0xE0 != 0xE0:
        return None
    version = {3: 1, 2: 2, 0: 3}.get((b1 >> 3) & 3)
    layer = {3: 1, 2: 2, 1: 3}.get((b1 >> 1) & 3)
    if version is None or layer is None or (b2 >> 2) & 3 == 3:
        return None
    kbps = BITRATES[(version == 1, layer)][b2 >> 4]
    if kbps <= 0:
        return None
    rate = RATES[version][(b2 >> 2) & 3]
    bitrate, padding = kbps * 1000, (b2 >> 1) & 1
    if layer == 1:
        length, samples = (12 * bitrate // rate + padding) * 4, 384
    elif layer == 2 or version == 1:
        length, samples = 144 * bitrate // rate + padding, 1152
    else:
        length, samples = 72 * bitrate // rate + padding, 576
    return dict(pos=pos, version=version, layer=layer, rate=rate, bitrate=bitrate,
                length=length, duration=samples / rate)


def walk(data):
    """Frames as Segmora's reader finds them: a frame right behind another is
    taken on its own header; any other needs a second valid header one frame
    length on; everything else is crossed byte by byte."""
    frames, pos, following = [], 0, False
    while pos + 4 <= len(data):
        frame = header(data, pos)
        if frame and (following or header(data, pos + frame["length"])):
            frames.append(frame)
            pos += frame["length"]
            following = True
        else:
            pos += 1
            following = False
    return frames


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def fail(name, what):
    sys.exit(f"make-fixtures: {name}: {what}")


def contiguous_offsets(data, name="plain stream"):
    """Frame offsets of a file that is frames from end to end."""
    offsets, pos = [], 0
    while pos < len(data):
        frame = header(data, pos)
        if not frame:
            fail(name, f"no frame header at {pos}")
        offsets.append(pos)
        pos += frame["length"]
    if pos != len(data):
        fail(name, "does not end on a frame boundary")
    return offsets


def derive(plain_path, junk_path, cut_path):
    """Makes junk-between.mp3 and truncated-last.mp3 from a plain stream."""
    data = read(plain_path)
    offsets = contiguous_offsets(data) + [len(data)]
    junk, start = bytearray(), 0
    for index in sorted(JUNK_RUNS):
        junk += data[start:offsets[index + 1]] + JUNK_RUNS[index]
        start = offsets[index + 1]
    write(junk_path, junk + data[start:])
    if offsets[-1] - offsets[-2] <= CUT_BYTES:
        fail("truncated-last.mp3", "the cut would remove a whole frame")
    write(cut_path, data[:-CUT_BYTES])


def vbri(audio_path, out_path):
    """Puts a VBRI frame (delay 1105, no table) with its true counts in front
    of a stream without information frame."""
    audio = read(audio_path)
    frames = len(contiguous_offsets(audio, os.path.basename(out_path)))
    head = bytearray(522)  # MPEG-1 Layer III, 160 kbit/s, 44100 Hz, mono
    head[0:4] = bytes([0xFF, 0xFB, 0xA0, 0xC4])
    head[36:40] = b"VBRI"
    head[40:62] = struct.pack(">HHHIIHHHH", 1, 1105, 75, len(head) + len(audio), frames, 0, 1,
                              4, 1)
    write(out_path, bytes(head) + audio)


def has_info_frame(data, frame):
    return any(tag in data[frame["pos"]:frame["pos"] + 48] for tag in (b"Xing", b"Info"))


def probed_packets(path):
    """(start, end) of each audio packet that ffprobe lists."""
    with open(path) as f:
        packets = json.load(f)["packets"]
    return [(int(p["pos"]), int(p["pos"]) + int(p["size"])) for p in packets]


def expected_offsets(name, plain):
    """Whole-frame offsets that junk-between and truncated-last were built to
    have, from the frames of the stream they were made of."""
    if name == "truncated-last.mp3":
        return plain[:-1]
    shifted, shift = [], 0
    for index, pos in enumerate(plain):
        shifted.append(pos + shift)
        shift += len(JUNK_RUNS.get(index, b""))
    return shifted


def measure(out, work, names):
    """Checks every fixture and writes fixtures.tsv."""
    plain = contiguous_offsets(read(os.path.join(work, "plain-2s.mp3")))
    rows = []
    for name in names:
        data = read(os.path.join(out, name))
        frames = walk(data)
        whole = [f for f in frames if f["pos"] + f["length"] <= len(data)]
        cut = frames[len(whole):]
        info = has_info_frame(data, frames[0])
        first, last = frames[0]["pos"], whole[-1]["pos"]
        frames_end = last + whole[-1]["length"]

        # What each file was made to hold.
        id3v2, id3v1 = data.startswith(b"ID3"), data[-128:-125] == b"TAG"
        if id3v2 != (name == "id3v2-front.mp3") or id3v1 != (name == "id3v1-end.mp3"):
            fail(name, f"unexpected tags (ID3v2 {id3v2}, ID3v1 {id3v1})")
        if info != (name != "layer2.mp3"):
            fail(name, "information frame missing or unexpected")
        if len(cut) != (name == "truncated-last.mp3"):
            fail(name, f"{len(cut)} frames cut short")
        tag_end = 10 + (data[6] << 21 | data[7] << 14 | data[8] << 7 | data[9]) if id3v2 else 0
        if first != tag_end:
            fail(name, f"first frame at {first}, expected {tag_end}")
        data_end = cut[0]["pos"] if cut else len(data) - (128 if id3v1 else 0)
        if frames_end != data_end:
            fail(name, f"frames end at {frames_end}, expected {data_end}")
        if name in ("junk-between.mp3", "truncated-last.mp3"):
            if [f["pos"] for f in whole] != expected_offsets(name, plain):
                fail(name, "frames found elsewhere than they were put")
        elif any(a["pos"] + a["length"] != b["pos"] for a, b in zip(frames, frames[1:])):
            fail(name, "gap between frames")

        # ffprobe must list the same frames, less the information frame and
        # perhaps with the frame cut short. It is no judge of junk-between:
        # it takes the unconfirmed header there for a frame.
        probed = probed_packets(os.path.join(work, name + ".json"))
        if name != "junk-between.mp3":
            walked = [(f["pos"], f["pos"] + f["length"]) for f in whole[int(info):]]
            if cut and probed and probed[-1][0] == cut[0]["pos"]:
                walked.append((cut[0]["pos"], len(data)))
            if probed != walked:
                fail(name, f"ffprobe lists {len(probed)} packets that differ from "
                           f"the {len(walked)} frames found")

        duration = 0.0
        for f in whole:
            duration += f["duration"]
        head = frames[0]
        rows.append([name, len(data), first, len(whole), last, frames_end,
                     f"{duration:.9f}", len(probed), int(info), head["version"],
                     head["layer"], head["rate"], head["bitrate"]])

    columns = ["name", "size", "first_offset", "frames", "last_offset", "frames_end",
               "duration_s", "ffprobe_packets", "info_frame", "version", "layer",
               "sample_rate", "bitrate"]
    with open(os.path.join(out, "fixtures.tsv"), "w") as tsv:
        for row in [columns] + rows:
            tsv.write("\t".join(str(v) for v in row) + "\n")


if __name__ == "__main__":
    if sys.argv[1] == "derive":
        derive(*sys.argv[2:5])
    elif sys.argv[1] == "vbri":
        vbri(*sys.argv[2:4])
    else:
        measure(sys.argv[2], sys.argv[3], sys.argv[4:])
PY

# No encoder here writes VBRI: lame's stream without information frame gets a
# VBRI frame put in front.
python3 "$work/fixtures.py" vbri "$out/burst-44k-t.mp3" "$out/burst-vbri.mp3"

# Junk between frames, and a last frame cut short, both made from the plain
# two-second stream.
python3 "$work/fixtures.py" derive "$work/plain-2s.mp3" \
    "$out/junk-between.mp3" "$out/truncated-last.mp3"

names=(cbr-128-info.mp3 vbr.mp3 mpeg2-l3.mp3 mpeg25-l3.mp3 layer2.mp3
    id3v2-front.mp3 id3v1-end.mp3 junk-between.mp3 truncated-last.mp3)

for name in "${names[@]}"; do
    ffprobe -v error -select_streams a -show_entries packet=pos,size -of json \
        "$out/$name" >"$work/$name.json"
done
python3 "$work/fixtures.py" measure "$out" "$work" "${names[@]}"

bursts=(burst-44k.mp3 burst-44k-t.mp3 burst-22k.mp3 burst-8k.mp3 burst-layer2.mp3
    burst-xing.mp3 burst-lavc.mp3 burst-vbri.mp3 tone-gaps.mp3 reservoir-32k.mp3)
total=0
for name in "${names[@]}" "${bursts[@]}"; do
    total=$((total + $(stat -c %s "$out/$name")))
done
echo "Made $((${#names[@]} + ${#bursts[@]})) fixtures, $((total / 1024)) KiB in all; measurements in fixtures.tsv"

# Tags before, behind and between the frames, joined files and files that are
# not MPEG audio, made from the fixtures above; listed in tagged.tsv and
# tagged-regions.tsv.
python3 "$here/make-tagged.py" "$out"
