#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite,
# then builds the Qt-free core and engine again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs their tests. Builds in build/ and
# build-sanitize/, folders of its own: ./run.sh and ./bench.sh use others.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/ensure-packages.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=$(build_jobs)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSEGMORA_WERROR=ON \
    -DSEGMORA_BUILD_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSEGMORA_CORE_ONLY=ON -DSEGMORA_WERROR=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs" --timeout 600
echo "All tests passed."
