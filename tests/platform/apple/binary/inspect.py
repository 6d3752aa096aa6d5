#!/usr/bin/env python3
"""Checks of the built macOS binary, read with LLVM's tools: what a host
application ships must be universal, built for the right macOS, carry its
Info.plist, load only the system's libraries and be signed.

Usage: inspect.py CHECK [options]; every check prints what it saw and ends
with status 1 when the binary is not as it should be."""
import argparse
import os
import plistlib
import subprocess
import sys
import tempfile

ARCHS = ["arm64", "x86_64"]
USAGE_KEYS = ["NSRemindersUsageDescription", "NSRemindersFullAccessUsageDescription",
              "NSContactsUsageDescription"]
ENTITLEMENTS = ["com.apple.security.personal-information.calendars",
                "com.apple.security.personal-information.addressbook"]
# The libraries a build must load, by their install names.
SYSTEM_LIBRARIES = {
    "/System/Library/Frameworks/Foundation.framework/Versions/C/Foundation",
    "/System/Library/Frameworks/EventKit.framework/Versions/A/EventKit",
    "/System/Library/Frameworks/Contacts.framework/Versions/A/Contacts",
    "/usr/lib/libobjc.A.dylib",
    "/usr/lib/libc++.1.dylib",
    "/usr/lib/libSystem.B.dylib",
}
# Foundation re-exports CoreFoundation, and the linker records it as a library
# of its own when the binary uses one of its names (string literals do).
COREFOUNDATION = "/System/Library/Frameworks/CoreFoundation.framework/Versions/A/CoreFoundation"
# The stand-in SDK's library of names that only its borrowed C headers make.
BORROWED_NAMES_LIBRARY = "/usr/lib/pimbridge-standin/libborrowed-glibc-names.dylib"


def run(tools, tool, *args):
    return subprocess.run([os.path.join(tools, tool), *args], check=True, capture_output=True,
                          text=True).stdout


def slices(options, scratch):
    """Each architecture's slice as a file of its own."""
    for arch in ARCHS:
        thin = os.path.join(scratch, arch)
        run(options.tools, "llvm-lipo", options.binary, "-thin", arch, "-output", thin)
        yield arch, thin


def load_commands(options, thin):
    """The load commands as lists of their `key value` lines."""
    commands = []
    for line in run(options.tools, "llvm-otool", "-l", thin).splitlines():
        words = line.split(None, 1)
        if words and words[0] == "cmd":
            commands.append({"cmd": words[1].strip()})
        elif commands and len(words) == 2:
            commands[-1].setdefault(words[0], words[1].strip())
    return commands


def check_slices(options, scratch):
    archs = run(options.tools, "llvm-lipo", "-archs", options.binary).split()
    print("slices:", " ".join(archs))
    return sorted(archs) == sorted(ARCHS)


def check_build_version(options, scratch):
    ok = True
    for arch, thin in slices(options, scratch):
        versions = [c for c in load_commands(options, thin) if c["cmd"] == "LC_BUILD_VERSION"]
        seen = [(c.get("platform"), c.get("minos")) for c in versions]
        print(f"{arch}: LC_BUILD_VERSION {seen}")
        ok &= seen == [("macos", options.deployment_target)]
    return ok


def check_info_plist(options, scratch):
    ok = True
    for arch, thin in slices(options, scratch):
        section = thin + ".plist"
        try:
            run(options.tools, "llvm-objcopy", "--dump-section", f"__TEXT,__info_plist={section}", thin)
            with open(section, "rb") as f:
                info = plistlib.load(f)
        except (subprocess.CalledProcessError, plistlib.InvalidFileException) as e:
            print(f"{arch}: no __TEXT,__info_plist that reads as a property list: {e}")
            ok = False
            continue
        identifier = info.get("CFBundleIdentifier")
        empty = [k for k in USAGE_KEYS if not isinstance(info.get(k), str) or not info[k].strip()]
        print(f"{arch}: CFBundleIdentifier {identifier!r}; missing or empty: {empty}")
        ok &= identifier == options.bundle_identifier and not empty
    return ok


def check_libraries(options, scratch):
    allowed = SYSTEM_LIBRARIES | {COREFOUNDATION} | ({BORROWED_NAMES_LIBRARY} if options.stand_in else set())
    ok = True
    for arch, thin in slices(options, scratch):
        lines = run(options.tools, "llvm-otool", "-L", thin).splitlines()[1:]
        loaded = {line.split(" (compatibility")[0].strip() for line in lines if line.strip()}
        print(f"{arch}: loads {sorted(loaded)}")
        for name in sorted(loaded - allowed):
            print(f"{arch}: loads a library it must not: {name}")
        for name in sorted(SYSTEM_LIBRARIES - loaded):
            print(f"{arch}: does not load {name}")
        ok &= SYSTEM_LIBRARIES <= loaded <= allowed
    return ok


def check_signature(options, scratch):
    for arch, thin in slices(options, scratch):
        if arch == "arm64":
            signed = any(c["cmd"] == "LC_CODE_SIGNATURE" for c in load_commands(options, thin))
            print(f"arm64: LC_CODE_SIGNATURE {'present' if signed else 'missing'}")
            return signed
    return False


def check_entitlements(options, scratch):
    try:
        with open(options.entitlements, "rb") as f:
            entitlements = plistlib.load(f, fmt=plistlib.FMT_XML)
    except Exception as e:
        print(f"{options.entitlements}: not a well-formed XML property list: {e}")
        return False
    missing = [k for k in ENTITLEMENTS if entitlements.get(k) is not True]
    print(f"entitlements: {sorted(entitlements)}; missing or not true: {missing}")
    return not missing


CHECKS = {"slices": check_slices, "build-version": check_build_version, "info-plist": check_info_plist,
          "libraries": check_libraries, "signature": check_signature, "entitlements": check_entitlements}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=sorted(CHECKS))
    parser.add_argument("--binary")
    parser.add_argument("--tools", help="folder of llvm-lipo, llvm-otool and llvm-objcopy")
    parser.add_argument("--deployment-target")
    parser.add_argument("--bundle-identifier")
    parser.add_argument("--entitlements")
    parser.add_argument("--stand-in", action="store_true", help="built against the stand-in SDK")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        ok = CHECKS[options.check](options, scratch)
    print("ok" if ok else f"FAILED: {options.check}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
