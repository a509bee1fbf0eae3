"""What the gapless scripts share: two small C decoders built on demand
(libmpg123 and a GStreamer pipeline runner), the Layer III frame layout and
the fields of an Info/Xing frame's encoder extension, and every decoder
found on this machine as one call from a file to its PCM.

Standard library only; imported by probe-decoders.py and measure-exact.py.
"""

import array
import os
import shutil
import subprocess
import sys

# ---------------------------------------------------------------- C helpers

M123_C = r"""
#include <mpg123.h>
#include <stdio.h>
#include <string.h>
/* libmpg123 to s16 native PCM on stdout; argv[2] "nogapless" turns gapless off. */
int main(int argc, char** argv) {
    if (argc < 2) return 2;
    int gapless = !(argc > 2 && strcmp(argv[2], "nogapless") == 0);
    mpg123_init();
    int err = 0;
    mpg123_handle* h = mpg123_new(NULL, &err);
    if (!h) return 3;
    mpg123_param(h, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(h);
    long rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    for (int i = 0; i < 9; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, argv[1]) != MPG123_OK) return 4;
    mpg123_scan(h);
    off_t claimed = mpg123_length(h);
    unsigned char buf[65536];
    size_t done = 0;
    for (;;) {
        int r = mpg123_read(h, buf, sizeof buf, &done);
        if (done) fwrite(buf, 1, done, stdout);
        if (r == MPG123_DONE) break;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) { fprintf(stderr, "err %s\n", mpg123_strerror(h)); break; }
    }
    fprintf(stderr, "length=%ld\n", (long)claimed);
    mpg123_delete(h);
    return 0;
}
"""

GST_C = r"""
#include <gst/gst.h>
#include <stdio.h>
#include <string.h>
/* Runs a pipeline whose sink is named "out" (or "playbin URI RAWFILE") to EOS,
   printing the elements made, duration after preroll and at EOS, position at
   EOS, the first buffer's PTS and the last buffer's end. */
static GstClockTime first_pts = GST_CLOCK_TIME_NONE, last_end = GST_CLOCK_TIME_NONE;
static guint64 bytes = 0;
static GstPadProbeReturn probe(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    (void)pad; (void)data;
    GstBuffer* b = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!GST_CLOCK_TIME_IS_VALID(first_pts)) first_pts = GST_BUFFER_PTS(b);
    if (GST_BUFFER_PTS_IS_VALID(b) && GST_BUFFER_DURATION_IS_VALID(b))
        last_end = GST_BUFFER_PTS(b) + GST_BUFFER_DURATION(b);
    bytes += gst_buffer_get_size(b);
    return GST_PAD_PROBE_OK;
}
static void added(GstBin* bin, GstBin* sub, GstElement* e, gpointer d) {
    (void)bin; (void)sub; (void)d;
    GstElementFactory* f = gst_element_get_factory(e);
    if (f) fprintf(stdout, "element=%s\n", GST_OBJECT_NAME(f));
}
static GstMessage* wait_for(GstElement* p, GstMessageType t) {
    GstBus* bus = gst_element_get_bus(p);
    GstMessage* m = gst_bus_timed_pop_filtered(bus, 30 * GST_SECOND, t | GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    return m;
}
int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    GError* err = NULL;
    GstElement* p;
    GstElement* out;
    if (argc >= 4 && strcmp(argv[1], "playbin") == 0) {
        p = gst_element_factory_make("playbin", NULL);
        char desc[4096];
        snprintf(desc, sizeof desc,
                 "audioconvert ! audio/x-raw,format=S16LE ! filesink name=out location=\"%s\"", argv[3]);
        GstElement* sink = gst_parse_bin_from_description(desc, TRUE, &err);
        if (!sink) { fprintf(stderr, "%s\n", err->message); return 2; }
        g_object_set(p, "uri", argv[2], "audio-sink", sink, NULL);
        g_object_set(p, "video-sink", gst_element_factory_make("fakesink", NULL), NULL);
        out = gst_bin_get_by_name(GST_BIN(sink), "out");
    } else {
        p = gst_parse_launch(argv[1], &err);
        if (!p) { fprintf(stderr, "%s\n", err->message); return 2; }
        out = gst_bin_get_by_name(GST_BIN(p), "out");
    }
    g_signal_connect(p, "deep-element-added", G_CALLBACK(added), NULL);
    GstPad* pad = gst_element_get_static_pad(out, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, probe, NULL, NULL);
    gst_element_set_state(p, GST_STATE_PAUSED);
    GstMessage* m = wait_for(p, GST_MESSAGE_ASYNC_DONE);
    if (!m || GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) { fprintf(stdout, "error=preroll\n"); return 3; }
    gst_message_unref(m);
    gint64 d = -1, pos = -1;
    gst_element_query_duration(p, GST_FORMAT_TIME, &d);
    fprintf(stdout, "duration_preroll_ns=%" G_GINT64_FORMAT "\n", d);
    gst_element_set_state(p, GST_STATE_PLAYING);
    m = wait_for(p, GST_MESSAGE_EOS);
    if (!m || GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) { fprintf(stdout, "error=play\n"); return 4; }
    gst_message_unref(m);
    d = -1;
    gst_element_query_duration(p, GST_FORMAT_TIME, &d);
    gst_element_query_position(p, GST_FORMAT_TIME, &pos);
    fprintf(stdout, "duration_end_ns=%" G_GINT64_FORMAT "\nposition_end_ns=%" G_GINT64_FORMAT "\n", d, pos);
    fprintf(stdout, "first_pts_ns=%" G_GINT64_FORMAT "\nlast_end_ns=%" G_GINT64_FORMAT "\nbytes=%" G_GUINT64_FORMAT "\n",
            GST_CLOCK_TIME_IS_VALID(first_pts) ? (gint64)first_pts : -1,
            GST_CLOCK_TIME_IS_VALID(last_end) ? (gint64)last_end : -1, bytes);
    gst_element_set_state(p, GST_STATE_NULL);
    return 0;
}
"""


