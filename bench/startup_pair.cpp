// Measures the whole-process time of two commands, run alternately so that
// both see the same machine: pimbridge_startup_pair RUNS -- A [args] -- B [args]
// Each run's standard output goes to /dev/null; every run must exit with 0.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

using Command = std::vector<char*>;

double runOnce(const Command& command) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, command[0], &actions, nullptr, command.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", command[0]);
    std::exit(2);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  const auto end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s did not exit with status 0\n", command[0]);
    std::exit(2);
  }
  return std::chrono::duration<double, std::micro>(end - start).count();
}

double quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1))];
}

double mean(const std::vector<double>& values) {
  return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

void report(const char* name, const std::vector<double>& times) {
  std::printf("%-10s median %8.1f us   p10 %8.1f us   p90 %8.1f us   mean %8.1f us\n", name, quantile(times, 0.5),
              quantile(times, 0.1), quantile(times, 0.9), mean(times));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || std::string_view(argv[2]) != "--") {
    std::fprintf(stderr, "usage: %s RUNS -- A [args] -- B [args]\n", argv[0]);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  Command a;
  Command b;
  Command* filling = &a;
  for (int i = 3; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--" && filling == &a) {
      filling = &b;
    } else {
      filling->push_back(argv[i]);
    }
  }
  if (runs < 1 || a.empty() || b.empty()) {
    std::fprintf(stderr, "usage: %s RUNS -- A [args] -- B [args]\n", argv[0]);
    return 2;
  }
  a.push_back(nullptr);
  b.push_back(nullptr);

  for (int i = 0; i < 20; ++i) {  // warm the page cache and the dynamic loader
    runOnce(a);
    runOnce(b);
  }
  std::vector<double> timesA;
  std::vector<double> timesB;
  std::vector<double> ratios;
  for (int i = 0; i < runs; ++i) {
    // Alternate which goes first, so that neither always follows the other.
    double ta = 0;
    double tb = 0;
    if (i % 2 == 0) {
      ta = runOnce(a);
      tb = runOnce(b);
    } else {
      tb = runOnce(b);
      ta = runOnce(a);
    }
    timesA.push_back(ta);
    timesB.push_back(tb);
    ratios.push_back(ta / tb);
  }
  report("A", timesA);
  report("B", timesB);
  std::printf("A / B: ratio of medians %.2f, ratio of means %.2f, median of paired ratios %.2f (%d pairs)\n",
              quantile(timesA, 0.5) / quantile(timesB, 0.5), mean(timesA) / mean(timesB), quantile(ratios, 0.5), runs);
  return 0;
}
