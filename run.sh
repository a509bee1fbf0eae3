#!/usr/bin/env bash
# Installs what is missing, builds and starts Segmora. Arguments are passed
# to the program.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(build_jobs)"
if [ -x build/ui/segmora ]; then
    exec build/ui/segmora "$@"
fi
exec build/cli/segmora-cli "$@"
