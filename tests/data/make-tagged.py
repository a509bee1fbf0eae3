#!/usr/bin/env python3
"""Makes the tagged, joined and foreign fixtures from the plain ones.

    tests/data/make-tagged.py [folder]     (default: this script's folder)

The folder must hold the fixtures that make-fixtures.sh makes and their
fixtures.tsv; the new files, tagged.tsv and tagged-regions.tsv are written
into it. Tags are written by mutagen, the cover is cover.jpg beside this
script, and ffmpeg and lame make the two files that are not MPEG audio at all.
The same package versions give the same bytes on every run.

Where the audio frames of each new file lie is known from how it was put
together: the frames of the fixture it was made of (read from fixtures.tsv
and followed header to header), moved by whatever was put in front. They are
never searched for. The script then checks them against what mutagen,
ffprobe and mpg123 make of the file.
"""

import io
import json
import os
import subprocess
import sys
import tempfile
import wave

try:
    import mutagen  # noqa: F401
except ImportError:
    # Debian's python3-mutagen belongs to the system interpreter, which need
    # not be the first python3 on the PATH.
    SYSTEM = "/usr/bin/python3"
    if os.path.exists(SYSTEM) and os.path.realpath(sys.executable) != os.path.realpath(SYSTEM):
        os.execv(SYSTEM, [SYSTEM] + sys.argv)
    sys.exit("make-tagged: mutagen is missing (Debian package python3-mutagen)")

from mutagen.apev2 import APEv2, APEBinaryValue
from mutagen.id3 import (ID3, APIC, COMM, TALB, TDRC, TIT2, TPE1, TRCK, TYER, MakeID3v1,
                         ParseID3v1)

HERE = os.path.dirname(os.path.abspath(__file__))
COVER = os.path.join(HERE, "cover.jpg")

# The texts of the UTF-16 tag. Each text frame holds a byte-order mark FF FE
# and its text; "FF FE 54 00" (the mark and a "T") reads as an MPEG-1 Layer I
# header of 160 kbit/s at 48000 Hz, whose frame is 160 bytes long, and
# "FF FE 61 00" (the mark and an "a") as another valid header. The lengths of
# the title and the artist put the album's mark exactly 160 bytes behind the
# title's, so the title's false header is confirmed one frame length later.
UTF16_TITLE = "The Tag Before the Audio – UTF-16 Text, a JPEG Cover"
UTF16_ARTIST = "Segmora Tests"
UTF16_ALBUM = "a Tag the Frame Reader Must Skip"
UTF16_COMMENT = "Made by make-tagged.py from cbr-128-info.mp3"
UTF16_PADDING = 64

V24_TITLE = "Tag Behind the Audio – Version 2.4, UTF-8"
V24_ARTIST = "Segmora Tests"
V24_ALBUM = "Fixtures"
V24_TRACK = "3/7"
V24_PADDING = 32  # none in the copy with a footer, where padding is not allowed

APE_TITLE = "APEv2 Tag With a Cover"
APE_ARTIST = "Segmora Tests"
APE_COVER_KEY = "Cover Art (Front)"
V1_TITLE = "ID3v1 Behind the APEv2 Tag"
V1_ALBUM = "Fixtures"
V1_YEAR = "2024"

CUT_TITLE = "APEv2 Tag Behind a Cut Frame"

# lame's free format takes any bit rate; this one is in no table.
FREE_FORMAT_KBPS = 200


# Same tables and rules as the walker in make-fixtures.sh.
BITRATES = {  # kbit/s by (MPEG-1?, layer); indexes 0 and 15 are invalid
    (True, 1): [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1],
    (True, 2): [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1],
    (True, 3): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1],
    (False, 1): [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1],
    (False, 2): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1],
}
BITRATES[(False, 3)] = BITRATES[(False, 2)]
RATES = {1: [44100, 48000, 32000], 2: [22050, 24000, 16000], 3: [11025, 12000, 8000]}


