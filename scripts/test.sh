#!/usr/bin/env bash
# Builds pimbridge and runs every test: the formatting check, the whole suite
# in the normal build, the macOS tool cross-built and its binary inspected at
# each deployment target the README offers, the suite under AddressSanitizer
# with UndefinedBehaviorSanitizer, the fuzz targets for a bounded time, the tests
# where threads meet under ThreadSanitizer, an optimised (-O3) build of
# everything with its unit tests, where the compiler warns differently, and
# the tool built on vdir folders with its tests against vdirs written here,
# synced from a private Radicale by vdirsyncer and made by todoman and khard,
# and the tool built on Evolution Data Server with its tests against a private
# EDS per case, in a plain build and again under AddressSanitizer with
# UndefinedBehaviorSanitizer and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-format.sh

# A sanitizer report ends the run that made it, which fails its test.
# Its status (86) is one the tool never ends with.
export TSAN_OPTIONS="halt_on_error=1 exitcode=86 second_deadlock_stack=1"
export ASAN_OPTIONS="halt_on_error=1 exitcode=86 detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1 exitcode=86 print_stacktrace=1"

cmake --preset default
cmake --build --preset default
ctest --preset default

# The macOS tool through src/platform/apple/, universal, against the stand-in
# SDK (or the SDK that PIMBRIDGE_MACOS_SDK names): only pimbridge is built.
for preset in macos-cross macos-cross-14 macos-cross-15; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

cmake --preset asan
cmake --build --preset asan
PIMBRIDGE_SANITIZED=address ctest --preset asan --label-exclude fuzz
# Each fuzz target runs for a bounded time (60 s) from its seed corpus.
ctest --preset asan --label-regex fuzz --parallel 3

cmake --preset tsan
cmake --build --preset tsan
ctest --preset tsan --label-regex threads

cmake --preset release
cmake --build --preset release
ctest --preset release --label-exclude e2e

cmake --preset vdir
cmake --build --preset vdir
# The backend's own tests, by label; the rest ran with the default preset.
ctest --preset vdir --label-regex vdir

cmake --preset eds
cmake --build --preset eds
# The checks that do not depend on the backend ran with the default preset.
ctest --preset eds --exclude-regex '^apple_|^node_|^schema_selftest$'

# The EDS tests under the sanitizers (clang; only the tool, the seeder and
# the tests are built). The tool leads its standard error to /dev/null, so
# the harness sends each run's reports to files of its own (log_path) and
# fails on every report that is not confined to the uninstrumented libraries
# listed in tests/e2e/eds/sanitizer-libraries.txt. A report changes no exit
# status of those runs (the harness adds exitcode=0): the harness, not the
# status, judges it, so that a passed-over one does not fail the run that
# made it. The test programs' own reports end them with 86, as above. LeakSanitizer unwinds
# every allocation in full (fast_unwind_on_malloc=0): the frame-pointer
# unwinder stops at the first frame of a library built without frame
# pointers, which would hide the tool's frames below it. ThreadSanitizer checks
# only the accesses of instrumented code (ignore_noninstrumented_modules):
# GLib's own locks are invisible to it, and the tool tells it of its own
# hand-offs to its GLib thread.
export PIMBRIDGE_SANITIZER_LIBRARIES=$PWD/tests/e2e/eds/sanitizer-libraries.txt
cmake --preset eds-asan
cmake --build --preset eds-asan
ASAN_OPTIONS="halt_on_error=1 exitcode=86 detect_leaks=1 fast_unwind_on_malloc=0" \
  UBSAN_OPTIONS="halt_on_error=1 exitcode=86 print_stacktrace=1" \
  ctest --preset eds-asan
cmake --preset eds-tsan
cmake --build --preset eds-tsan
TSAN_OPTIONS="halt_on_error=1 exitcode=86 ignore_noninstrumented_modules=1 second_deadlock_stack=1" \
  ctest --preset eds-tsan
