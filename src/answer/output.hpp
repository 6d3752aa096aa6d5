// The only way answers leave the tool: one JSON line on standard output, the
// error result, and the encoding fallback.
#pragma once

#include <string_view>

#include "answer/result_map.hpp"

namespace pimbridge::answer {

// Writes the map as one JSON line on standard output and returns. When the
// map has no JSON text, runs the encoding fallback; when standard output
// cannot take the whole line, ends the process with status 1. Neither returns.
//
// Emitting, the encoding fallback and process::endProcess each claim the end
// of the run for their thread first (process::claimRunEnd): a thread that
// comes second waits until the process is gone.
void emit(const ResultMap& map);

// Prints the error result {"error": word} and ends the process with status 2.
[[noreturn]] void emitError(std::string_view word);

// Writes the fixed encoding-failure text to standard error and ends the
// process with status 1. Also the end of a run whose answer cannot be made
// at all, such as one that ran out of memory (see atBoundary), and of a C++
// exception that no code catches.
[[noreturn]] void encodingFallback();

}  // namespace pimbridge::answer
