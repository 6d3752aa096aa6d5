// The runtime function behind @available, for compilers that do not bring
// their macOS runtime library (a cross build on Linux with Debian's LLVM).
// Apple's toolchain links its own definition; this one answers the same
// question through Foundation.
#import <Foundation/Foundation.h>

#include <cstdint>

#if !__has_feature(objc_arc)
#error "This file requires ARC support."
#endif

// NOTE: clang compiles `@available(macOS 14.0, *)` to a call of this function
// with the platform number of macOS (1, PLATFORM_MACOS in Mach-O terms) and
// the version asked about; a non-zero answer means the running system is at
// least that version. Only macOS questions are answered "yes".
extern "C" int32_t __isPlatformVersionAtLeast(uint32_t platform, uint32_t major, uint32_t minor, uint32_t subminor) {
  constexpr uint32_t macOS = 1;
  if (platform != macOS) return 0;
  NSOperatingSystemVersion version;
  version.majorVersion = static_cast<NSInteger>(major);
  version.minorVersion = static_cast<NSInteger>(minor);
  version.patchVersion = static_cast<NSInteger>(subminor);
  return [[NSProcessInfo processInfo] isOperatingSystemAtLeastVersion:version] ? 1 : 0;
}
