// Standard output, standard error and the end of the process.
#include "process/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <thread>

namespace pimbridge::process {

namespace {
bool stdoutClosed = false;
// Where the answer and the fallback text go: standard output and standard
// error, or private copies of them (see reserveStandardStreams).
int answerFd = STDOUT_FILENO;
int fallbackFd = STDERR_FILENO;

// The thread that ends the run, once one has started to.
std::atomic<std::thread::id> runEnder{};

void (*terminateHandler)() = nullptr;
}  // namespace

void claimRunEnd() {
  const auto self = std::this_thread::get_id();
  std::thread::id unclaimed{};
  if (runEnder.compare_exchange_strong(unclaimed, self, std::memory_order_acq_rel) || unclaimed == self) return;
  for (;;) ::pause();
}

void endProcess(int status) {
  claimRunEnd();
  ::_exit(status);
}

void installTerminateHandler(void (*handler)()) {
  terminateHandler = handler;
  std::set_terminate([] {
    terminateHandler();
    endProcess(1);
  });
}

void guardStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) stdoutClosed = true;
    // open gives the lowest free descriptor, which is this one.
    const int placeholder = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (placeholder != fd && placeholder >= 0) ::close(placeholder);
  }
}

void reserveStandardStreams() {
  const int answerCopy = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  const int fallbackCopy = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  const int nothing = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (answerCopy < 0 || fallbackCopy < 0 || nothing < 0 || ::dup2(nothing, STDOUT_FILENO) < 0 ||
      ::dup2(nothing, STDERR_FILENO) < 0) {
    // Out of descriptors at start-up: the tool writes where it always does.
    for (const int fd : {answerCopy, fallbackCopy, nothing}) {
      if (fd >= 0) ::close(fd);
    }
    return;
  }
  ::close(nothing);
  answerFd = answerCopy;
  fallbackFd = fallbackCopy;
}

bool writeAnswer(const char* data, std::size_t size) {
  return !stdoutClosed && writeAll(answerFd, data, size);
}

bool writeFallback(const char* data, std::size_t size) {
  return writeAll(fallbackFd, data, size);
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The host handed over a non-blocking descriptor: wait until it drains.
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace pimbridge::process