def build_helpers(bin_dir):
    """Compiles the helpers into bin_dir unless they are there; returns those made."""
    os.makedirs(bin_dir, exist_ok=True)
    made = {}
    for name, src, pkg in (("m123", M123_C, "libmpg123"), ("gstdec", GST_C, "gstreamer-1.0")):
        exe = os.path.join(bin_dir, name)
        if not os.path.exists(exe):
            c = os.path.join(bin_dir, name + ".c")
            with open(c, "w") as f:
                f.write(src)
            try:
                flags = subprocess.run(["pkg-config", "--cflags", "--libs", pkg], capture_output=True,
                                       text=True, check=True).stdout.split()
                subprocess.run(["gcc", "-O2", "-o", exe, c] + flags, check=True)
            except (subprocess.CalledProcessError, FileNotFoundError) as e:
                print(f"# cannot build {name}: {e}")
                continue
        made[name] = exe
    return made


# ------------------------------------------------------------ frame layout

BITRATES = {
    (1, 3): [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
    (2, 3): [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
}
RATES = {1: [44100, 48000, 32000], 2: [22050, 24000, 16000], 3: [11025, 12000, 8000]}


def header(d, at=0):
    """The Layer III frame header at d[at], or None where none starts (another
    layer, a reserved or free-format field, too few bytes)."""
    if at + 4 > len(d) or d[at] != 0xFF or (d[at + 1] & 0xE0) != 0xE0:
        return None
    b1, b2, b3 = d[at + 1], d[at + 2], d[at + 3]
    vbits = (b1 >> 3) & 3
    layer = 4 - ((b1 >> 1) & 3)
    if vbits == 1 or layer != 3 or b2 >> 4 in (0, 15) or (b2 >> 2) & 3 == 3:
        return None
    version = {3: 1, 2: 2, 0: 3}[vbits]
    rate = RATES[version][(b2 >> 2) & 3]
    kbps = BITRATES[(1 if version == 1 else 2, layer)][b2 >> 4]
    pad = (b2 >> 1) & 1
    mode = b3 >> 6
    spf = 1152 if version == 1 else 576
    length = (144 if version == 1 else 72) * kbps * 1000 // rate + pad
    side = (17 if mode == 3 else 32) if version == 1 else (9 if mode == 3 else 17)
    return dict(version=version, rate=rate, mode=mode, channels=1 if mode == 3 else 2,
                spf=spf, length=length, side=side)


def frames_of(d):
    """Offsets of the frames of a plain stream (no tags), the first included."""
    out, at = [], 0
    while True:
        h = header(d, at)
        if h is None or at + h["length"] > len(d):
            break
        out.append(at)
        at += h["length"]
    return out


def crc16(data, crc=0):
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


class Layout:
    """Byte positions inside the first frame (the Info/Xing frame)."""

    def __init__(self, d):
        h = header(d)
        self.h = h
        self.tag = 4 + h["side"]
        assert d[self.tag:self.tag + 4] in (b"Info", b"Xing"), "no Info/Xing frame"
        flags = int.from_bytes(d[self.tag + 4:self.tag + 8], "big")
        at = self.tag + 8
        self.frames_at = at if flags & 1 else None
        at += 4 if flags & 1 else 0
        self.bytes_at = at if flags & 2 else None
        at += 4 if flags & 2 else 0
        at += 100 if flags & 4 else 0
        at += 4 if flags & 8 else 0
        self.ext = at                 # encoder string, 9 bytes
        self.delay_padding = at + 21  # 12 + 12 bits
        self.music_length = at + 28
        self.music_crc = at + 32
        self.tag_crc = at + 34        # CRC-16 of the frame's bytes before it


def fields(d):
    L = Layout(d)
    v = int.from_bytes(d[L.delay_padding:L.delay_padding + 3], "big")
    return dict(encoder=bytes(d[L.ext:L.ext + 9]), delay=v >> 12, padding=v & 0xFFF,
                tag_crc_ok=crc16(d[:L.tag_crc]) == int.from_bytes(d[L.tag_crc:L.tag_crc + 2], "big"))

def id3v2_size(d):
    """Bytes of the ID3v2 tag d starts with (footer included), 0 for none."""
    if len(d) < 10 or d[:3] != b"ID3":
        return 0
    size = 10 + sum((b & 0x7F) << (7 * (3 - i)) for i, b in enumerate(d[6:10]))
    return size + (10 if d[5] & 0x10 else 0)


def tags_at_end(d):
    """Bytes of the ID3v1 tag and the APEv2 tag (in that order from the end)
    that d ends with."""
    end = len(d) - (128 if d[-128:-125] == b"TAG" else 0)
    if end >= 32 and d[end - 32:end - 24] == b"APETAGEX":
        size = int.from_bytes(d[end - 20:end - 16], "little")
        header = 32 if d[end - 9] & 0x80 else 0
        end -= min(end, size + header)
    return len(d) - end


class Stream:
    """The Layer III frames of a whole file, behind its tags and past junk.
    The first header sets version and rate; a later frame counts when it
    follows the previous one, or when the next header confirms it. A first
    frame marked Info, Xing or VBRI is the information frame, no audio; an
    Info or Xing frame has an encoder extension when there is room for one
    and it starts with four letters or digits (an encoder's name).
    ok is False when no Layer III stream was found."""

    def __init__(self, d):
        at = id3v2_size(d)
        end = len(d) - tags_at_end(d)
        self.frames = []  # (offset, length)
        first = None

        def fits(h):
            return h is not None and (first is None or (h["version"], h["rate"]) == first)

        while at + 4 <= end:
            h = header(d, at)
            if fits(h) and at + h["length"] <= end:
                follows = bool(self.frames) and sum(self.frames[-1]) == at
                nxt = at + h["length"]
                if follows or nxt == end or fits(header(d, nxt)):
                    first = first or (h["version"], h["rate"])
                    self.frames.append((at, h["length"]))
                    at = nxt
                    continue
            at += 1
        self.ok = bool(self.frames)
        if not self.ok:
            return
        f0, n0 = self.frames[0]
        h = header(d, f0)
        self.version, self.rate, self.spf, self.channels = h["version"], h["rate"], h["spf"], h["channels"]
        mark = d[f0 + 4 + h["side"]:f0 + 8 + h["side"]]
        self.info = mark in (b"Info", b"Xing") or d[f0 + 36:f0 + 40] == b"VBRI"
        self.encoder, self.delay, self.padding = b"", 0, 0
        if mark in (b"Info", b"Xing"):
            frame = d[f0:f0 + n0]
            layout = Layout(frame)
            if layout.tag_crc + 2 <= n0 and bytes(frame[layout.ext:layout.ext + 4]).isalnum():
                f = fields(frame)
                self.encoder, self.delay, self.padding = f["encoder"], f["delay"], f["padding"]
        self.audio = self.frames[1:] if self.info else self.frames

    def audio_bytes(self, d):
        """The audio frames alone: a stream every decoder plays untrimmed."""
        return b"".join(d[at:at + n] for at, n in self.audio)


# ---------------------------------------------------------------- decoders

def pcm(raw):
    a = array.array("h")
    a.frombytes(raw[: len(raw) // 2 * 2])
    if sys.byteorder != "little":
        a.byteswap()
    return a


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, timeout=60, **kw)


GST_INFO = {}  # (decoder, path) -> dict of the helper's report


def gst(helper, name, desc_or_args, path, out):
    if os.path.exists(out):
        os.remove(out)
    r = run([helper] + desc_or_args)
    info = {}
    for line in r.stdout.decode().splitlines():
        k, _, v = line.partition("=")
        if k == "element":
            info.setdefault("elements", []).append(v)
        else:
            info[k] = v
    GST_INFO[(name, path)] = info
    return open(out, "rb").read() if os.path.exists(out) else b""


def decoders(helpers):
    ds = {}
    if shutil.which("mpg123"):
        ds["mpg123"] = lambda p: run(["mpg123", "-q", "-s", p]).stdout
    if "m123" in helpers:
        ds["libmpg123"] = lambda p: run([helpers["m123"], p]).stdout
    if shutil.which("ffmpeg"):
        ds["ffmpeg"] = lambda p: run(["ffmpeg", "-v", "error", "-i", p, "-f", "s16le", "-"]).stdout
    if "gstdec" in helpers:
        g = helpers["gstdec"]
        tail = "audioconvert ! audio/x-raw,format=S16LE ! filesink name=out location="

        def decodebin(p):
            o = p + ".db.raw"
            return gst(g, "gst-decodebin", [f"filesrc location={p} ! decodebin ! {tail}{o}"], p, o)

        def explicit(p):
            o = p + ".ex.raw"
            return gst(g, "gst-parse+mpg123", [f"filesrc location={p} ! mpegaudioparse ! mpg123audiodec ! {tail}{o}"], p, o)

        def playbin(p):
            o = p + ".pb.raw"
            return gst(g, "gst-playbin", ["playbin", "file://" + p, o], p, o)

        ds["gst-decodebin"] = decodebin
        ds["gst-parse+mpg123"] = explicit
        ds["gst-playbin"] = playbin
    return ds

# Whether each decoder applies the delay and padding of an encoder extension
# with this encoder string (as probe-decoders.py found them).
APPLIES_HEADER = {
    "mpg123": lambda enc: enc[:1] not in (b"", b"\0"),
    "libmpg123": lambda enc: enc[:1] not in (b"", b"\0"),
    "ffmpeg": lambda enc: enc[:4] in (b"LAME", b"Lavc", b"Lavf"),
    "gst-decodebin": lambda enc: enc.startswith(b"LAME"),
    "gst-parse+mpg123": lambda enc: enc.startswith(b"LAME"),
    "gst-playbin": lambda enc: enc.startswith(b"LAME"),
}


def channel0(a, ch):
    return a[0::ch] if ch > 1 else a

