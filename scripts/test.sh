#!/usr/bin/env bash
# Builds pimbridge and runs every test: the whole suite in the normal build,
# then the tests where threads meet under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# A sanitizer report ends the run that made it, which fails its test.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
export ASAN_OPTIONS="halt_on_error=1 detect_leaks=0"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"

cmake --preset default
cmake --build --preset default
ctest --preset default

cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan -R 'SlowFetches|AccessWait|Answers|Versions|Access\.|Threshold|AtMostOnce'
