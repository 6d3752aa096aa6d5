#!/bin/sh
# Compiles every Objective-C++ file of the macOS layer for arm64 macOS 13
# against the declaration stubs, so that the Linux test suite fails when a file
# stops compiling or calls a macOS 14 interface outside an availability check.
# It also makes sure that each file refuses to compile without ARC.
#
# Usage: compile_check.sh SOURCE_ROOT STUB_DIR
#   SOURCE_ROOT  the folder that holds platform/apple/ and stores/ (the src folder)
#   STUB_DIR     the folder that holds Foundation/, EventKit/ and Contacts/
# The compiler is clang++, or $PIMBRIDGE_CLANGXX when set.

set -u

if [ "$#" -ne 2 ]; then
  echo "usage: $0 SOURCE_ROOT STUB_DIR" >&2
  exit 2
fi
source_root=$1
stubs=$2
clangxx=${PIMBRIDGE_CLANGXX:-clang++}
libcxx_headers=/usr/lib/llvm-14/include/c++/v1
arm64_libc_headers=/usr/aarch64-linux-gnu/include

# A missing tool is a failure, not a skip: the check would otherwise pass
# without having compiled anything.
if ! command -v "$clangxx" >/dev/null 2>&1; then
  echo "compile_check: $clangxx not found (Debian packages: clang, libc++-14-dev, libc6-dev-arm64-cross)" >&2
  exit 1
fi
for dir in "$libcxx_headers" "$arm64_libc_headers"; do
  if [ ! -d "$dir" ]; then
    echo "compile_check: $dir not found (Debian packages: libc++-14-dev, libc6-dev-arm64-cross)" >&2
    exit 1
  fi
done

# Compiles one file for macOS; further arguments come first on the command line.
compile_for_macos() {
  file=$1
  shift
  "$clangxx" "$@" -target arm64-apple-macos13 -std=c++20 -x objective-c++ \
    -fblocks -Werror -Wunguarded-availability-new \
    -stdlib=libc++ -nostdlibinc -nostdinc++ \
    -isystem "$libcxx_headers" -idirafter "$arm64_libc_headers" \
    -U__nonnull -D_GNU_SOURCE -I "$stubs" -I "$source_root" "$file"
}

status=0
count=0
for file in "$source_root"/platform/apple/*.mm; do
  if [ ! -e "$file" ]; then
    echo "compile_check: no .mm files in $source_root/platform/apple" >&2
    exit 1
  fi
  count=$((count + 1))

  if compile_for_macos "$file" -fobjc-arc -c -o /dev/null; then
    echo "ok: $file"
  else
    echo "FAILED: $file does not compile for arm64-apple-macos13" >&2
    status=1
  fi

  without_arc=$(compile_for_macos "$file" -fno-objc-arc -fsyntax-only 2>&1)
  if [ $? -eq 0 ] || ! printf '%s\n' "$without_arc" | grep -q "requires ARC"; then
    echo "FAILED: $file does not refuse to compile without ARC" >&2
    status=1
  fi
done

echo "compile_check: $count files checked"
exit "$status"
