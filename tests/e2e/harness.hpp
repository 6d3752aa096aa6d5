// Runs the built pimbridge as a host does: a world file in; standard output,
// standard error, exit status, elapsed time and the platform trace out.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace pimbridge::e2e {

struct ToolRun {
  std::string out;
  std::string err;
  int status = -1;     // exit status, or minus the signal that ended the run
  double seconds = 0;  // wall time of the whole run
  std::vector<std::string> trace;

  // The answer on standard output, which must be exactly one JSON object and
  // one line feed.
  nlohmann::json answer() const;
};

struct Invocation {
  std::string world;                     // JSON text of the world file; empty: the demo world
  std::vector<std::string> args;         // after the program path
  std::string stdoutPath;                // when set, standard output goes to this file instead of a pipe
  bool closeStdout = false;              // start the tool with standard output closed
  std::vector<std::string> environment;  // the whole environment, when set; PIMBRIDGE_* are added
  bool replaceEnvironment = false;
  std::vector<std::string> extraEnvironment;  // added to the environment (NAME=value)
  std::string workingDirectory;               // when set, the tool runs there
  bool brokenPipe = false;                    // standard output is a pipe whose reader has gone
  bool trace = true;                          // set PIMBRIDGE_TRACE
  std::vector<std::string> wrapper;           // runs the tool under this command (valgrind, say)
  // Every answer goes to the answer log (PIMBRIDGE_ANSWER_LOG), which CTest
  // checks against the published schemas after the suite. Only a test that
  // checks an answer too large for that (over a hundred megabytes) itself
  // leaves it out, saying so.
  bool logAnswer = true;
};

ToolRun runTool(const Invocation& invocation);

// Shorthand: the world as JSON text and the arguments.
ToolRun runTool(const std::string& world, std::vector<std::string> args);

// Wall time of a run that only starts, reads a world and answers: what every
// timed case pays on top of its waits, on this machine, in this build (a
// sanitized one starts ten times slower), under the load of the moment.
// Upper bounds on a run's time add it, so that they hold the tool's own
// waits, not the machine's speed.
double startSeconds();

// Sanitizer reports of sanitized runs whose standard error is not to be
// trusted (the EDS build leads it to /dev/null). When PIMBRIDGE_SANITIZER_LIBRARIES
// names a list of libraries, every run of the tool writes its reports to
// files of its own (log_path), and the test fails on each report unless every
// frame of it lies inside those libraries (see sanitizerFindings).
bool collectingSanitizerReports();

// The environment entries that send a run's reports to files starting with
// prefix, and keep them from changing its exit status.
std::vector<std::string> sanitizerLogEnvironment(const std::string& prefix);

// The reports in the files starting with prefix that are not confined to
// the listed libraries, which are then removed; empty when there are none.
std::string sanitizerFindings(const std::string& prefix);

// The reports of a sanitizer log that are not confined to the libraries
// (each a prefix of a module's file name), one after another.
std::string unconfinedReports(const std::string& log, const std::vector<std::string>& libraries);

// A fresh path prefix for one run's reports.
std::string sanitizerLogPrefix();

// Index of the first trace line equal to line, or -1.
int traceIndex(const ToolRun& run, const std::string& line);

}  // namespace pimbridge::e2e

namespace pimbridge::e2e {

// One end-to-end case: a world, the arguments, and what the host must get.
struct Case {
  std::string name;
  friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
  std::string world;
  std::vector<std::string> args;
  int status = 0;
  std::string answer;                   // the expected JSON object; empty: nothing on standard output
  std::string err = "";                 // the exact bytes of standard error
  std::vector<std::string> trace = {};  // the exact trace, when not empty
};

// Runs the case and checks everything it names with gtest assertions.
ToolRun expectCase(const Case& c);

// gtest's name for a case.
struct CaseName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

}  // namespace pimbridge::e2e
