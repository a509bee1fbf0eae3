#!/usr/bin/env python3
"""How close segmora-cli's cuts come to the sample, with --exact and without,
as every decoder on this machine plays them.

Each source is cut at many places (marks on a frame boundary and one sample
after one, in the first and the last frame played, shorter than a frame,
random ones) and split three ways (--parts, --equal-time, --at), each job
once with --exact and once without. Every output and the source are decoded
with each decoder found: mpg123, libmpg123, ffmpeg, GStreamer's decodebin
and playbin.

The clock: the span a player plays of a source with an encoder extension
(one that names its encoder) is [delay + 529, frames x spf - max(0, padding
- 529)) of its untrimmed decode, counted from its first audio frame; of
another source, all of it. Without --exact, a mark of t seconds is sample
round(t x rate) of the untrimmed decode; with it, that many samples after
the start of the span. Either way a selection is clamped to the span, and
each cut is aimed at the same samples in both modes. Decoded by a decoder
that applies its header, an
exact output must give the source's untrimmed samples [s0, s1): that many,
none more than 1 LSB off. Each decoder is held to its own arithmetic: its
untrimmed decode of the source is its decode of the source's audio frames
alone.

Reported per decoder and mode: outputs whose length is the selection's, the
largest sample difference over the selection, outputs bit for bit right; for
splits also whether the parts decoded and joined equal the decoded source,
and how many samples they hold against it.

--check exits 1 when an exact output was not made, or fails that bar with a
decoder that applies its header; or when a split without --exact loses or
doubles frames: its parts decoded whole (their headers set aside, libmpg123
with gapless off) must hold as many samples as the source decoded whole.
With the headers applied, every part but the first loses the decoder's own
529 samples at its start; the splits table shows it, and --exact is what
takes it away.

Usage: measure-exact.py --cli SEGMORA_CLI --build DIR [--data DIR]
                        [--corpus DIR] [--check] [--jobs N]
The C helpers are compiled into DIR; the outputs go to a temporary folder.
"""

import argparse
import concurrent.futures
import operator
import os
import random
import shutil
import subprocess
import sys
import tempfile

from decoding import APPLIES_HEADER, Stream, build_helpers, decoders, pcm, run

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = ("burst-44k.mp3", "burst-22k.mp3", "burst-8k.mp3", "burst-44k-t.mp3", "burst-xing.mp3",
            "burst-lavc.mp3", "vbr.mp3", "cbr-128-info.mp3", "mpeg2-l3.mp3")
MEASURED = ("mpg123", "libmpg123", "ffmpeg", "gst-decodebin", "gst-playbin")
MODES = ("exact", "plain")
DECODER_DELAY = 529
BAR = 1  # LSB an exact output may be off
# Decoders that can't trim both ends of one decoded frame: a selection within
# one frame of the source plays too long whatever the header says.
ONE_END_A_FRAME = ("ffmpeg", "gst-decodebin", "gst-playbin")
RANDOM_CUTS = 4
MIN_FRAMES = 12


# ------------------------------------------------------------------ the clock

def sample_at(ms, rate):
    """The sample a mark of ms milliseconds stands for, round(ms / 1000 x
    rate); None when it lies halfway between two."""
    q, r = divmod(ms * rate, 1000)
    return None if r == 500 else q + (r > 500)


def ms_for(sample, rate):
    """A mark in whole milliseconds that stands for exactly this sample, or
    None when none does (44.1 samples a millisecond skip some)."""
    m = sample * 1000 // rate
    for c in (m - 1, m, m + 1, m + 2):
        if c >= 0 and sample_at(c, rate) == sample:
            return c
    return None


def untied(ms, rate):
    """ms, or the next mark on that stands for one sample."""
    while sample_at(ms, rate) is None:
        ms += 1
    return ms


def ms_near(sample, rate):
    return untied(max(0, round(sample * 1000 / rate)), rate)


def cli_time(ms):
    return f"{ms // 1000}.{ms % 1000:03d}"


