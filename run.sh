#!/usr/bin/env bash
# Installs what is missing, builds and starts Segmora. Arguments are passed
# to the program: ./run.sh [FILE]. ./run.sh --cli ARGS... runs segmora-cli
# with ARGS instead.
#
# Builds only what it runs (segmora, segmora-cli and its player, no tests
# and no benchmarks) in a folder of its own, build-run/: ./test.sh and
# ./bench.sh keep theirs, so running one never makes another rebuild, and
# two of them can run at once. Without debug information, as installed: that
# takes a quarter less time to build than with it.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"

BUILD=build-run
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSEGMORA_BUILD_TESTS=OFF -DSEGMORA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$BUILD" -j "$(build_jobs)"
if [ "${1-}" = "--cli" ]; then
    shift
    exec "$BUILD/cli/segmora-cli" "$@"
fi
exec "$BUILD/ui/segmora" "$@"
