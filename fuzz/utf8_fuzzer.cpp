// Fuzzes the UTF-8 validator against the plain decoder of utf8_reference.hpp:
// the input bytes are checked whole, at every offset and cut short.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "answer/json_writer.hpp"
#include "utf8_reference.hpp"

namespace {

using pimbridge::fuzz::referenceSequenceLength;
using pimbridge::fuzz::referenceValid;

[[noreturn]] void fault(const char* what, std::size_t offset, std::size_t expected, std::size_t got) {
  std::fprintf(stderr, "utf8 fuzzer: %s at offset %zu: reference %zu, tool %zu\n", what, offset, expected, got);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto* begin = reinterpret_cast<const unsigned char*>(data);
  const auto* end = begin + size;

  // Every offset, not only sequence starts: the tool's function must judge a
  // sequence by its own bytes and the end of the input alone, and must never
  // read past the end (AddressSanitizer watches the exact-size input).
  for (const auto* p = begin; p < end; ++p) {
    const std::size_t expected = referenceSequenceLength(p, end);
    const std::size_t got = pimbridge::answer::utf8SequenceLength(p, end);
    if (got != expected) fault("utf8SequenceLength differs", static_cast<std::size_t>(p - begin), expected, got);
  }

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool expected = referenceValid(begin, end);
  const bool got = pimbridge::answer::isValidUtf8(bytes);
  if (got != expected) fault("isValidUtf8 differs", 0, expected, got);

  // The longest prefixes too: a cut may fall inside the last sequence, which
  // must then be invalid however well-formed the whole was.
  for (std::size_t cut = 0; cut < size && cut < 16; ++cut) {
    const std::size_t length = size - cut;
    const bool prefixExpected = referenceValid(begin, begin + length);
    const bool prefixGot = pimbridge::answer::isValidUtf8(bytes.substr(0, length));
    if (prefixGot != prefixExpected) fault("isValidUtf8 differs on a prefix", length, prefixExpected, prefixGot);
  }
  return 0;
}