class Source:
    """A file to cut, its stream, and the span its selections are clamped to."""

    def __init__(self, path, name, work, key):
        self.path, self.name = path, name
        data = open(path, "rb").read()
        s = Stream(data)
        self.stream = s
        if not s.ok or len(s.audio) < MIN_FRAMES:
            return
        self.rate, self.spf, self.ch = s.rate, s.spf, s.channels
        self.total = len(s.audio) * s.spf
        trimmed = bool(s.encoder)
        self.lo = min(self.total, s.delay + DECODER_DELAY) if trimmed else 0
        self.hi = self.total - min(max(0, s.padding - DECODER_DELAY), self.total - self.lo)
        self.key = key
        # A plain name for the GStreamer pipelines, and the audio frames alone.
        self.link = os.path.join(work, self.key + ".mp3")
        os.symlink(os.path.abspath(path), self.link)
        self.bare = os.path.join(work, self.key + "-audio.mp3")
        with open(self.bare, "wb") as f:
            f.write(s.audio_bytes(data))

    def decoded_whole(self, whole):
        """Whether the stream is the one the reference decoder hears; notes
        where the source is loudest."""
        x = pcm(whole(self.link))[::self.ch]
        if len(x) != self.total:
            return False
        self.loudest = max(range(len(x)), key=lambda i: abs(x[i]))
        return True

    def usable(self):
        return self.stream.ok and len(self.stream.audio) >= MIN_FRAMES

    def span(self, s0, s1):
        return max(s0, self.lo), min(s1, self.hi)

    def origin(self, mode):
        """Where the marks of a mode count from, in untrimmed samples."""
        return self.lo if mode == "exact" else 0

    def describe(self):
        s = self.stream
        enc = s.encoder.rstrip(b"\0").decode("latin1") or "-"
        return (f"{self.name}: {self.rate} Hz, {len(s.audio)} frames x {self.spf}, "
                f"{'information frame' if s.info else 'no information frame'}, encoder {enc!r} "
                f"delay {s.delay} padding {s.padding}; selections within [{self.lo}, {self.hi})")


