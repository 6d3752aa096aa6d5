#!/usr/bin/env bash
# Fails when a C++, Objective-C++ or header file of the repository does not
# match its .clang-format (clang-format 14, as Debian 12 ships it), or when a
# CMake file does not pass cmake-lint with .cmake-format.py. No C++ formatter
# touches a CMake file: they are formatted by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
formatter=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$formatter" ]; then
  echo "check-format: clang-format not found (Debian package: clang-format)" >&2
  exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.hpp' '*.h' '*.mm')
if ! "$formatter" --dry-run --Werror "${files[@]}"; then
  echo "check-format: run clang-format -i on the files above" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files match .clang-format"

linter=$(command -v cmake-lint || true)
if [ -z "$linter" ]; then
  echo "check-format: cmake-lint not found (Debian package: cmake-format)" >&2
  exit 1
fi
mapfile -t cmake_files < <(git ls-files 'CMakeLists.txt' '*/CMakeLists.txt' '*.cmake')
if ! "$linter" --suppress-decorations "${cmake_files[@]}" -c .cmake-format.py; then
  echo "check-format: cmake-lint found the problems above" >&2
  exit 1
fi
echo "check-format: ${#cmake_files[@]} CMake files pass cmake-lint"
