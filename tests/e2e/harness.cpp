#include "harness.hpp"

#include "child_output.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace pimbridge::e2e {

namespace {

std::string tempPath(const std::string& stem) {
  static std::atomic<int> counter{0};
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/pimbridge-" + stem + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(counter++);
}

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Appends the run to the answer log, one JSON object a line, when the suite
// keeps one. A run ended by a signal has no answer and no status to check.
void logAnswer(const std::vector<std::string>& args, const ToolRun& run) {
  const char* path = std::getenv("PIMBRIDGE_ANSWER_LOG");
  if (path == nullptr || run.status < 0) return;
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  const nlohmann::json record = {
      {"test", test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : std::string("?")},
      {"args", args},
      {"status", run.status},
      {"out", run.out}};
  const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  // One write per record: the cases of the suite run side by side and append
  // to the same file.
  const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 || ::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    ADD_FAILURE() << "cannot append to the answer log " << path;
  }
  if (fd >= 0) ::close(fd);
}

// The module of a stack frame, as the sanitizers print it: the last
// "(path+0xoffset)" of the line, without its directory.
std::string frameModule(const std::string& frame) {
  const auto plus = frame.rfind("+0x");
  const auto open = frame.rfind('(', plus);
  if (plus == std::string::npos || open == std::string::npos) return "";
  std::string path = frame.substr(open + 1, plus - open - 1);
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<std::string> libraryList() {
  std::vector<std::string> libraries;
  const char* path = std::getenv("PIMBRIDGE_SANITIZER_LIBRARIES");
  if (path == nullptr) return libraries;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') libraries.push_back(line);
  }
  return libraries;
}

// Whether one frame lies inside the listed libraries. Two kinds of frame
// outside them belong to such a report too: the sanitizer's own interceptor
// (frame #0, in the sanitized program but without a source file: malloc,
// memcpy), and libc's thread entry, where every thread begins.
bool frameInside(const std::string& frame, const std::vector<std::string>& libraries) {
  const std::string module = frameModule(frame);
  for (const auto& library : libraries) {
    if (module.rfind(library, 0) == 0) return true;
  }
  // This file is tests/e2e/harness.cpp of the project.
  static const std::string project = std::string(__FILE__).substr(0, std::string(__FILE__).rfind("tests/e2e/"));
  const bool first = frame.find(" #0 ") != std::string::npos;
  const bool ownSource =
      frame.find(project + "src/") != std::string::npos || frame.find(project + "tests/") != std::string::npos;
  if (first && !ownSource && module.rfind("lib", 0) != 0) return true;
  return frame.find(" start_thread ") != std::string::npos || frame.find(" clone3 ") != std::string::npos ||
         frame.find(" clone ") != std::string::npos;
}

}  // namespace

// Splits a log into its reports (each leak of a LeakSanitizer report, each
// warning of ThreadSanitizer, any other report whole) and keeps those with
// a frame outside the libraries. The stacks that say where a thread was
// created only describe it: they are not where the report happened.
std::string unconfinedReports(const std::string& log, const std::vector<std::string>& libraries) {
  std::vector<std::vector<std::string>> reports;
  std::istringstream lines(log);
  bool inReport = false;
  for (std::string line; std::getline(lines, line);) {
    const bool starts = line.rfind("Direct leak", 0) == 0 || line.rfind("Indirect leak", 0) == 0 ||
                        line.find("WARNING: ThreadSanitizer") != std::string::npos ||
                        line.find("ERROR: AddressSanitizer") != std::string::npos ||
                        line.find("runtime error:") != std::string::npos;
    if (starts) {
      reports.emplace_back();
      inReport = true;
    }
    if (line.rfind("SUMMARY:", 0) == 0 || line.rfind("==================", 0) == 0) inReport = false;
    if (inReport) reports.back().push_back(line);
  }
  std::string kept;
  for (const auto& report : reports) {
    const bool leakOrRace =
        report[0].find("leak") != std::string::npos || report[0].find("ThreadSanitizer") != std::string::npos;
    bool confined = leakOrRace;
    bool describing = false;
    for (const auto& line : report) {
      // A section of a report opens with a line indented by two spaces.
      if (line.size() > 2 && line.rfind("  ", 0) == 0 && line[2] != ' ') {
        describing = line.find(" created by ") != std::string::npos;
      }
      const auto hash = line.find('#');
      const bool frame = hash != std::string::npos && line.find_first_not_of(' ') == hash;
      if (frame && !describing && !frameInside(line, libraries)) confined = false;
    }
    if (!confined) {
      for (const auto& line : report) kept += line + "\n";
      kept += "\n";
    }
  }
  return kept;
}

bool collectingSanitizerReports() {
  return std::getenv("PIMBRIDGE_SANITIZER_LIBRARIES") != nullptr;
}

std::string sanitizerLogPrefix() {
  return tempPath("sanitizer");
}

std::vector<std::string> sanitizerLogEnvironment(const std::string& prefix) {
  std::vector<std::string> entries;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    const char* options = std::getenv(name);
    // The last setting of a flag wins: the run's reports change no exit
    // status, since the harness judges them, and a race that is passed over
    // does not end the run.
    const bool races = std::string_view(name) == "TSAN_OPTIONS";
    entries.push_back(std::string(name) + "=" + (options != nullptr ? std::string(options) + ":" : "") +
                      (races ? "halt_on_error=0:" : "") + "exitcode=0:log_path=" + prefix);
  }
  return entries;
}