def fail(name, what):
    sys.exit(f"make-tagged: {name}: {what}")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def header(data, pos):
    """The length of the frame whose header the four bytes at pos are, or
    None when they are no valid header."""
    if pos < 0 or pos + 4 > len(data):
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
        return (12 * bitrate // rate + padding) * 4
    if layer == 2 or version == 1:
        return 144 * bitrate // rate + padding
    return 72 * bitrate // rate + padding


def naive_walk(data):
    """(offset, length) of the frames that a reader finds when it knows no
    tags: a header right behind a frame is taken on its own, any other only
    when a second valid header begins one frame length later; everything
    else is crossed byte by byte."""
    frames, pos, following = [], 0, False
    while pos + 4 <= len(data):
        length = header(data, pos)
        if length and (following or header(data, pos + length)):
            frames.append((pos, length))
            pos += length
            following = True
        else:
            pos += 1
            following = False
    return frames


def synchsafe(data):
    return data[0] << 21 | data[1] << 14 | data[2] << 7 | data[3]


def fixture_rows(folder):
    path = os.path.join(folder, "fixtures.tsv")
    if not os.path.exists(path):
        fail("fixtures.tsv", f"missing in {folder}; run make-fixtures.sh first")
    with open(path) as f:
        lines = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    return {row[0]: dict(zip(lines[0], row)) for row in lines[1:]}


def pieces_of(folder, rows, name):
    """The bytes of a fixture and its pieces (kind, start, end) from start to
    end of the file: an ID3v2 tag in front, the information frame, the audio
    frames followed header to header from fixtures.tsv's first offset, and
    an ID3v1 tag or a frame cut short behind the last whole one."""
    data, row = read(os.path.join(folder, name)), rows[name]
    if len(data) != int(row["size"]):
        fail(name, f"{len(data)} bytes, fixtures.tsv says {row['size']}")
    pieces, pos = [], int(row["first_offset"])
    if pos:
        if data[:3] != b"ID3" or 10 + synchsafe(data[6:10]) != pos:
            fail(name, f"no ID3v2 tag ending at its first frame ({pos})")
        pieces.append(("id3v2", 0, pos))
    for index in range(int(row["frames"])):
        length = header(data, pos)
        if not length:
            fail(name, f"no frame header at {pos}")
        info = index == 0 and row["info_frame"] == "1"
        if info and b"Info" not in data[pos:pos + 48] and b"Xing" not in data[pos:pos + 48]:
            fail(name, "no information frame where fixtures.tsv has one")
        pieces.append(("info-frame" if info else "audio", pos, pos + length))
        pos += length
    if pos != int(row["frames_end"]):
        fail(name, f"frames end at {pos}, fixtures.tsv says {row['frames_end']}")
    if pos < len(data):
        length = header(data, pos)
        if len(data) - pos == 128 and data[pos:pos + 3] == b"TAG":
            pieces.append(("id3v1", pos, len(data)))
        elif length and pos + length > len(data):
            pieces.append(("truncated-frame", pos, len(data)))
        else:
            fail(name, f"unknown bytes behind the last frame ({pos})")
    return data, pieces


class Build:
    """A file put together piece by piece, each piece's kind remembered."""

    def __init__(self):
        self.data = bytearray()
        self.pieces = []

    def add(self, kind, data):
        self.pieces.append((kind, len(self.data), len(self.data) + len(data)))
        self.data += data
        return self

    def add_fixture(self, fixture):
        data, pieces = fixture
        shift = len(self.data)
        self.pieces += [(kind, start + shift, end + shift) for kind, start, end in pieces]
        self.data += data
        return self


def tags_around(base, save):
    """What save(path) puts before and behind base in a copy of it."""
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "base.mp3")
        write(path, base)
        save(path)
        data = read(path)
    front = data.find(base)
    if front < 0:
        fail("mutagen", "the audio did not stay whole")
    return data[:front], data[front + len(base):]


def id3_tag(frames, version, padding):
    """An ID3v2 tag that mutagen writes into an otherwise empty file."""
    tags = ID3()
    for frame in frames:
        tags.add(frame)
    if version == 3:
        tags.update_to_v23()
    front, behind = tags_around(b"", lambda path: tags.save(
        path, v1=0, v2_version=version, padding=lambda info: padding))
    return front + behind


def with_footer(tag):
    """The tag with its footer flag set and the footer behind it."""
    if tag[3] != 4 or len(tag) != 10 + synchsafe(tag[6:10]):
        fail("tag-v24-footer.mp3", "not a whole ID3v2.4 tag")
    head = tag[:5] + bytes([tag[5] | 0x10]) + tag[6:10]
    return head + tag[10:] + b"3DI" + head[3:]


