// The boundary between the tool's code and the code that calls it: the entry
// point, and every callback that platform code runs (completions, per-item
// steps, blocks handed to a framework).
#pragma once

#include <utility>

#include "answer/output.hpp"

namespace pimbridge::answer {

// Runs f. A C++ exception that leaves it — in practice an allocation that
// failed — never travels on into the caller's frames, which may belong to a
// platform framework: the run ends as an answer that cannot be encoded does
// (nothing on standard output, the fixed text on standard error, status 1).
template <typename F>
void atBoundary(F&& f) noexcept {
  try {
    std::forward<F>(f)();
  } catch (...) {
    encodingFallback();
  }
}

}  // namespace pimbridge::answer
