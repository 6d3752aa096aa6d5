// The process's life around its answer: the standard streams the answer and
// the fallback text go to, which thread ends the run, and the end itself.
// POSIX underneath; nothing here knows what an answer is.
#pragma once

#include <cstddef>

namespace pimbridge::process {

// Makes the calling thread the one that ends the run. When another thread
// already is, this one waits there until the process is gone: only one
// thread ends a run, so that a run never prints an answer and then ends as a
// failure, or the other way round.
void claimRunEnd();

// Ends the process with the status, from any thread, once the calling thread
// has claimed the end of the run. Everything the tool writes goes straight to
// its file descriptor, so nothing is left to flush; static destructors are
// not run, because another thread may still be using what they would destroy.
[[noreturn]] void endProcess(int status);

// Called first at start-up: from then on a C++ exception that no code
// catches calls the handler, which must end the process, instead of aborting.
void installTerminateHandler(void (*handler)());

// Called first at start-up. A descriptor 0, 1 or 2 that the host left closed
// is taken by /dev/null, so that no file the process opens later lands there
// and receives the answer; a closed standard output still fails every answer.
void guardStandardStreams();

// Called by a platform at start-up whose libraries may write to standard
// output or standard error themselves: from then on the answer and the
// fallback text go to private copies of descriptors 1 and 2, which then lead
// to /dev/null, so that nothing else reaches the host on them.
void reserveStandardStreams();

// Writes all of the bytes to where the answer goes (standard output), or to
// where the fallback text goes (standard error). False when not all of them
// could be written, or standard output was closed at start-up.
bool writeAnswer(const char* data, std::size_t size);
bool writeFallback(const char* data, std::size_t size);

// Writes all of the bytes to the descriptor, across partial writes,
// interruptions and a descriptor that is not blocking. False on failure.
bool writeAll(int fd, const char* data, std::size_t size);

}  // namespace pimbridge::process
