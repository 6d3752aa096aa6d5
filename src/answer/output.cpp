// The answer on standard output, the error result and the encoding fallback.
#include "answer/output.hpp"

#include "answer/json_writer.hpp"
#include "process/process.hpp"

namespace pimbridge::answer {

namespace {
constexpr std::string_view encodingErrorText = R"({"error":"encoding"})";
}  // namespace

void encodingFallback() {
  process::claimRunEnd();
  // Nothing can be done if standard error is gone too; the status still tells.
  static_cast<void>(process::writeFallback(encodingErrorText.data(), encodingErrorText.size()));
  process::endProcess(1);
}

void emit(const ResultMap& map) {
  process::claimRunEnd();
  JsonText text;
  if (!writeJson(map, text) || !text.append('\n')) encodingFallback();
  // NOTE: a line that cannot be delivered in full must not end as a success:
  // the host would take an empty or cut answer for a real one.
  if (!process::writeAnswer(text.data(), text.size())) process::endProcess(1);
}

void emitError(std::string_view word) {
  ResultMap map;
  map.setText("error", word);
  emit(map);
  process::endProcess(2);
}

}  // namespace pimbridge::answer