std::string sanitizerFindings(const std::string& prefix) {
  const auto slash = prefix.rfind('/');
  const std::string dir = prefix.substr(0, slash);
  const std::string stem = prefix.substr(slash + 1) + ".";
  const auto libraries = libraryList();
  std::string findings;
  DIR* entries = ::opendir(dir.c_str());
  if (entries == nullptr) return findings;
  while (const dirent* entry = ::readdir(entries)) {
    const std::string name = entry->d_name;
    if (name.rfind(stem, 0) != 0) continue;
    const std::string path = dir + "/" + name;
    findings += unconfinedReports(readWhole(path), libraries);
    std::remove(path.c_str());
  }
  ::closedir(entries);
  return findings;
}

nlohmann::json ToolRun::answer() const {
  if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) {
    throw std::runtime_error("standard output is not one line: [" + out + "]");
  }
  return nlohmann::json::parse(out.substr(0, out.size() - 1));
}

ToolRun runTool(const Invocation& inv) {
  const std::string worldPath = tempPath("world");
  const std::string tracePath = tempPath("trace");
  if (!inv.world.empty()) std::ofstream(worldPath, std::ios::binary) << inv.world;

  std::vector<std::string> env;
  if (inv.replaceEnvironment) {
    env = inv.environment;
  } else {
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string_view(*e).rfind("PIMBRIDGE_", 0) != 0) env.emplace_back(*e);
    }
  }
  for (const auto& extra : inv.extraEnvironment) {
    const std::string name = extra.substr(0, extra.find('=') + 1);
    std::erase_if(env, [&name](const std::string& e) { return e.rfind(name, 0) == 0; });
    env.push_back(extra);
  }
  const std::string sanitizerLog = sanitizerLogPrefix();
  if (collectingSanitizerReports()) {
    for (auto& entry : sanitizerLogEnvironment(sanitizerLog)) {
      const std::string name = entry.substr(0, entry.find('=') + 1);
      std::erase_if(env, [&name](const std::string& e) { return e.rfind(name, 0) == 0; });
      env.push_back(std::move(entry));
    }
  }
  if (!inv.world.empty()) env.push_back("PIMBRIDGE_WORLD=" + worldPath);
  if (inv.trace) env.push_back("PIMBRIDGE_TRACE=" + tracePath);

  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string binary = inv.wrapper.empty() ? std::string(PIMBRIDGE_BINARY) : inv.wrapper.front();
  std::vector<std::string> argStorage = inv.wrapper;
  argStorage.push_back(PIMBRIDGE_BINARY);
  argStorage.insert(argStorage.end(), inv.args.begin(), inv.args.end());
  std::vector<char*> argv;
  for (auto& a : argStorage) argv.push_back(a.data());
  argv.push_back(nullptr);

  int outPipe[2], errPipe[2], gonePipe[2] = {-1, -1};
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (inv.brokenPipe) {
    if (::pipe2(gonePipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    ::close(gonePipe[0]);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (inv.closeStdout) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else if (inv.brokenPipe) {
    posix_spawn_file_actions_adddup2(&actions, gonePipe[1], 1);
  } else if (!inv.stdoutPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, inv.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  } else {
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  if (!inv.workingDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, inv.workingDirectory.c_str());

  // The tool starts with the signal dispositions a host would give it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, binary.c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (gonePipe[1] >= 0) ::close(gonePipe[1]);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawned != 0) throw std::runtime_error("cannot start " + binary);

  ToolRun run;
  readUntilClosed(outPipe[0], errPipe[0], run.out, run.err);
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);

  // A sanitized build reports on standard error; no test may pass over that.
  if (run.err.find("Sanitizer") != std::string::npos || run.err.find("runtime error:") != std::string::npos) {
    ADD_FAILURE() << "sanitizer report from the tool:\n" << run.err;
  }
  if (collectingSanitizerReports()) {
    if (const std::string findings = sanitizerFindings(sanitizerLog); !findings.empty()) {
      ADD_FAILURE() << "sanitizer report from the tool:\n" << findings;
    }
  }

  if (inv.logAnswer) logAnswer(inv.args, run);

  std::istringstream trace(readWhole(tracePath));
  for (std::string line; std::getline(trace, line);) run.trace.push_back(line);
  std::remove(worldPath.c_str());
  std::remove(tracePath.c_str());
  return run;
}

ToolRun runTool(const std::string& world, std::vector<std::string> args) {
  Invocation inv;
  inv.world = world;
  inv.args = std::move(args);
  return runTool(inv);
}

double startSeconds() {
  // The slower of two, so that one lucky start does not tighten every bound.
  double slowest = 0;
  for (int i = 0; i < 2; ++i) {
    slowest =
        std::max(slowest, runTool(R"({"reminders":{"status":3},"contacts":{"status":3}})", {"authorization"}).seconds);
  }
  return slowest;
}

int traceIndex(const ToolRun& run, const std::string& line) {
  for (std::size_t i = 0; i < run.trace.size(); ++i) {
    if (run.trace[i] == line) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace pimbridge::e2e

namespace pimbridge::e2e {

ToolRun expectCase(const Case& c) {
  ToolRun run = runTool(c.world, c.args);
  EXPECT_EQ(run.status, c.status);
  if (c.answer.empty()) {
    EXPECT_EQ(run.out, "");
  } else {
    EXPECT_EQ(run.answer(), nlohmann::json::parse(c.answer)) << run.out;
  }
  EXPECT_EQ(run.err, c.err);
  if (!c.trace.empty()) {
    EXPECT_EQ(run.trace, c.trace);
  }
  return run;
}

}  // namespace pimbridge::e2e
