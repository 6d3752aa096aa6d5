// Conversions between the UTF-16 code units that the platform's strings hold
// and the byte strings that the tool passes around. Plain C++, so that they can
// be checked on any system.
#pragma once

#include <cstddef>
#include <string>

namespace pimbridge::apple {

// The UTF-8 bytes of a sequence of UTF-16 code units. A surrogate pair becomes
// the four-byte form of its code point. A lone surrogate becomes the three-byte
// form of its own value (ED A0..BF xx), which is not valid UTF-8: the output
// writer's validation rejects it and takes its encoding fallback, rather than
// the text being passed on silently altered.
std::string utf8FromUtf16(const char16_t* units, std::size_t count);

// The UTF-16 code units of bytes that utf8FromUtf16 made, including the
// three-byte form of a lone surrogate, so that a text taken from the platform
// goes back to it unchanged. A byte that starts no well-formed sequence
// becomes U+FFFD.
std::u16string utf16FromUtf8(const std::string& bytes);

}  // namespace pimbridge::apple
