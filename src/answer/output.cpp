// Standard output, standard error and the end of the process.
#include "answer/output.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <thread>

#include "answer/json_writer.hpp"

namespace pimbridge::answer {

namespace {
constexpr std::string_view encodingErrorText = R"({"error":"encoding"})";
bool stdoutClosed = false;
// Where the answer and the fallback text go: standard output and standard
// error, or private copies of them (see reserveStandardStreams).
int answerFd = STDOUT_FILENO;
int fallbackFd = STDERR_FILENO;

// The thread that ends the run, once one has started to.
std::atomic<std::thread::id> runEnder{};

// Makes this thread the one that ends the run. When another thread already
// is, this one waits for the process to end: the other thread's answer and
// status stand.
void claimRunEnd() {
  const auto self = std::this_thread::get_id();
  std::thread::id unclaimed{};
  if (runEnder.compare_exchange_strong(unclaimed, self, std::memory_order_acq_rel) || unclaimed == self) return;
  for (;;) ::pause();
}

}  // namespace

void installTerminateFallback() {
  std::set_terminate([] { encodingFallback(); });
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

void endProcess(int status) {
  claimRunEnd();
  ::_exit(status);
}

void encodingFallback() {
  claimRunEnd();
  // Nothing can be done if standard error is gone too; the status still tells.
  static_cast<void>(writeAll(fallbackFd, encodingErrorText.data(), encodingErrorText.size()));
  endProcess(1);
}

void emit(const ResultMap& map) {
  claimRunEnd();
  JsonText text;
  if (!writeJson(map, text) || !text.append('\n')) encodingFallback();
  // NOTE: a line that cannot be delivered in full must not end as a success:
  // the host would take an empty or cut answer for a real one.
  if (stdoutClosed || !writeAll(answerFd, text.data(), text.size())) endProcess(1);
}

void emitError(std::string_view word) {
  ResultMap map;
  map.setText("error", word);
  emit(map);
  endProcess(2);
}

}  // namespace pimbridge::answer