def cut_marks(src, origin):
    """(label, start, end) of each cut made of src, on the clock that starts
    at origin: the untrimmed samples its marks aim at; None for a mark that
    no millisecond on that clock makes."""
    rate, spf, n = src.rate, src.spf, len(src.stream.audio)
    second = rate

    def boundary(k0, extra):
        # The first boundary from frame k0 on that a millisecond mark hits.
        for k in range(k0, n):
            if ms_for(k * spf + extra - origin, rate) is not None:
                return k * spf + extra
        return None

    marks = []
    for label, extra in (("on a frame boundary", 0), ("a sample after a frame boundary", 1)):
        t = boundary(n // 4, extra)
        marks.append(("start " + label, t, t + second * 6 // 10) if t is not None else None)
        t = boundary(n * 3 // 5, extra)
        marks.append(("end " + label, max(0, t - second * 9 // 10), t) if t is not None else None)
    marks.append(("start at 0", 0, src.total // 2))
    marks.append(("start in the first frame played", src.lo + spf // 3, src.total // 2))
    last = (src.hi - 1) // spf * spf
    marks.append(("end in the last frame played", src.total // 2, (last + src.hi) // 2))
    marks.append(("end past the last frame", src.total // 3, src.total + second))
    # Where the sound is loudest: silence would hide a cut a few samples off.
    mid = src.loudest // spf * spf
    marks.append(("shorter than a frame, within one", mid + spf // 4, mid + spf * 3 // 4))
    marks.append(("shorter than a frame, across a boundary", mid - spf // 3, mid + spf // 3))
    rng = random.Random(src.name)
    for _ in range(RANDOM_CUTS):
        a, b = sorted(rng.sample(range(src.total + 1), 2))
        marks.append(("random", a, b))
    return marks


def mark_for(sample, origin, rate):
    """The millisecond mark, on the clock that starts at origin, that stands
    for sample: exactly where one does, else the nearest."""
    m = ms_for(sample - origin, rate)
    return m if m is not None else ms_near(max(0, sample - origin), rate)


def split_modes(src):
    end_ms = src.total * 1000 // src.rate
    return (("--parts 3", ["--parts", "3"]), ("--equal-time 3", ["--equal-time", "3"]),
            ("--at", ["--at", f"{cli_time(end_ms * 37 // 100)},{cli_time(end_ms * 71 // 100)}"]))


def parse_time(text):
    seconds = 0.0
    for field in text.split(":"):
        seconds = seconds * 60 + float(field)
    return round(seconds * 1000)


# ------------------------------------------------------------------ the jobs

class Output:
    """One file a job wrote (None when the job failed), and the span of the
    source's untrimmed samples it stands for."""

    def __init__(self, path, s0, s1):
        self.path, self.s0, self.s1 = path, s0, s1
        self.encoder = None
        if path:
            s = Stream(open(path, "rb").read())
            self.encoder = s.encoder if s.ok and s.info else None

    def applied_by(self, decoder):
        return self.encoder is not None and APPLIES_HEADER[decoder](self.encoder)


def cli(args, exact):
    r = subprocess.run(args + ["--no-tags", "--quiet"] + (["--exact"] if exact else []),
                       capture_output=True, text=True, timeout=300)
    return r.returncode == 0


def make_cuts(src, exe, work):
    """[(label, {mode: Output})] of every cut of src that either mode made."""
    cuts = []
    marks = {mode: cut_marks(src, src.origin(mode)) for mode in MODES}
    for i in range(len(marks[MODES[0]])):
        made, times, label = {}, [], None
        for mode in MODES:
            if marks[mode][i] is None:
                continue
            label, t0, t1 = marks[mode][i]
            origin = src.origin(mode)
            a, b = mark_for(t0, origin, src.rate), mark_for(t1, origin, src.rate)
            s0, s1 = src.span(origin + sample_at(a, src.rate), origin + sample_at(b, src.rate))
            if s0 >= s1:
                continue
            out = os.path.join(work, f"{src.key}-cut{i}-{mode}.mp3")
            ok = cli([exe, "cut", src.path, "--start", cli_time(a), "--end", cli_time(b), "--out", out],
                     mode == "exact")
            made[mode] = Output(out if ok else None, s0, s1)
            times.append(f"{cli_time(a)}-{cli_time(b)}")
        if any(o.path for o in made.values()):
            cuts.append((f"{label} {' / '.join(times)}", made))
    return cuts


def make_splits(src, exe, work):
    """[(label, {mode: [Output of each part]})] of every split of src; an
    exact part stands for its span, the plan's cuts (frame boundaries) with
    the source's clamped ends."""
    splits = []
    for i, (label, mode_args) in enumerate(split_modes(src)):
        folder = os.path.join(work, f"{src.key}-split{i}")
        made = {}
        for mode in MODES:
            flag = ["--exact"] if mode == "exact" else []
            r = subprocess.run([exe, "split", src.path, "--folder", folder, "--prefix", "p", "--dry-run"]
                               + mode_args + flag, capture_output=True, text=True, timeout=300)
            listed = [line.split("  ") for line in r.stdout.splitlines()] if r.returncode == 0 else []
            if len(listed) < 2:
                break
            # The listed times count on the mode's clock; the cuts are frame
            # boundaries.
            origin = src.origin(mode)
            cuts = [round((origin + parse_time(start) * src.rate / 1000) / src.spf) * src.spf
                    for start, _, _ in listed[1:]]
            bounds = [src.lo] + [min(max(c, src.lo), src.hi) for c in cuts] + [src.hi]
            ok = cli([exe, "split", src.path, "--folder", f"{folder}-{mode}", "--prefix", "p"] + mode_args,
                     mode == "exact")
            made[mode] = [Output(os.path.join(f"{folder}-{mode}", os.path.basename(name)) if ok else None,
                                 bounds[k], bounds[k + 1]) for k, (_, _, name) in enumerate(listed)]
        if len(made) == len(MODES):
            splits.append((label, made))
    return splits


# ------------------------------------------------------------ the comparing

def max_diff(x, y):
    n = min(len(x), len(y))
    if n == 0:
        return None
    if x[:n] == y[:n]:
        return 0
    return max(map(abs, map(operator.sub, x[:n], y[:n])))


class Tally:
    """The figures of one row: decoder, mode, whether it applies the header."""

    def __init__(self):
        self.outputs = self.missing = self.right_length = self.within_bar = self.identical = 0
        self.diff = None
        self.joined = self.joined_equal = 0
        self.joined_off = []

    def add(self, length_ok, diff):
        self.outputs += 1
        self.right_length += length_ok
        self.within_bar += length_ok and diff is not None and diff <= BAR
        self.identical += length_ok and diff == 0
        if diff is not None:
            self.diff = diff if self.diff is None else max(self.diff, diff)


class Measure:
    def __init__(self, ds, whole, jobs):
        self.ds, self.whole, self.jobs = ds, whole, jobs
        self.cuts, self.splits = {}, {}  # (decoder, mode, applied) -> Tally
        self.failures = []
        self.limits = []  # what no header can make a decoder do
        self.whole_counts = {}  # mode -> [equal, splits]
        self.exact_alike = [0, 0]  # exact outputs byte for byte as without --exact, of all

    def decode_all(self, paths, whole):
        tasks = [(d, p) for p in paths for d in self.ds] + [("whole", p) for p in whole]
        with concurrent.futures.ThreadPoolExecutor(self.jobs) as pool:
            pcms = pool.map(lambda t: pcm(self.ds[t[0]](t[1]) if t[0] != "whole" else self.whole(t[1])), tasks)
            return dict(zip(tasks, pcms))

    def judge(self, tally, out, x, ref, src, where, decoder, mode):
        """Adds output out, decoded as x, to tally; ref is the decoder's
        untrimmed decode of the source."""
        ch = src.ch
        length_ok = len(x) // ch == out.s1 - out.s0
        diff = max_diff(x, ref[out.s0 * ch:out.s1 * ch])
        tally.add(length_ok, diff)
        if mode == "exact" and out.applied_by(decoder) and (not length_ok or diff is None or diff > BAR):
            what = f"{where}, {decoder}: {len(x) // ch} samples for {out.s1 - out.s0}, off by up to {diff}"
            within_one = out.s0 // src.spf == (out.s1 - 1) // src.spf
            (self.limits if within_one and decoder in ONE_END_A_FRAME else self.failures).append(what)

    def source(self, src, exe, work):
        cuts, splits = make_cuts(src, exe, work), make_splits(src, exe, work)
        outputs = [o for _, made in cuts for o in made.values()] + \
                  [o for _, made in splits for parts in made.values() for o in parts]
        plain_parts = [p.path for _, made in splits for p in made["plain"] if p.path]
        pcms = self.decode_all([src.link, src.bare] + [o.path for o in outputs if o.path], plain_parts)
        for d in self.ds:
            if len(pcms[(d, src.bare)]) != src.total * src.ch:
                print(f"note: {d} decodes the audio frames of {src.name} to "
                      f"{len(pcms[(d, src.bare)]) // src.ch} samples, not {src.total}: left out")
        ds = [d for d in self.ds if len(pcms[(d, src.bare)]) == src.total * src.ch]

        for label, made in cuts:
            if len(made) == len(MODES):
                self.count_alike(made["exact"].path, made["plain"].path)
            for mode, out in made.items():
                where = f"{src.name} cut {label} ({mode})"
                if not out.path:
                    if mode == "exact":
                        self.failures.append(f"{where}: not made")
                    for d in ds:
                        self.cuts.setdefault((d, mode, "-"), Tally()).missing += 1
                    continue
                for d in ds:
                    key = (d, mode, "yes" if out.applied_by(d) else "no")
                    self.judge(self.cuts.setdefault(key, Tally()), out, pcms[(d, out.path)],
                               pcms[(d, src.bare)], src, where, d, mode)

        for label, made in splits:
            for a, b in zip(made["exact"], made["plain"]):
                self.count_alike(a.path, b.path)
            for mode, parts in made.items():
                where = f"{src.name} split {label} ({mode})"
                if not all(p.path for p in parts):
                    if mode == "exact":
                        self.failures.append(f"{where}: not made")
                    continue
                if mode == "plain":
                    held = sum(len(pcms[("whole", p.path)]) for p in parts) // src.ch
                    tally = self.whole_counts.setdefault(mode, [0, 0])
                    tally[0] += held == src.total
                    tally[1] += 1
                    if held != src.total:
                        self.failures.append(f"{where}: the parts decoded whole hold {held} samples, "
                                             f"the source {src.total}")
                for d in ds:
                    tally = self.splits.setdefault((d, mode, "yes" if parts[0].applied_by(d) else "no"),
                                                   Tally())
                    joined = []
                    for k, p in enumerate(parts):
                        x = pcms[(d, p.path)]
                        joined.extend(x)
                        self.judge(tally, p, x, pcms[(d, src.bare)], src, f"{where} part {k + 1}", d, mode)
                    played = pcms[(d, src.link)]
                    tally.joined += 1
                    off = (len(joined) - len(played)) // src.ch
                    tally.joined_off.append(off)
                    diff = max_diff(joined, played)
                    tally.joined_equal += off == 0 and diff is not None and diff <= BAR
        print(f"  {len(cuts)} cuts, {len(splits)} splits")

    def count_alike(self, a, b):
        if a and b:
            self.exact_alike[1] += 1
            self.exact_alike[0] += open(a, "rb").read() == open(b, "rb").read()


# ------------------------------------------------------------------ report

def table(title, head, rows):
    print(f"\n## {title}\n")
    widths = [max(len(str(r[i])) for r in [head] + rows) for i in range(len(head))]
    for r in [head, ["-" * w for w in widths]] + rows:
        print("| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |")


def report(m):
    order = {d: i for i, d in enumerate(MEASURED)}

    def keys(tallies):
        return sorted(tallies, key=lambda k: (order[k[0]], MODES.index(k[1]), k[2]))

    def dash(v):
        return "-" if v is None else v

    rows = []
    for k in keys(m.cuts):
        t = m.cuts[k]
        rows.append(list(k) + [t.outputs, t.missing, f"{t.right_length}/{t.outputs - t.right_length}",
                               t.within_bar, t.identical, dash(t.diff)])
    table("Cuts", ["decoder", "mode", "header applied", "outputs", "not made", "length right yes/no",
                   f"within {BAR} LSB", "bit-identical", "max diff"], rows)
    rows = []
    for k in keys(m.splits):
        t = m.splits[k]
        offs = sorted(set(t.joined_off))
        rows.append(list(k) + [t.joined, t.outputs, f"{t.right_length}/{t.outputs - t.right_length}",
                               t.within_bar, dash(t.diff), f"{t.joined_equal}/{t.joined - t.joined_equal}",
                               ", ".join(f"{o:+d}" for o in offs)])
    table("Splits", ["decoder", "mode", "header applied", "splits", "parts", "length right yes/no",
                     f"within {BAR} LSB", "max diff", "joined = source yes/no", "joined - source"], rows)
    for mode, (equal, total) in m.whole_counts.items():
        print(f"\nSplits without --exact whose parts, decoded whole, hold the source's samples: "
              f"{equal} of {total}")
    alike, total = m.exact_alike
    if total and alike == total:
        print(f"\nNote: every output made with --exact ({total}) is byte for byte the one made "
              f"without it: this segmora-cli does not cut to the sample.")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--cli", required=True, help="segmora-cli to measure")
    ap.add_argument("--build", required=True, help="folder for the C helpers")
    ap.add_argument("--data", default=os.path.join(HERE, "..", "data"), help="the fixtures' folder")
    ap.add_argument("--corpus", help="a folder whose MP3 files are measured too (only read)")
    ap.add_argument("--check", action="store_true", help="exit 1 when an output fails the bar")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    args = ap.parse_args()

    helpers = build_helpers(args.build)
    found = decoders(helpers)
    ds = {d: found[d] for d in MEASURED if d in found}
    if "m123" in helpers:
        def whole(p):
            return run([helpers["m123"], p, "nogapless"]).stdout
    elif shutil.which("mpg123"):
        def whole(p):
            return run(["mpg123", "--no-gapless", "-q", "-s", p]).stdout
    else:
        print("neither libmpg123 nor mpg123 is here: nothing to measure with")
        return 77
    print("decoders:", ", ".join(ds), "| missing:", ", ".join(d for d in MEASURED if d not in ds) or "none")

    names = [(os.path.join(args.data, f), f) for f in FIXTURES]
    if args.corpus and os.path.isdir(args.corpus):
        for folder, _, files in sorted(os.walk(args.corpus)):
            names += [(os.path.join(folder, f), os.path.relpath(os.path.join(folder, f), args.corpus))
                      for f in sorted(files) if f.lower().endswith(".mp3")]

    work = tempfile.mkdtemp(prefix="measure-exact-")
    try:
        m = Measure(ds, whole, max(1, args.jobs))
        exe = os.path.abspath(args.cli)
        for i, (path, name) in enumerate(names):
            src = Source(path, name, work, f"s{i}")
            if not src.usable():
                if name in FIXTURES:
                    m.failures.append(f"{name}: no Layer III stream of {MIN_FRAMES} frames found")
                continue
            if not src.decoded_whole(m.whole):
                print(f"note: {name}: libmpg123 counts other frames than this script: left out")
                continue
            print(src.describe())
            m.source(src, exe, work)
        report(m)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for title, items in (("Known limits, not failures: a selection within one frame, with a decoder "
                          "that trims one end of a frame", m.limits), ("Failures", m.failures)):
        if items:
            print(f"\n{title}: {len(items)}" + (", the first 40" if len(items) > 40 else ""))
            for f in items[:40]:
                print("  " + f)
    return 1 if args.check and m.failures else 0


if __name__ == "__main__":
    sys.exit(main())
