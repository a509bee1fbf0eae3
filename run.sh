#!/usr/bin/env bash
# Installs what is missing, builds and starts Segmora. Arguments are passed
# to the program: ./run.sh [FILE]. ./run.sh --cli ARGS... runs segmora-cli
# with ARGS instead.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(build_jobs)"
if [ "${1-}" = "--cli" ]; then
    shift
    exec build/cli/segmora-cli "$@"
fi
exec build/ui/segmora "$@"
