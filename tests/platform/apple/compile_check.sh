#!/bin/sh
# Makes sure that each Objective-C++ file of the macOS layer refuses to compile
# without ARC. Against a real macOS SDK it also compiles every file for each
# target a build may choose (arm64 at deployment targets 13, 14 and 15, and
# x86_64 at 13 for a universal binary), with warnings as errors, so that the
# test suite fails when a file stops compiling, calls a macOS 14 interface
# outside an availability check, or calls one that is deprecated at a later
# target. Against the stand-in SDK those compilations are the cross build's
# (the macos-cross presets), which compiles and links the whole tool.
#
# Usage: compile_check.sh SOURCE_ROOT STAND_IN_SDK [SDK]
#   SOURCE_ROOT   the folder that holds platform/apple/ and stores/ (the src folder)
#   STAND_IN_SDK  the repository's stand-in SDK (cmake/macos-sdk-standin)
#   SDK           a macOS SDK folder; when given and not empty the files are
#                 compiled against its headers and its libc++ instead
# The compiler is clang++, or $PIMBRIDGE_CLANGXX when set.

set -u

if [ "$#" -lt 2 ] || [ "$#" -gt 3 ]; then
  echo "usage: $0 SOURCE_ROOT STAND_IN_SDK [SDK]" >&2
  exit 2
fi
source_root=$1
standin=$2
sdk=${3:-}
clangxx=${PIMBRIDGE_CLANGXX:-clang++}
targets="arm64-apple-macos13 arm64-apple-macos14 arm64-apple-macos15 x86_64-apple-macos13"
libcxx_headers=/usr/lib/llvm-14/include/c++/v1

# A missing tool or folder is a failure, not a skip: the check would otherwise
# pass without having compiled anything.
if ! command -v "$clangxx" >/dev/null 2>&1; then
  echo "compile_check: $clangxx not found (Debian packages: clang, libc++-14-dev," \
    "libc6-dev-arm64-cross, libc6-dev-amd64-cross)" >&2
  exit 1
fi

# The C library headers of the Linux system with the target's architecture;
# with the stand-in SDK they take the place of the SDK's.
libc_headers_for() {
  case $1 in
    arm64-*) echo /usr/aarch64-linux-gnu/include ;;
    x86_64-*) echo /usr/x86_64-linux-gnu/include ;;
  esac
}

if [ -n "$sdk" ]; then
  if [ ! -d "$sdk/usr/include" ]; then
    echo "compile_check: $sdk is not a macOS SDK (no usr/include)" >&2
    exit 1
  fi
  # The SDK's own libc++ when it carries one; older SDKs leave it to the compiler.
  if [ -d "$sdk/usr/include/c++/v1" ]; then
    sdk_libcxx="$sdk/usr/include/c++/v1"
    echo "compile_check: against the SDK at $sdk, with its libc++"
  else
    sdk_libcxx=""
    echo "compile_check: against the SDK at $sdk, with the compiler's libc++"
  fi
else
  for target in $targets; do
    for dir in "$libcxx_headers" "$(libc_headers_for "$target")"; do
      if [ ! -d "$dir" ]; then
        echo "compile_check: $dir not found (Debian packages: libc++-14-dev," \
          "libc6-dev-arm64-cross, libc6-dev-amd64-cross)" >&2
        exit 1
      fi
    done
  done
  echo "compile_check: against the stand-in SDK in $standin"
  # The per-target compilations are the cross build's.
  targets=""
fi

# Compiles one file for one target; further arguments come first on the
# command line. NOTE: Darwin targets predefine __nonnull, which breaks glibc's
# headers, so the stand-in's headers spell nullability _Nullable and _Nonnull.
compile_for() {
  file=$1
  target=$2
  shift 2
  if [ -n "$sdk" ] && [ -n "$sdk_libcxx" ]; then
    set -- "$@" -isysroot "$sdk" -stdlib=libc++ -nostdinc++ -isystem "$sdk_libcxx"
  elif [ -n "$sdk" ]; then
    set -- "$@" -isysroot "$sdk" -stdlib=libc++
  else
    set -- "$@" -isysroot "$standin" -stdlib=libc++ -nostdinc++ -isystem "$libcxx_headers" \
      -idirafter "$(libc_headers_for "$target")" -U__nonnull -D_GNU_SOURCE
  fi
  "$clangxx" "$@" -target "$target" -std=c++20 -x objective-c++ -fblocks \
    -Werror -Wall -Wextra -Wpedantic -Wunguarded-availability-new -Wdeprecated-declarations \
    -I "$source_root" "$file"
}

status=0
count=0
for file in "$source_root"/platform/apple/*.mm; do
  if [ ! -e "$file" ]; then
    echo "compile_check: no .mm files in $source_root/platform/apple" >&2
    exit 1
  fi
  count=$((count + 1))

  for target in $targets; do
    if compile_for "$file" "$target" -fobjc-arc -c -o /dev/null; then
      echo "ok: $file for $target"
    else
      echo "FAILED: $file does not compile for $target" >&2
      status=1
    fi
  done

  without_arc=$(compile_for "$file" arm64-apple-macos13 -fno-objc-arc -fsyntax-only 2>&1)
  if [ $? -eq 0 ] || ! printf '%s\n' "$without_arc" | grep -q "requires ARC"; then
    echo "FAILED: $file does not refuse to compile without ARC" >&2
    status=1
  fi
done

echo "compile_check: $count files checked for ${targets:-ARC only}"
exit "$status"
