// Collects what a child process writes on its standard output and standard
// error. Both pipes are read at once, so that a child filling one of them
// never stalls while the other is being waited on. Header-only, so that the
// command-line fuzz target shares it without linking the test library.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace pimbridge::e2e {

// Appends what arrives on outFd and errFd to out and err until both reach
// end of file, then closes them. With a deadline, stops when it passes and
// returns false; the descriptors are closed either way.
inline bool readUntilClosed(int outFd, int errFd, std::string& out, std::string& err,
                            std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    int wait = -1;
    if (deadline) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      wait = static_cast<int>(left);
    }
    if (::poll(fds, 2, wait) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const auto& f : fds) {
    if (f.fd >= 0) ::close(f.fd);
  }
  return open == 0;
}

}  // namespace pimbridge::e2e
