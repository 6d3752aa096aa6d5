// What the host receives when things go wrong around the tool: standard
// output that cannot take the answer, huge arguments and data, a bare
// environment, many runs in a row.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "harness.hpp"

namespace pimbridge::e2e {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::string everything =
    json{{"reminders", {{"status", 3}, {"lists", {{{"id", "A"}, {"title", "A"}, {"generate", 3}}}}}},
         {"contacts", {{"status", 3}, {"generate", 3}}}}
        .dump();

// Show that an answer written into a pipe whose reader has gone ends the run
// by the default SIGPIPE, as for any command-line program: the host sees a
// signal, never a success.
TEST(Faults, ReaderGoneEndsBySigpipe) {
  for (const char* command : {"authorization", "reminders", "contacts", "nonsense"}) {
    Invocation inv;
    inv.world = everything;
    inv.args = {command};
    inv.brokenPipe = true;
    const ToolRun run = runTool(inv);
    EXPECT_EQ(run.status, -SIGPIPE) << command;
    EXPECT_EQ(run.err, "") << command;
  }
}

// Show that a host that ignores SIGPIPE (the disposition survives exec) gets
// status 1 for an answer that its pipe could not take, never a success.
TEST(Faults, ReaderGoneWithSigpipeIgnoredIsAFailure) {
  for (const char* command : {"authorization", "reminders", "contacts", "nonsense"}) {
    Invocation inv;
    inv.world = everything;
    inv.args = {command};
    inv.brokenPipe = true;
    inv.wrapper = {"sh", "-c", R"(trap '' PIPE && exec "$0" "$@")"};
    const ToolRun run = runTool(inv);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.err, "") << command;
  }
}

// Show that running out of memory, wherever it happens (inside the fetch
// completion on the platform's thread, or while the answer is built on the
// main thread), ends the run as an unencodable answer does: nothing on
// standard output, the fixed text on standard error, status 1; with enough
// memory the whole answer comes out. Never an abort.
TEST(Faults, OutOfMemoryEndsThroughTheFallback) {
  if (std::getenv("PIMBRIDGE_SANITIZED") != nullptr) GTEST_SKIP() << "a sanitized build reserves more address space";
  const std::string world =
      json{{"reminders", {{"status", 3}, {"lists", {{{"id", "A"}, {"title", "A"}, {"generate", 1500000}}}}}}}.dump();
  int fellBack = 0;
  int answered = 0;
  // Around 400 MiB the allocation fails in the completion; a little higher,
  // in building the answer; at 700 MiB there is room for all of it.
  for (int limitKiB : {360000, 380000, 400000, 420000, 440000, 460000, 480000, 700000}) {
    Invocation inv;
    inv.world = world;
    inv.args = {"reminders"};
    inv.wrapper = {"sh", "-c", "ulimit -v " + std::to_string(limitKiB) + R"( && exec "$0" "$@")"};
    // 120 MiB answers are counted here, not left for the schema check.
    inv.logAnswer = false;
    const ToolRun run = runTool(inv);
    if (run.status == 1) {
      ++fellBack;
      EXPECT_EQ(run.out, "") << limitKiB;
      EXPECT_EQ(run.err, R"({"error":"encoding"})") << limitKiB;
    } else {
      ++answered;
      EXPECT_EQ(run.status, 0) << limitKiB << "\n" << run.err;
      EXPECT_EQ(run.err, "") << limitKiB;
      // Counted rather than parsed: parsing 120 MiB would cost more than the run.
      std::size_t rows = 0;
      for (auto at = run.out.find("\"completed\":"); at != std::string::npos;
           at = run.out.find("\"completed\":", at + 1)) {
        ++rows;
      }
      EXPECT_EQ(rows, 1500000u) << limitKiB;
      EXPECT_EQ(run.out.substr(run.out.size() - 4), "}]}\n") << limitKiB;
    }
  }
  // The limits must reach both sides, or the test showed nothing.
  EXPECT_GT(fellBack, 0);
  EXPECT_GT(answered, 0);
}

// Show that the longest single argument the kernel passes, and 100,000
// identifiers, are taken as list identifiers without trouble.
TEST(Faults, HugeArguments) {
  // Linux refuses to start a program with one argument of 128 KiB or more.
  const std::string longest(128 * 1024 - 1, 'x');
  const std::string world =
      json{
          {"reminders",
           {{"status", 3},
            {"lists",
             {{{"id", longest}, {"title", "Long"}, {"generate", 2}}, {{"id", "B"}, {"title", "B"}, {"generate", 1}}}}}}}
          .dump();
  ToolRun run = runTool(world, {"reminders", longest});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer()["reminders"].size(), 2u);

  std::vector<std::string> many{"reminders"};
  for (int i = 0; i < 100000; ++i) many.push_back(std::string("L").append(std::to_string(i)));
  many.push_back("B");
  run = runTool(world, many);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer()["reminders"].size(), 1u);
}

// Show that 500 contacts with 64 KiB names each are exported whole.
TEST(Faults, HugeContacts) {
  json contacts = json::array();
  const std::string half(32 * 1024, 'n');
  for (int i = 0; i < 2000; ++i)
    contacts.push_back({{"id", std::string("c").append(std::to_string(i))}, {"given", half}, {"family", half}});
  const ToolRun run = runTool(json{{"contacts", {{"status", 3}, {"contacts", contacts}}}}.dump(), {"contacts"});
  EXPECT_EQ(run.status, 0);
  const auto answer = run.answer();
  ASSERT_EQ(answer["contacts"].size(), 500u);
  EXPECT_EQ(answer["contacts"][499]["name"].get<std::string>().size(), 64u * 1024 + 1);
}