def utf16_cover(cbr, cover):
    frames = [
        TIT2(encoding=1, text=UTF16_TITLE),
        TPE1(encoding=1, text=UTF16_ARTIST),
        TALB(encoding=1, text=UTF16_ALBUM),
        TYER(encoding=1, text="2024"),
        COMM(encoding=1, lang="eng", desc="", text=UTF16_COMMENT),
        APIC(encoding=1, mime="image/jpeg", type=3, desc="Cover", data=cover),
    ]
    tags = ID3()
    for frame in frames:
        tags.add(frame)
    tags.update_to_v23()
    front, behind = tags_around(cbr[0], lambda path: tags.save(
        path, v1=0, v2_version=3, padding=lambda info: UTF16_PADDING))
    if behind or front[:4] != b"ID3\x03":
        fail("tag-utf16-cover.mp3", "mutagen did not put one ID3v2.3 tag in front")
    return Build().add("id3v2", front).add_fixture(cbr)


def check_traps(builds):
    """The traps that a reader which knows no tags falls into must be there:
    in tag-utf16-cover.mp3 the title's mark reads as a frame that the
    album's mark confirms, and in tag-apev2-truncated.mp3 the frame cut short
    reaches into the tag behind it. Returns the false frames in the first."""
    name = "tag-utf16-cover.mp3"
    data, pieces = bytes(builds[name].data), builds[name].pieces
    tag_end = pieces[0][2]
    title, album = data.find(b"\xff\xfeT\x00"), data.find(b"\xff\xfea\x00")
    if not 0 < title < album < tag_end or header(data, title) != album - title:
        fail(name, f"title mark at {title}, album mark at {album}, not one frame apart")
    false = [f for f in naive_walk(data) if f[0] < tag_end]
    if (title, album - title) not in false:
        fail(name, "a reader that knows no tags would not take the title for a frame")

    name = "tag-apev2-truncated.mp3"
    data, pieces = bytes(builds[name].data), builds[name].pieces
    (cut_kind, cut, tag_start), (tag_kind, _, _) = pieces[-2], pieces[-1]
    length = header(data, cut)
    if (cut_kind, tag_kind) != ("truncated-frame", "apev2") or cut + length <= tag_start \
            or (cut, length) not in naive_walk(data):
        fail(name, "the frame cut short does not reach into the tag")
    return false


def v24_tags():
    return [TIT2(encoding=3, text=V24_TITLE), TPE1(encoding=3, text=V24_ARTIST),
            TALB(encoding=3, text=V24_ALBUM), TRCK(encoding=3, text=V24_TRACK)]


def apev2_behind(fixture, items, name):
    def save(path):
        tags = APEv2()
        for key, value in items.items():
            tags[key] = value
        tags.save(path)
    front, behind = tags_around(fixture[0], save)
    if front or not behind.startswith(b"APETAGEX") or behind[-32:-24] != b"APETAGEX":
        fail(name, "mutagen did not put an APEv2 tag with header and footer behind")
    return Build().add_fixture(fixture).add("apev2", behind)


def build_framed(folder, cover):
    rows = fixture_rows(folder)
    cbr = pieces_of(folder, rows, "cbr-128-info.mp3")
    builds = {}

    builds["tag-utf16-cover.mp3"] = utf16_cover(cbr, cover)

    builds["tag-v24-appended.mp3"] = Build().add_fixture(cbr).add(
        "id3v2", id3_tag(v24_tags(), 4, V24_PADDING))
    builds["tag-v24-footer.mp3"] = Build().add_fixture(cbr).add(
        "id3v2", with_footer(id3_tag(v24_tags(), 4, 0)))

    v1 = MakeID3v1({"TIT2": TIT2(text=V1_TITLE), "TPE1": TPE1(text=APE_ARTIST),
                    "TALB": TALB(text=V1_ALBUM), "TDRC": TDRC(text=V1_YEAR)})
    builds["tag-apev2-cover.mp3"] = apev2_behind(cbr, {
        "Title": APE_TITLE, "Artist": APE_ARTIST,
        APE_COVER_KEY: APEBinaryValue(b"cover.jpg\0" + cover)},
        "tag-apev2-cover.mp3").add("id3v1", v1)

    builds["tag-apev2-truncated.mp3"] = apev2_behind(
        pieces_of(folder, rows, "truncated-last.mp3"),
        {"Title": CUT_TITLE, "Artist": APE_ARTIST}, "tag-apev2-truncated.mp3")

    builds["joined-info.mp3"] = Build().add_fixture(cbr).add_fixture(
        pieces_of(folder, rows, "id3v2-front.mp3"))
    builds["joined-v1-info.mp3"] = Build().add_fixture(
        pieces_of(folder, rows, "id3v1-end.mp3")).add_fixture(cbr)

    info_kind, info_start, info_end = cbr[1][0]
    builds["layer2-behind-info.mp3"] = Build().add(
        info_kind, cbr[0][info_start:info_end]).add_fixture(
        pieces_of(folder, rows, "layer2.mp3"))
    return builds


