// The simulated platform's world, trace and delivery of completions.
#include "platform/simulated/session.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace pimbridge::simulated {

std::atomic<std::int64_t> reminderState{0};
std::atomic<std::int64_t> contactState{0};

namespace {

World theWorld;
int traceFd = -1;

[[noreturn]] void brokenSetUp(const std::string& message) {
  const std::string line = "simulated platform: " + message + "\n";
  static_cast<void>(::write(STDERR_FILENO, line.data(), line.size()));
  ::_exit(3);
}

void writeTraceLine(std::string line) {
  if (traceFd < 0) return;
  line.push_back('\n');
  static_cast<void>(::write(traceFd, line.data(), line.size()));
}

// Plain descriptor reads rather than a file stream: a stream would set up the
// C++ locale machinery, which costs every run of the tool a good share of its
// start-up for one small file.
std::string readFile(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) brokenSetUp(std::string(path) + ": cannot be read");
  std::string content;
  char block[16384];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n > 0) {
      content.append(block, static_cast<std::size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      brokenSetUp(std::string(path) + ": cannot be read");
    }
  }
  ::close(fd);
  return content;
}

struct MainTask {
  std::chrono::steady_clock::time_point due;
  std::function<void()> run;
};
std::vector<MainTask> mainTasks;

}  // namespace

void startSession() {
  const char* worldPath = std::getenv("PIMBRIDGE_WORLD");
  try {
    theWorld = worldPath != nullptr ? parseWorld(readFile(worldPath)) : parseWorld(demoWorldJson());
  } catch (const WorldError& e) {
    brokenSetUp(std::string(worldPath != nullptr ? worldPath : "demo world") + ": " + e.what());
  }
  reminderState.store(theWorld.reminders.status);
  contactState.store(theWorld.contacts.status);
  if (const char* tracePath = std::getenv("PIMBRIDGE_TRACE"); tracePath != nullptr) {
    traceFd = ::open(tracePath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (traceFd < 0) brokenSetUp(std::string(tracePath) + ": the trace file cannot be opened");
  }
}

const World& world() {
  return theWorld;
}

void trace(std::string_view word) {
  if (traceFd >= 0) writeTraceLine(std::string(word));
}

void trace(std::string_view word, std::string_view detail) {
  if (traceFd < 0) return;
  std::string line(word);
  line.push_back(' ');
  line.append(detail);
  writeTraceLine(std::move(line));
}

void onMainThread(std::int64_t afterMs, std::function<void()> callback) {
  mainTasks.push_back(
      MainTask{std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs), std::move(callback)});
}

void runDueMainTasks() {
  for (;;) {
    auto earliest = std::min_element(mainTasks.begin(), mainTasks.end(),
                                     [](const MainTask& a, const MainTask& b) { return a.due < b.due; });
    if (earliest == mainTasks.end() || earliest->due > std::chrono::steady_clock::now()) return;
    auto run = std::move(earliest->run);
    mainTasks.erase(earliest);
    answer::atBoundary(run);
  }
}

std::chrono::steady_clock::time_point pauseUntil(std::chrono::steady_clock::time_point deadline) {
  std::optional<std::chrono::steady_clock::time_point> next;
  for (const auto& task : mainTasks) {
    if (!next || task.due < *next) next = task.due;
  }
  return next && *next < deadline ? *next : deadline;
}

void answerLater(const std::optional<AccessAnswer>& answer, std::atomic<std::int64_t>& state,
                 stores::AccessCompletion completion) {
  if (!answer) return;  // this store never answers
  later(answer->afterMs, [answer = *answer, &state, completion = std::move(completion)] {
    if (answer.statusAfter) state.store(*answer.statusAfter);
    completion(answer.granted, answer.error);
  });
}

}  // namespace pimbridge::simulated
