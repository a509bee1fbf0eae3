#!/usr/bin/env python3
"""Which decoders on this machine honour the encoder delay and padding of an
MP3's Info/Xing frame extension, and how they count.

Patches copies of real fixtures (the extension's delay/padding, its encoder
string, its CRCs, the Info/Xing mark), decodes each copy with every decoder
found, and aligns the decoded PCM sample-exactly against a decode that trims
nothing (libmpg123 with gapless off), giving the samples dropped at the start
(S) and at the end (E) of the frames' full output, frames x samples-per-frame.

A decoder that follows the extension the usual way shows S = delay + 529 and
E = padding - 529 (529 is the Layer III decoder's own delay).

Standard library only. Compiles two tiny C helpers (libmpg123 and GStreamer,
see decoding.py) into ./bin on first use. Usage: probe.py [fixture folder]
"""

import os
import shutil
import sys
import tempfile

from decoding import (GST_INFO, Layout, build_helpers, channel0, crc16, decoders, fields, frames_of,
                      header, pcm, run)

HERE = os.path.dirname(os.path.abspath(__file__))
BIN = os.path.join(HERE, "bin")
DATA = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "data")
WORK = tempfile.mkdtemp(prefix="gapless-")


# ------------------------------------------------------------- patching

def patch(d, delay=None, padding=None, encoder=None, mark=None, crc="fix", music_crc=None,
          frames=None, nbytes=None, bare=False):
    """A patched copy. crc: "fix" recomputes the tag CRC, "keep" leaves the old
    bytes (stale when anything changed), "break" writes a wrong one."""
    d = bytearray(d)
    L = Layout(d)
    v = int.from_bytes(d[L.delay_padding:L.delay_padding + 3], "big")
    dl, pd = v >> 12, v & 0xFFF
    if bare:  # an extension with nothing but the fields set below
        d[L.ext:L.ext + 36] = bytes(36)
    if delay is not None:
        dl = delay
    if padding is not None:
        pd = padding
    d[L.delay_padding:L.delay_padding + 3] = ((dl & 0xFFF) << 12 | (pd & 0xFFF)).to_bytes(3, "big")
    if encoder is not None:
        d[L.ext:L.ext + 9] = encoder.ljust(9, b"\0")[:9]
    if mark is not None:
        d[L.tag:L.tag + 4] = mark
    if music_crc is not None:
        d[L.music_crc:L.music_crc + 2] = music_crc.to_bytes(2, "big")
    if frames is not None and L.frames_at is not None:
        d[L.frames_at:L.frames_at + 4] = frames.to_bytes(4, "big")
    if nbytes is not None and L.bytes_at is not None:
        d[L.bytes_at:L.bytes_at + 4] = nbytes.to_bytes(4, "big")
    good = crc16(d[:L.tag_crc])
    if crc == "fix":
        d[L.tag_crc:L.tag_crc + 2] = good.to_bytes(2, "big")
    elif crc == "break":
        d[L.tag_crc:L.tag_crc + 2] = (good ^ 0x5A5A).to_bytes(2, "big")
    return bytes(d)


# -------------------------------------------------------------- alignment

def align(x, ref, lo=-2400, hi=5200, tol=2):
    """Offset o with x[i] == ref[i + o] (within tol) over the whole overlap,
    or None. The window starts just before the first loud sample, so that
    tone bursts in silence align by their onset."""
    if len(x) < 4000:
        return None
    w = 2600
    while w < len(x) - 300 and abs(x[w + 32]) < 1000:
        w += 1
    n = 256
    for o in range(lo, hi):
        if w + o < 0 or w + o + n > len(ref):
            continue
        for i in range(n):
            if abs(x[w + i] - ref[w + o + i]) > tol:
                break
        else:
            # confirm over everything that overlaps, the first frames after
            # a cut aside (reported apart)
            bad = [i for i in range(max(0, -o), min(len(x), len(ref) - o)) if abs(x[i] - ref[i + o]) > tol]
            return o, bad
    return None