def check_tags(out, builds):
    """mutagen reads back every tag as it was written."""
    def same(name, what, got, wanted):
        if got != wanted:
            fail(name, f"{what} reads back as {got!r}, not {wanted!r}")

    tags = ID3(os.path.join(out, "tag-utf16-cover.mp3"))
    name = "tag-utf16-cover.mp3"
    same(name, "version", tags.version, (2, 3, 0))
    same(name, "title", str(tags["TIT2"]), UTF16_TITLE)
    same(name, "album", str(tags["TALB"]), UTF16_ALBUM)
    same(name, "cover", tags.getall("APIC")[0].data, read(COVER))

    for name in ("tag-v24-appended.mp3", "tag-v24-footer.mp3"):
        start, end = [p[1:] for p in builds[name].pieces if p[0] == "id3v2"][0]
        tags = ID3(io.BytesIO(read(os.path.join(out, name))[start:end]))
        same(name, "version", tags.version, (2, 4, 0))
        same(name, "title", str(tags["TIT2"]), V24_TITLE)
        same(name, "track", str(tags["TRCK"]), V24_TRACK)

    name = "tag-apev2-cover.mp3"
    tags = APEv2(os.path.join(out, name))
    same(name, "title", str(tags["Title"]), APE_TITLE)
    same(name, "cover", tags[APE_COVER_KEY].value, b"cover.jpg\0" + read(COVER))
    v1 = ParseID3v1(read(os.path.join(out, name))[-128:])
    same(name, "ID3v1 title", str(v1["TIT2"]), V1_TITLE)
    same(name, "ID3v1 year", str(v1["TDRC"]), V1_YEAR)

    name = "tag-apev2-truncated.mp3"
    same(name, "title", str(APEv2(os.path.join(out, name))["Title"]), CUT_TITLE)


def run(*command, **options):
    try:
        return subprocess.run(command, check=True, **options)
    except FileNotFoundError:
        fail(command[0], "not installed")
    except subprocess.CalledProcessError as error:
        fail(command[0], f"failed ({error.returncode}): {' '.join(command)}")


def make_cover():
    """cover.jpg is committed; this is how it was made: one frame of ffmpeg's
    test pattern, 160 x 120, as a baseline JPEG of about 4 KB."""
    run("ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=1",
        "-frames:v", "1", "-pix_fmt", "yuvj420p", "-q:v", "6",
        "-flags", "+bitexact", "-fflags", "+bitexact", "-y", COVER)


def pcm(rate, seconds, channels, path):
    """The swept tones over seeded pink noise of make-fixtures.sh, as a 16-bit
    WAV file."""
    tones = ("0.35*sin(2*PI*(220+110*t)*t)+0.1*sin(2*PI*1760*t)"
             "|0.35*sin(2*PI*330*t)+0.15*sin(2*PI*(3000-500*t)*t)")
    run("ffmpeg", "-v", "error", "-nostdin",
        "-f", "lavfi", "-i", f"aevalsrc=exprs='{tones}':s={rate}:d={seconds}",
        "-f", "lavfi", "-i", f"anoisesrc=seed=7:a=0.08:c=pink:r={rate}:d={seconds}",
        "-filter_complex",
        "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0",
        "-ac", str(channels), "-c:a", "pcm_s16le", "-flags", "+bitexact",
        "-fflags", "+bitexact", "-f", "wav", "-y", path)


def make_foreign(folder):
    """A WAV file under an MP3 name, and a free-format stream, whose headers
    give no bit rate: lame writes one when asked for a rate of its own."""
    pcm(8000, 1, 1, os.path.join(folder, "wav-renamed.mp3"))
    with tempfile.TemporaryDirectory() as work:
        wav = os.path.join(work, "44k-1s.wav")
        pcm(44100, 1, 2, wav)
        run("lame", "--quiet", "--noreplaygain", "--freeformat", "-b", str(FREE_FORMAT_KBPS),
            wav, os.path.join(folder, "free-format.mp3"))


