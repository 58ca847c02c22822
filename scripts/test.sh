#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest: once in a normal
# build, once with AddressSanitizer and UndefinedBehaviorSanitizer. Exits non-zero on any failure.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/deps.sh"
jobs=$(nproc)

echo "== Build and test"
cmake -S "$top" -B "$top/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_WERROR=ON >/dev/null
cmake --build "$top/build-test" -j"$jobs"
(cd "$top/build-test" && ctest --output-on-failure -j"$jobs")

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=ON -DVANTREL_WERROR=ON -DVANTREL_BUILD_BENCH=OFF >/dev/null
cmake --build "$top/build-asan" -j"$jobs"
(cd "$top/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs" -LE "e2e|long")
