// The only way answers leave the tool: one JSON line on standard output, the
// error result, the encoding fallback, and the end of the process.
#pragma once

#include <string_view>

#include "answer/result_map.hpp"

namespace pimbridge::answer {

// Writes the map as one JSON line on standard output and returns. When the
// map has no JSON text, runs the encoding fallback; when standard output
// cannot take the whole line, ends the process with status 1. Neither returns.
//
// Emitting, the encoding fallback and endProcess each claim the end of the
// run for their thread first. Only one thread ends a run: one that comes
// second, while another is already writing or ending, waits there until the
// process is gone, so that a run never prints an answer and then ends as a
// failure, or the other way round.
void emit(const ResultMap& map);

// Prints the error result {"error": word} and ends the process with status 2.
[[noreturn]] void emitError(std::string_view word);

// Writes the fixed encoding-failure text to standard error and ends the
// process with status 1. Also the end of a run whose answer cannot be made
// at all, such as one that ran out of memory (see atBoundary).
[[noreturn]] void encodingFallback();

// Ends the process with the status, from any thread. Everything the tool
// writes goes straight to its file descriptor, so nothing is left to flush;
// static destructors are not run, because another thread may still be using
// what they would destroy.
[[noreturn]] void endProcess(int status);

// Called first at start-up: from then on a C++ exception that no code
// catches ends the run through the encoding fallback instead of aborting.
void installTerminateFallback();

// Called first at start-up. A descriptor 0, 1 or 2 that the host left closed
// is taken by /dev/null, so that no file the process opens later lands there
// and receives the answer; a closed standard output still fails every emit.
void guardStandardStreams();

// Called by a platform at start-up whose libraries may write to standard
// output or standard error themselves: from then on the answer and the
// fallback text go to private copies of descriptors 1 and 2, which then lead
// to /dev/null, so that nothing else reaches the host on them.
void reserveStandardStreams();

// Writes all of the bytes to the descriptor, across partial writes,
// interruptions and a descriptor that is not blocking. False on failure.
bool writeAll(int fd, const char* data, std::size_t size);

}  // namespace pimbridge::answer
