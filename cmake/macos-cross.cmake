# Toolchain file that builds the macOS tool on Linux with Debian 12's LLVM 14:
# clang for <arch>-apple-macos<version>, ld64.lld as the Mach-O linker and
# llvm-lipo for the universal binary. CMAKE_SYSTEM_NAME is Darwin, so APPLE is
# true and the project builds the apple platform through the same CMake files
# as on a Mac; CMAKE_OSX_ARCHITECTURES and CMAKE_OSX_DEPLOYMENT_TARGET mean
# what they mean there.
#
# The SDK is the one PIMBRIDGE_MACOS_SDK names (a macOS SDK folder copied to
# this machine); when it is empty, the stand-in SDK in macos-sdk-standin/,
# which declares only what the tool uses, so that the tool compiles and links
# against the system's install names. A stand-in build is a build and link
# check, not a binary to run: its C library headers are glibc's.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)

set(pimbridge_llvm_bin /usr/lib/llvm-14/bin)
set(CMAKE_CXX_COMPILER ${pimbridge_llvm_bin}/clang++)
set(CMAKE_OBJCXX_COMPILER ${pimbridge_llvm_bin}/clang++)
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-macos${CMAKE_OSX_DEPLOYMENT_TARGET})
set(CMAKE_OBJCXX_COMPILER_TARGET arm64-apple-macos${CMAKE_OSX_DEPLOYMENT_TARGET})
set(CMAKE_AR ${pimbridge_llvm_bin}/llvm-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${pimbridge_llvm_bin}/llvm-ranlib CACHE FILEPATH "Archive indexer")
set(CMAKE_OTOOL ${pimbridge_llvm_bin}/llvm-otool CACHE FILEPATH "Mach-O reader")
set(CMAKE_INSTALL_NAME_TOOL ${pimbridge_llvm_bin}/llvm-install-name-tool CACHE FILEPATH "Mach-O install name editor")

# With more than one architecture every object is universal, so a static
# library must be a universal archive (one archive per architecture), which
# the linker opens at the slice it links.
foreach(lang CXX OBJCXX)
  set(CMAKE_${lang}_CREATE_STATIC_LIBRARY
      "${pimbridge_llvm_bin}/llvm-libtool-darwin -static -o <TARGET> <LINK_FLAGS> <OBJECTS>")
endforeach()

set(PIMBRIDGE_MACOS_SDK "" CACHE PATH "macOS SDK to build against; empty: the repository's stand-in SDK")
if(PIMBRIDGE_MACOS_SDK STREQUAL "")
  set(PIMBRIDGE_MACOS_STANDIN ON)
  set(CMAKE_OSX_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/macos-sdk-standin)
else()
  if(NOT EXISTS "${PIMBRIDGE_MACOS_SDK}/usr/include")
    message(FATAL_ERROR "PIMBRIDGE_MACOS_SDK: ${PIMBRIDGE_MACOS_SDK} is not a macOS SDK (no usr/include)")
  endif()
  set(PIMBRIDGE_MACOS_STANDIN OFF)
  set(CMAKE_OSX_SYSROOT ${PIMBRIDGE_MACOS_SDK})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PIMBRIDGE_MACOS_SDK)

# NOTE: given several -arch flags the driver builds each slice and joins them
# with a program named lipo, which -B finds in macos-cross-bin/. It chooses
# the linker's flags by the linker's version: without one it passes the old
# -macosx_version_min, which ld64.lld refuses, so it is told of an ld64 that
# takes -platform_version.
set(pimbridge_driver_flags "-stdlib=libc++ -B${CMAKE_CURRENT_LIST_DIR}/macos-cross-bin")
set(pimbridge_compile_flags "${pimbridge_driver_flags}")
set(pimbridge_link_flags "${pimbridge_driver_flags} -fuse-ld=lld -mlinker-version=711")
if(NOT PIMBRIDGE_MACOS_STANDIN AND EXISTS "${PIMBRIDGE_MACOS_SDK}/usr/include/c++/v1")
  # The SDK's own libc++ headers, which match its libc++, rather than the
  # compiler's (older SDKs leave the headers to the compiler).
  string(APPEND pimbridge_compile_flags " -nostdinc++ -isystem ${PIMBRIDGE_MACOS_SDK}/usr/include/c++/v1")
elseif(PIMBRIDGE_MACOS_STANDIN)
  # The stand-in has no C library headers: each slice borrows those of
  # Debian's cross C library for its architecture (-Xarch_ gives a flag to one
  # slice only, and is an unused argument when that slice is not built).
  # Darwin targets predefine __nonnull, which glibc's headers define
  # differently. The names that only these headers make are declared by
  # libborrowed-glibc-names.tbd. CMake passes the compile flags to the link as
  # well, where they do nothing.
  foreach(arch IN LISTS CMAKE_OSX_ARCHITECTURES)
    if(arch STREQUAL "arm64")
      string(APPEND pimbridge_compile_flags " -Xarch_arm64 -idirafter/usr/aarch64-linux-gnu/include")
    elseif(arch STREQUAL "x86_64")
      string(APPEND pimbridge_compile_flags " -Xarch_x86_64 -idirafter/usr/x86_64-linux-gnu/include")
    else()
      message(FATAL_ERROR "The stand-in SDK builds arm64 and x86_64, not ${arch}")
    endif()
  endforeach()
  string(APPEND pimbridge_compile_flags " -U__nonnull -D_GNU_SOURCE")
  string(APPEND pimbridge_link_flags " -lborrowed-glibc-names -Wno-unused-command-line-argument")
endif()
set(CMAKE_CXX_FLAGS_INIT "${pimbridge_compile_flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "${pimbridge_compile_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${pimbridge_link_flags}")

# Debian's LLVM has no compiler runtime for macOS, which holds the function
# that @available calls; the apple platform then builds its own.
set(PIMBRIDGE_WITHOUT_DARWIN_COMPILER_RT ON)
