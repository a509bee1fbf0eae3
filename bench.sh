#!/usr/bin/env bash
# Builds with optimisation, makes a file of at least 1 GiB from a fixture
# repeated (in a temporary folder, removed afterwards) and runs every
# benchmark under bench/, each reporting medians and ratios measured side by
# side in this one run: the two commands of a comparison in turn, the ratio
# taken pair by pair. RUNS pairs (default 11); the machine should be idle.
# Builds in build-bench/, a folder of its own: ./run.sh and ./test.sh use
# others.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" time bc mpg123

BUILD=build-bench
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSEGMORA_BUILD_TESTS=OFF -DSEGMORA_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" -j "$(build_jobs)"
CLI=$BUILD/cli/segmora-cli
RUNS=${RUNS:-11}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/segmora-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# The source: one CBR fixture repeated until the file passes 1 GiB. A Layer
# III stream stays a valid stream when its frames are repeated.
# SEED=tests/data/layer2.mp3 measures a stream without an information
# frame, whose outputs get none and need no pass over their audio bytes.
SEED=${SEED:-tests/data/cbr-128-info.mp3}
BIG=$WORK/big.mp3
python3 - "$SEED" "$BIG" <<'PY'
import sys
src, dst = sys.argv[1], sys.argv[2]
data = open(src, 'rb').read()
# Leave out a trailing ID3v1 tag so the copies join frame to frame.
if len(data) >= 128 and data[-128:-125] == b'TAG':
    data = data[:-128]
block = data * max(1, (64 << 20) // len(data))
with open(dst, 'wb') as out:
    written = 0
    while written < (1 << 30):
        out.write(block)
        written += len(block)
PY

# The new file, and whatever else waits to be written, goes to the disk now:
# left dirty, it would be written back in the middle of the runs and slow
# down whichever run that happens to be.
sync

export BUILD CLI RUNS WORK BIG
echo "Source: $(stat -c %s "$BIG") bytes; medians of $RUNS runs or pairs."
for bench in bench/[0-9]*.sh; do
    bash "$bench"
done