def check_foreign(folder):
    name = "wav-renamed.mp3"
    with wave.open(os.path.join(folder, name)) as wav:
        shape = (wav.getnchannels(), wav.getframerate(), wav.getsampwidth(), wav.getnframes())
    if shape != (1, 8000, 2, 8000):
        fail(name, f"not 1 s of 16-bit mono PCM at 8000 Hz: {shape}")

    name = "free-format.mp3"
    data = read(os.path.join(folder, name))
    if data[:2] != b"\xff\xfb" or data[2] >> 4 != 0:
        fail(name, "does not begin with a free-format MPEG-1 Layer III header")
    # mpg123 decodes it, and lame's Info frame trims it to exactly one second.
    pcm_bytes = run("mpg123", "-q", "-s", os.path.join(folder, name),
                    capture_output=True).stdout
    if len(pcm_bytes) != 44100 * 2 * 2:
        fail(name, f"mpg123 decodes {len(pcm_bytes)} bytes, not one second")


def check_frames(folder, builds):
    """Every audio frame begins with a header of its length, and ffprobe lists
    each of them as it is. What else ffprobe lists must be made of bytes
    that are not audio: it leaves out an information frame at the start and
    the tags it knows at either end, but it lists a tag behind the last
    frame, a tag with an information frame in the middle of the stream, and
    the frame cut short together with the first bytes of the tag behind it,
    as packets of their own. mpg123 must read each file to its end."""
    for name, build in builds.items():
        path = os.path.join(folder, name)
        audio = [(start, end) for kind, start, end in build.pieces if kind == "audio"]
        if any(header(build.data, start) != end - start for start, end in audio):
            fail(name, "an audio frame without a header of its length")
        frames, is_audio = set(audio), bytearray(len(build.data))
        for start, end in audio:
            is_audio[start:end] = b"\1" * (end - start)

        probe = run("ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
                    "packet=pos,size", "-of", "json", path, capture_output=True, text=True)
        packets = [(int(p["pos"]), int(p["pos"]) + int(p["size"]))
                   for p in json.loads(probe.stdout)["packets"]]
        listed = [p for p in packets if p in frames]
        if listed != audio:
            fail(name, f"ffprobe lists {len(listed)} of the {len(audio)} audio frames")
        for start, end in set(packets) - frames:
            if any(is_audio[start:end]):
                fail(name, f"ffprobe lists a packet {start}-{end} over audio bytes")

        run("mpg123", "-q", "-t", path)


def check_whole(builds):
    """The pieces of each file follow each other from its first byte to its
    last."""
    for name, build in builds.items():
        ends = [0] + [end for _, _, end in build.pieces]
        if [start for _, start, _ in build.pieces] != ends[:-1] or ends[-1] != len(build.data):
            fail(name, "its pieces do not cover it byte for byte")


def write_tables(folder, builds):
    with open(os.path.join(folder, "tagged.tsv"), "w") as frames, \
            open(os.path.join(folder, "tagged-regions.tsv"), "w") as regions:
        frames.write("name\toffset\tlength\n")
        regions.write("name\tkind\tstart\tend\n")
        for name, build in builds.items():
            for kind, start, end in build.pieces:
                if kind == "audio":
                    frames.write(f"{name}\t{start}\t{end - start}\n")
                else:
                    regions.write(f"{name}\t{kind}\t{start}\t{end}\n")


def main():
    folder = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else HERE)
    if not os.path.exists(COVER):
        make_cover()
    builds = build_framed(folder, read(COVER))
    check_whole(builds)
    false_frames = check_traps(builds)
    for name, build in builds.items():
        write(os.path.join(folder, name), build.data)
    make_foreign(folder)

    check_tags(folder, builds)
    check_frames(folder, builds)
    check_foreign(folder)
    write_tables(folder, builds)

    print(f"Made {len(builds)} tagged and joined fixtures and 2 that are not MPEG audio; a "
          f"reader that knows no tags takes {len(false_frames)} false frames in "
          f"tag-utf16-cover.mp3's tag")
    for name, build in builds.items():
        audio = [(start, end) for kind, start, end in build.pieces if kind == "audio"]
        print(f"  {name}: {len(build.data)} bytes, {len(audio)} audio frames "
              f"{audio[0][0]}-{audio[-1][1]}")


if __name__ == "__main__":
    main()