// Show that the tool needs nothing from its environment.
TEST(Faults, EmptyEnvironment) {
  Invocation inv;
  inv.replaceEnvironment = true;
  inv.trace = false;
  for (const char* command : {"authorization", "reminders", "contacts"}) {
    inv.args = {command};
    const ToolRun run = runTool(inv);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_FALSE(run.answer().contains("error")) << command;
  }
}

int countEntries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

// Show that a thousand runs in a row leave the host no open descriptor, no
// thread and no unreaped child behind.
TEST(Faults, ThousandRunsLeaveNothingBehind) {
  const int fdsBefore = countEntries("/proc/self/fd");
  const int threadsBefore = countEntries("/proc/self/task");
  const char* commands[] = {"authorization", "reminders", "contacts", "reminder-lists", "nonsense"};
  for (int i = 0; i < 1000; ++i) {
    const ToolRun run = runTool(everything, {commands[i % 5]});
    ASSERT_EQ(run.status, i % 5 == 4 ? 2 : 0) << i;
  }
  EXPECT_EQ(countEntries("/proc/self/fd"), fdsBefore);
  EXPECT_EQ(countEntries("/proc/self/task"), threadsBefore);
}

// Show that while the tool waits for an access answer it has opened no
// descriptor of its own (what it holds came from its parent), and runs at
// most the one extra thread that delivers the answer.
TEST(Faults, FewResourcesWhileWaiting) {
  const std::string world = json{{"contacts", {{"request", {{"granted", true}, {"after_ms", 1500}}}}}}.dump();
  const std::string worldPath = "/tmp/pimbridge-wait-world-" + std::to_string(::getpid());
  std::ofstream(worldPath) << world;
  // The shell starts the tool so that it can be looked at from outside while
  // it waits; the shell's own descriptors are what the tool inherits.
  const std::string script = "PIMBRIDGE_WORLD=" + worldPath + " " PIMBRIDGE_BINARY +
                             " request-contacts >/dev/null 2>/dev/null </dev/null & pid=$!; sleep 0.7; "
                             "echo threads $(ls /proc/$pid/task | wc -l); "
                             "for f in /proc/$pid/fd/*; do echo tool $(readlink $f); done; "
                             "for f in /proc/$$/fd/*; do echo shell $(readlink $f); done; wait $pid";
  FILE* pipe = ::popen(script.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> tool, shell{"/dev/null"};
  int threads = -1;
  char who[16], target[512];
  while (std::fscanf(pipe, "%15s %511s", who, target) == 2) {
    if (std::string(who) == "threads") threads = std::atoi(target);
    if (std::string(who) == "tool") tool.insert(target);
    if (std::string(who) == "shell") shell.insert(target);
  }
  EXPECT_EQ(WEXITSTATUS(::pclose(pipe)), 0);
  std::remove(worldPath.c_str());
  for (const auto& t : tool) EXPECT_TRUE(shell.count(t)) << "the tool opened " << t;
  EXPECT_GE(threads, 1);
  EXPECT_LE(threads, 2);
}

// Show that memcheck finds no error and no leak in any command.
TEST(Faults, CleanUnderMemcheck) {
  if (std::system("valgrind --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "valgrind is not installed";
  if (std::getenv("PIMBRIDGE_SANITIZED") != nullptr) GTEST_SKIP() << "memcheck cannot run a sanitized build";
  const std::string world =
      json{{"reminders", {{"status", 3}, {"lists", {{{"id", "A"}, {"title", "A"}, {"generate", 50}}}}}},
           {"contacts", {{"status", 3}, {"generate", 20}, {"request", {{"granted", true}}}}}}
          .dump();
  for (const char* command : {"authorization", "reminders", "contacts", "request-contacts", "nonsense"}) {
    Invocation inv;
    inv.world = world;
    inv.args = {command};
    inv.wrapper = {"valgrind",
                   "--quiet",
                   "--error-exitcode=99",
                   "--leak-check=full",
                   "--errors-for-leak-kinds=definite,indirect",
                   "--show-leak-kinds=definite,indirect"};
    const ToolRun run = runTool(inv);
    EXPECT_NE(run.status, 99) << command << "\n" << run.err;
    EXPECT_EQ(run.err, "") << command;
  }
}

// Show that the tool writes no file and reads no configuration: every
// command run in an empty working directory and home leaves both empty.
TEST(Faults, WritesNoFiles) {
  const fs::path root = fs::temp_directory_path() / ("pimbridge-nofiles-" + std::to_string(::getpid()));
  fs::create_directories(root / "work");
  fs::create_directories(root / "home");
  const std::string world = json{{"reminders",
                                  {{"status", 3},
                                   {"request", {{"granted", true}}},
                                   {"lists", {{{"id", "A"}, {"title", "A"}, {"generate", 2}}}}}},
                                 {"contacts", {{"status", 3}, {"generate", 2}, {"request", {{"granted", true}}}}}}
                                .dump();
  for (const char* command : {"authorization", "reminder-lists", "reminders", "contacts", "request-reminders",
                              "request-contacts", "nonsense"}) {
    Invocation inv;
    inv.world = world;
    inv.args = {command};
    inv.workingDirectory = (root / "work").string();
    inv.replaceEnvironment = true;
    inv.environment = {"HOME=" + (root / "home").string(), "XDG_CONFIG_HOME=" + (root / "home/.config").string(),
                       "PATH=/usr/bin:/bin"};
    const ToolRun run = runTool(inv);
    EXPECT_TRUE(run.status == 0 || run.status == 2) << command;
    EXPECT_TRUE(fs::is_empty(root / "work")) << command;
    EXPECT_TRUE(fs::is_empty(root / "home")) << command;
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace pimbridge::e2e