def measure(raw, ref, ch):
    x = channel0(pcm(raw), ch)
    a = align(x, ref)
    if a is None:
        return dict(n=len(x), S=None, E=None, bad=None)
    o, bad = a
    return dict(n=len(x), S=o, E=len(ref) - o - len(x), bad=len(bad), firstbad=bad[:1], lastbad=bad[-1:])


# ------------------------------------------------------------------ report

def fmt(m):
    if m["S"] is None:
        return f"n={m['n']} unaligned"
    s = f"{m['S']}/{m['E']}"
    if m["bad"]:
        s += f" ({m['bad']} differ)"
    return s


def table(title, rows, names):
    print(f"\n## {title}\n")
    widths = [max(26, max((len(r[0]) for r in rows), default=0))] + [
        max([len(n)] + [len(r[1][i]) for r in rows]) for i, n in enumerate(names)]
    print("| " + " | ".join(["condition".ljust(widths[0])] + [n.ljust(w) for n, w in zip(names, widths[1:])]) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for label, cells in rows:
        print("| " + " | ".join([label.ljust(widths[0])] + [c.ljust(w) for c, w in zip(cells, widths[1:])]) + " |")


def verdict(m, delay, padding):
    """lame: S = delay + 529 and E = max(0, padding - 529); none: nothing dropped."""
    if m["S"] is None:
        return "?"
    if m["S"] == delay + 529 and m["E"] == max(0, padding - 529):
        return "lame"
    if m["S"] == 0 and m["E"] == 0:
        return "none"
    return ""


def main():
    helpers = build_helpers(BIN)
    ds = decoders(helpers)
    names = list(ds)
    print("decoders:", ", ".join(names))
    missing = [t for t in ("mpg123", "ffmpeg") if not shutil.which(t)]
    if missing:
        print("not installed:", ", ".join(missing))

    def load(name):
        with open(os.path.join(DATA, name), "rb") as f:
            return f.read()

    def reference(path, ch):
        return channel0(pcm(run([helpers["m123"], path, "nogapless"]).stdout), ch)

    counter = [0]
    labels = {}

    def experiment(title, base_name, variants):
        counter[0] += 1
        base = load(base_name)
        h = header(base)
        ch = h["channels"]
        nframes = len(frames_of(base)) - 1
        p0 = os.path.join(WORK, base_name)
        with open(p0, "wb") as f:
            f.write(base)
        ref = reference(p0, ch)
        f0 = fields(base)
        rows = []
        print(f"\n# {base_name}: {nframes} audio frames x {h['spf']} = {nframes * h['spf']} samples "
              f"(untrimmed reference decodes {len(ref)}); encoder {f0['encoder']!r} delay {f0['delay']} "
              f"padding {f0['padding']} tag CRC {'ok' if f0['tag_crc_ok'] else 'BAD'}")
        for label, kw in variants:
            data = patch(base, **kw) if kw else base
            p = os.path.join(WORK, f"x{counter[0]}.{len(rows)}.{base_name}")
            labels[p] = label
            with open(p, "wb") as f:
                f.write(data)
            fl = fields(data)
            cells = []
            for n in names:
                m = measure(ds[n](p), ref, ch)
                cells.append(f"{fmt(m)} {verdict(m, fl['delay'], fl['padding'])}")
            rows.append((label, cells))
        table(title, rows, names)

    lame = dict  # readability below

    # 1 + 2: the untouched file, then other delay/padding values (CRC fixed)
    v = [("untouched", {})]
    for dl in (0, 576, 1105, 2000, 4095):
        v.append((f"delay {dl}, padding 756", lame(delay=dl, padding=756)))
    for pd in (0, 528, 529, 1000, 4095):
        v.append((f"delay 576, padding {pd}", lame(delay=576, padding=pd)))
    v.append(("delay 0, padding 0", lame(delay=0, padding=0)))
    v.append(("delay 4095, padding 4095", lame(delay=4095, padding=4095)))
    experiment("delay and padding values (cbr-128-info, CRC recomputed)", "cbr-128-info.mp3", v)

    # 3 + 4: encoder string and CRCs, with delay 2000 / padding 1000 so that
    # honouring shows as S=2529 E=471
    v = []
    for enc in (b"LAME3.100", b"LAME3.99r", b"LAME3.90 ", b"LAME2.00 ", b"LAME", b"Lavc58.91", b"Lavf58.76",
                b"Lavf", b"Gogo", b"GOGO1.00 ", b"         ", b"\0" * 9, b"XyzEnc1.0", b"lame3.100", b"L3.99r",
                b"Segm0.1  ", b"L", b"\0AME3.100"):
        v.append((f"enc {enc.decode('latin1')!r}", lame(delay=2000, padding=1000, encoder=enc)))
    v.append(("LAME3.100, rest of extension zero", lame(delay=2000, padding=1000, encoder=b"LAME3.100", bare=True)))
    v.append(("LAME3.100, tag CRC wrong", lame(delay=2000, padding=1000, crc="break")))
    v.append(("LAME3.100, tag CRC stale", lame(delay=2000, padding=1000, crc="keep")))
    v.append(("Lavf, tag CRC wrong", lame(delay=2000, padding=1000, encoder=b"Lavf", crc="break")))
    v.append(("LAME3.100, music CRC wrong", lame(delay=2000, padding=1000, music_crc=0x1234)))
    v.append(("LAME3.100, frames count +3", lame(delay=2000, padding=1000, frames=119)))
    v.append(("LAME3.100, frames count -3", lame(delay=2000, padding=1000, frames=113)))
    experiment("encoder string and CRCs (delay 2000, padding 1000: LAME rule gives S=2529 E=471)",
               "cbr-128-info.mp3", v)

    # 5: the mark
    v = [("Info (as made)", lame(delay=2000, padding=1000)),
         ("Xing", lame(delay=2000, padding=1000, mark=b"Xing"))]
    experiment("Info vs Xing on a CBR file (delay 2000, padding 1000)", "cbr-128-info.mp3", v)
    v = [("untouched (Xing)", {}),
         ("Xing, delay 2000 padding 1000", lame(delay=2000, padding=1000)),
         ("Info, delay 2000 padding 1000", lame(delay=2000, padding=1000, mark=b"Info"))]
    experiment("VBR file", "vbr.mp3", v)

    # other layouts: MPEG-2 (576 samples a frame), mono, ffmpeg's own extension
    for name in ("mpeg2-l3.mp3", "burst-44k.mp3", "burst-lavc.mp3", "burst-xing.mp3"):
        v = [("untouched", {}), ("delay 2000, padding 1000", lame(delay=2000, padding=1000)),
             ("LAME3.100, delay 2000, padding 1000", lame(delay=2000, padding=1000, encoder=b"LAME3.100"))]
        experiment(f"{name}", name, v)

    # 6: the players' clocks
    print("\n## GStreamer clock (s): duration after preroll / at EOS, position at EOS, first PTS; "
          "ffprobe start_time / duration\n")
    for p, label in labels.items():
        if "x1." not in p and "x5." not in p:
            continue
        line = f"{label:28}"
        for n in names:
            gi = GST_INFO.get((n, p))
            if gi is not None:
                sec = lambda k: f"{int(gi.get(k, -1)) / 1e9:.6f}"
                line += f" | {n}: {sec('duration_preroll_ns')}/{sec('duration_end_ns')} pos {sec('position_end_ns')} first {sec('first_pts_ns')}"
        if shutil.which("ffprobe"):
            r = run(["ffprobe", "-v", "error", "-show_entries", "stream=start_time,duration", "-of", "csv=p=0", p])
            line += " | ffprobe: " + r.stdout.decode().strip()
        print(line)
    if names and "gst-decodebin" in names:
        gi = next(iter(v for (n, _), v in GST_INFO.items() if n == "gst-decodebin"))
        print("\ndecodebin made:", ", ".join(e for e in gi.get("elements", []) if e not in ("filesrc", "typefind")))

    simulated_cuts(ds, names, helpers, load)
    shutil.rmtree(WORK, ignore_errors=True)


# ------------------------------------------------------------ simulated cut

def frames_back(d, offs, k):
    """Audio frames (index into offs[1:]) from k back to the one holding the
    first byte of frame k's main data: 0 when it starts in k itself."""
    def region(i):
        h = header(d, offs[i + 1])
        crc = 0 if d[offs[i + 1] + 1] & 1 else 2
        return h["length"] - 4 - crc - h["side"]
    at = offs[k + 1] + (6 if not d[offs[k + 1] + 1] & 1 else 4)
    b = d[at:at + 2]
    mdb = (b[0] << 1 | b[1] >> 7) if header(d, offs[k + 1])["version"] == 1 else b[0]
    back, i = 0, k
    while mdb > 0 and i > 0:
        i -= 1
        back += 1
        mdb -= region(i)
    return back


def simulated_cuts(ds, names, helpers, load):
    """Copy frames around [t0, t1) of cbr-128-info (t in samples of the file
    as gapless decoders play it) with P extra frames in front, behind the
    file's own Info frame with new counts, delay and padding; compare each
    decoder's output to its own decode of the whole file, sliced [t0, t1)."""
    name = "cbr-128-info.mp3"
    base = load(name)
    offs = frames_of(base)
    h = header(base)
    spf, ch = h["spf"], h["channels"]
    f0 = fields(base)
    D = f0["delay"]
    info = base[:offs[1]]
    audio = offs[1:] + [len(base)]
    p0 = os.path.join(WORK, "whole.mp3")
    with open(p0, "wb") as f:
        f.write(base)
    whole = {n: channel0(pcm(ds[n](p0)), ch) for n in names}
    rows = []
    for t0, t1, P in ((40000, 100000, 0), (40000, 100000, 1), (40000, 100000, 2), (40000, 100000, 3),
                      (1000, 131000, 1), (70001, 70001 + 44100, 2)):
        first = (t0 + D) // spf  # audio frame holding the mark in the encoder's timeline
        i0 = max(0, first - P)
        d = t0 + D - i0 * spf
        i1 = (t1 - 1 + D + 529) // spf
        i1 = min(i1, len(offs) - 2)
        n = i1 - i0 + 1
        pad = n * spf - d - (t1 - t0)
        if d > 4095 or pad > 4095 or pad < 0:
            rows.append((f"t0={t0} t1={t1} P={P}", ["out of range"] * len(names)))
            continue
        body = base[audio[i0]:audio[i1 + 1]]
        data = patch(info + body, delay=d, padding=pad, frames=n, nbytes=len(info) + len(body))
        p = os.path.join(WORK, f"cut-{t0}-{P}.mp3")
        with open(p, "wb") as f:
            f.write(data)
        cells = []
        for nm in names:
            x = channel0(pcm(ds[nm](p)), ch)
            want = whole[nm][t0:t1]
            diff = [i for i in range(min(len(x), len(want))) if abs(x[i] - want[i]) > 2]
            cells.append(f"n={len(x)}/{len(want)} " + ("exact" if not diff and len(x) == len(want) else
                                                       f"{len(diff)} differ, last at {diff[-1] if diff else '-'}"))
        F = (t0 + D + 529) // spf  # frame whose output holds the first wanted sample
        need = 1 + frames_back(base, offs, F - 1) if F > 0 else 0
        rows.append((f"t0={t0} t1={t1} P={P} (delay {d}, padding {pad}; reservoir wants P>={need})", cells))
    table("simulated cuts: frames copied with P extra in front, delay/padding set for [t0, t1)", rows, names)


if __name__ == "__main__":
    main()
