// The tool built on Evolution Data Server, end to end against a real, private
// EDS (one per case, see main.cpp): lists and their order, tasks and their
// due dates, contacts, every state word, the access requests, and the real
// services frozen, killed or missing.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../harness.hpp"

namespace pimbridge::e2e {
namespace {

using nlohmann::json;

// Runs a shell command; its standard output, and the status.
std::string capture(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    status = -1;
    return out;
  }
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int waited = ::pclose(pipe);
  status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
  return out;
}

// Fills the case's EDS through the client libraries (tests/platform/eds/eds_seed.cpp).
json seed(const json& scenario) {
  const std::string path = std::string(std::getenv("PRIVATE_EDS_DIR")) + "/scenario.json";
  std::ofstream(path) << scenario.dump();
  int status = 0;
  std::string command = std::string(PIMBRIDGE_EDS_SEED) + " " + path;
  const std::string reports = sanitizerLogPrefix();
  if (collectingSanitizerReports()) {
    for (const auto& entry : sanitizerLogEnvironment(reports)) command = "'" + entry + "' " + command;
    command = "env " + command;
  }
  const std::string out = capture(command, status);
  EXPECT_EQ(status, 0) << "seeding failed";
  if (collectingSanitizerReports()) {
    const std::string findings = sanitizerFindings(reports);
    EXPECT_EQ(findings, "") << "sanitizer report from eds_seed";
  }
  return status == 0 ? json::parse(out) : json::object();
}

// The process that serves a name on the case's bus.
pid_t servedBy(const std::string& name) {
  int status = 0;
  const std::string out = capture(
      "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "
      "org.freedesktop.DBus.GetConnectionUnixProcessID string:" +
          name + " | sed -n 's/^ *uint32 \\([0-9]*\\)$/\\1/p'",
      status);
  return static_cast<pid_t>(std::atol(out.c_str()));
}

constexpr const char* registryName = "org.gnome.evolution.dataserver.Sources5";
constexpr const char* calendarFactory = "org.gnome.evolution.dataserver.Calendar8";
constexpr const char* addressBookFactory = "org.gnome.evolution.dataserver.AddressBook10";
// The bus itself answers for its own name.
constexpr const char* busName = "org.freedesktop.DBus";

// Ends a process of the case by its pid and waits until it is gone (it is
// not a child of the test, so it cannot be reaped here).
void endAndWait(pid_t pid, int signal) {
  ::kill(pid, signal);
  ::kill(pid, SIGCONT);
  for (int tries = 0; tries < 200 && ::kill(pid, 0) == 0; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Watches the case's bus for calls of one method, through dbus-monitor,
// which is ended by its pid.
class CallWatch {
 public:
  explicit CallWatch(const std::string& member) {
    int out[2];
    if (::pipe(out) != 0) return;
    const std::string rule = "type='method_call',member='" + member + "'";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      ::execlp("stdbuf", "stdbuf", "-oL", "dbus-monitor", "--session", rule.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
    marker_ = "member=" + member;
    // dbus-monitor says nothing once it watches; give it the time to start.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ~CallWatch() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) ::close(fd_);
  }
  CallWatch(const CallWatch&) = delete;
  CallWatch& operator=(const CallWatch&) = delete;

  // True once the method was called, false when the time ran out first.
  bool seen(std::chrono::seconds within) {
    const auto end = std::chrono::steady_clock::now() + within;
    pollfd watched{fd_, POLLIN, 0};
    while (fd_ >= 0 && std::chrono::steady_clock::now() < end) {
      if (::poll(&watched, 1, 100) <= 0 || (watched.revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) return false;
      text_.append(buffer, static_cast<std::size_t>(n));
      if (text_.find(marker_) != std::string::npos) return true;
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string marker_;
  std::string text_;
};

// Six busy processes per core: a desktop under heavy load.
unsigned busyCount() {
  return std::max(2u, std::thread::hardware_concurrency()) * 6;
}

// Processes that keep every core busy while they live; ended by their pids.
class BusyProcesses {
 public:
  explicit BusyProcesses(unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        volatile unsigned long spin = 0;
        for (;;) spin = spin + 1;
      }
      if (pid > 0) pids_.push_back(pid);
    }
  }
  ~BusyProcesses() {
    for (const pid_t pid : pids_) ::kill(pid, SIGKILL);
    for (const pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
  }
  BusyProcesses(const BusyProcesses&) = delete;
  BusyProcesses& operator=(const BusyProcesses&) = delete;

 private:
  std::vector<pid_t> pids_;
};

std::string vtodo(const std::string& uid, const std::vector<std::string>& lines) {
  std::string text = "BEGIN:VTODO\r\nUID:" + uid + "\r\n";
  for (const auto& line : lines) text += line + "\r\n";
  return text + "END:VTODO\r\n";
}

json taskList(const std::string& name, const std::string& uid, const std::vector<std::string>& tasks) {
  return {{"name", name}, {"uid", uid}, {"tasks", tasks}};
}

ToolRun run(std::vector<std::string> args, std::vector<std::string> environment = {}) {
  Invocation inv;
  inv.args = std::move(args);
  inv.trace = false;
  inv.extraEnvironment = std::move(environment);
  return runTool(inv);
}

// The same, inside a session bus of its own that serves no EDS at all.
ToolRun runWithoutEds(std::vector<std::string> args) {
  Invocation inv;
  inv.args = std::move(args);
  inv.trace = false;
  inv.wrapper = {"bash", PIMBRIDGE_PRIVATE_EDS, "--no-services"};
  return runTool(inv);
}

const std::vector<std::string> noBus = {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"};

// The rows of a "reminders" answer by identifier, whatever order a list
// gives its tasks in (EDS gives them in no particular one).
std::map<std::string, json> rowsById(const json& answer) {
  std::map<std::string, json> rows;
  for (const auto& row : answer.at("reminders")) rows[row.at("id")] = row;
  return rows;
}

// Show that "reminder-lists" gives the enabled task lists in the registry's
// order, by display name (code point order, equal names by UID), leaving out
// disabled lists, and that every identifier chooses its list in "reminders".
TEST(EdsLists, RegistryOrderEnabledOnly) {
  json hidden = taskList("Hidden", "h", {vtodo("h1", {"SUMMARY:hidden"})});
  hidden["enabled"] = false;
  seed({{"builtin_task_list_enabled", false},
        {"task_lists",
         {taskList("Zebra", "z", {vtodo("z1", {"SUMMARY:z"})}), taskList("apple", "a", {vtodo("a1", {"SUMMARY:a"})}),
          taskList("Éclair", "e", {}), taskList("Same", "s2", {vtodo("s2-1", {"SUMMARY:second"})}),
          taskList("Same", "s1", {vtodo("s1-1", {"SUMMARY:first"})}), hidden}}});
  const ToolRun lists = run({"reminder-lists", "ignored"});
  EXPECT_EQ(lists.status, 0);
  EXPECT_EQ(lists.err, "");
  EXPECT_EQ(lists.answer(), (json{{"lists",
                                   {{{"id", "s1"}, {"title", "Same"}},
                                    {{"id", "s2"}, {"title", "Same"}},
                                    {{"id", "z"}, {"title", "Zebra"}},
                                    {{"id", "a"}, {"title", "apple"}},
                                    {{"id", "e"}, {"title", "Éclair"}}}}}));

  const ToolRun all = run({"reminders"});
  std::vector<std::string> order;
  const json listed = all.answer()["reminders"];
  for (const auto& row : listed) order.push_back(row["id"]);
  EXPECT_EQ(order, (std::vector<std::string>{"s1-1", "s2-1", "z1", "a1"}));
  for (const char* id : {"s1", "s2", "z", "a"}) {
    const json rows = run({"reminders", id}).answer()["reminders"];
    ASSERT_EQ(rows.size(), 1u) << id;
    EXPECT_EQ(rows[0]["id"].get<std::string>().rfind(id, 0), 0u) << id;
  }
  EXPECT_EQ(run({"reminders", "h"}).answer(), json::parse(R"({"reminders": []})"));
}

// Show each row in full: identifiers, titles as stored (escapes undone,
// non-ASCII kept, none for a missing SUMMARY), the list's title, and a task
// counted as done by STATUS:COMPLETED or by a COMPLETED property alone.
TEST(EdsReminders, RowsInFull) {
  seed({{"builtin_task_list_enabled", false},
        {"task_lists",
         {taskList("Home/Errands", "home",
                   {vtodo("open", {"SUMMARY:Café with Zoë"}),
                    vtodo("status", {"SUMMARY:a\\, b\\; c\\\\d\\nline 2", "STATUS:COMPLETED"}),
                    vtodo("property", {"SUMMARY:\"quoted\" / slash", "COMPLETED:20240101T120000Z"}),
                    vtodo("both", {"SUMMARY:both", "STATUS:COMPLETED", "COMPLETED:20240101T120000Z"}),
                    vtodo("needs-action", {"SUMMARY:not yet", "STATUS:NEEDS-ACTION"}), vtodo("untitled", {})})}}});
  const ToolRun all = run({"reminders"});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.err, "");
  const auto row = [](const char* id, const char* title, bool completed) {
    return json{{"id", id}, {"title", title}, {"list", "Home/Errands"}, {"due", nullptr}, {"completed", completed}};
  };
  EXPECT_EQ(rowsById(all.answer()), (std::map<std::string, json>{
                                        {"open", row("open", "Café with Zoë", false)},
                                        {"status", row("status", "a, b; c\\d\nline 2", true)},
                                        {"property", row("property", "\"quoted\" / slash", true)},
                                        {"both", row("both", "both", true)},
                                        {"needs-action", row("needs-action", "not yet", false)},
                                        {"untitled", row("untitled", "", false)},
                                    }));
  EXPECT_NE(all.out.find(R"("Home\/Errands")"), std::string::npos);
}

struct DueCase {
  std::string name;
  friend void PrintTo(const DueCase& c, std::ostream* os) { *os << c.name; }
  std::string tz;
  std::map<std::string, json> due;  // task id -> expected "due"
};

class EdsDues : public testing::TestWithParam<DueCase> {};

// A zone of the list's own, two hours east of UTC all year.
const std::string plusTwo =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//pimbridge tests//EN\r\n"
    "BEGIN:VTIMEZONE\r\nTZID:Test/Plus Two\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
    "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0200\r\nTZNAME:P2\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
    "BEGIN:VTODO\r\nUID:custom-zone\r\nDUE;TZID=Test/Plus Two:20240305T163000\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

// Show how each way of writing DUE becomes a moment in UTC: a UTC time as
// it is, a zoned time in its zone (a well-known one, or one the list
// defines), a floating time and a date in the tool's local zone (TZ; a date
// at its midnight), seconds kept; and no DUE, though EDS would compute one
// from DTSTART and DURATION, as null.
TEST_P(EdsDues, AsInstantsInUtc) {
  seed({{"builtin_task_list_enabled", false},
        {"task_lists",
         {taskList("Dues", "dues",
                   {vtodo("utc", {"DUE:20240305T163059Z"}), vtodo("berlin", {"DUE;TZID=Europe/Berlin:20240305T163000"}),
                    vtodo("new-york-summer", {"DUE;TZID=America/New_York:20240701T120000"}), plusTwo,
                    vtodo("floating", {"DUE:20240305T163000"}), vtodo("date", {"DUE;VALUE=DATE:20240401"}),
                    vtodo("computed", {"DTSTART:20240305T090000Z", "DURATION:PT1H"}), vtodo("none", {})})}}});
  const ToolRun all = run({"reminders"}, {"TZ=" + GetParam().tz});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.err, "");
  std::map<std::string, json> dues;
  for (const auto& [id, row] : rowsById(all.answer())) dues[id] = row["due"];
  std::map<std::string, json> expected = {{"utc", "2024-03-05T16:30:59Z"},
                                          {"berlin", "2024-03-05T15:30:00Z"},
                                          {"new-york-summer", "2024-07-01T16:00:00Z"},
                                          {"custom-zone", "2024-03-05T14:30:00Z"},
                                          {"computed", nullptr},
                                          {"none", nullptr}};
  expected.insert(GetParam().due.begin(), GetParam().due.end());
  EXPECT_EQ(dues, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, EdsDues,
    testing::Values(
        DueCase{
            "NewYork", "America/New_York", {{"floating", "2024-03-05T21:30:00Z"}, {"date", "2024-04-01T04:00:00Z"}}},
        DueCase{"Kolkata", "Asia/Kolkata", {{"floating", "2024-03-05T11:00:00Z"}, {"date", "2024-03-31T18:30:00Z"}}}),
    [](const auto& info) { return info.param.name; });

// Show that a recurring task comes once, with its DUE as stored, and a
// detached instance of it as a row of its own whose identifier adds "#" and
// its RECURRENCE-ID to the UID.
TEST(EdsReminders, RecurringTaskWithDetachedInstance) {
  seed({{"builtin_task_list_enabled", false},
        {"task_lists",
         {taskList("Weekly", "weekly",
                   {vtodo("standup@example.org", {"SUMMARY:stand-up", "DTSTART:20240101T090000Z",
                                                  "DUE:20240101T100000Z", "RRULE:FREQ=WEEKLY;COUNT=3"}),
                    vtodo("standup@example.org", {"SUMMARY:stand-up, moved", "RECURRENCE-ID:20240108T090000Z",
                                                  "DTSTART:20240108T100000Z", "DUE:20240108T110000Z"})})}}});
  const ToolRun all = run({"reminders"});
  EXPECT_EQ(all.status, 0);
  const auto rows = rowsById(all.answer());
  ASSERT_EQ(rows.size(), 2u) << all.out;
  EXPECT_EQ(rows.at("standup@example.org")["due"], "2024-01-01T10:00:00Z");
  EXPECT_EQ(rows.at("standup@example.org#20240108T090000Z")["due"], "2024-01-08T11:00:00Z");
  EXPECT_EQ(rows.at("standup@example.org#20240108T090000Z")["title"], "stand-up, moved");
}

// Show the list filter and the row threshold: lists of 600, 600 and 10 tasks
// give the first two lists whole and never the third; identifiers choose
// lists, in the registry's order, and unknown ones are ignored.
TEST(EdsReminders, FilterAndThreshold) {
  seed({{"builtin_task_list_enabled", false},
        {"task_lists",
         {{{"name", "A"}, {"uid", "la"}, {"generate", 600}},
          {{"name", "B"}, {"uid", "lb"}, {"generate", 600}},
          {{"name", "C"}, {"uid", "lc"}, {"generate", 10}}}}});
  std::map<std::string, int> perList;
  const json everything = run({"reminders"}).answer()["reminders"];
  for (const auto& row : everything) perList[row["list"]]++;
  EXPECT_EQ(perList, (std::map<std::string, int>{{"A", 600}, {"B", 600}}));

  perList.clear();
  const json chosen = run({"reminders", "lc", "nope", "lb", "lc"}).answer()["reminders"];
  for (const auto& row : chosen) perList[row["list"]]++;
  EXPECT_EQ(perList, (std::map<std::string, int>{{"B", 600}, {"C", 10}}));
  EXPECT_EQ(run({"reminders", "nope"}).answer(), json::parse(R"({"reminders": []})"));
}

std::string vcard(const std::string& uid, const std::vector<std::string>& lines) {
  std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\n";
  for (const auto& line : lines) text += line + "\r\n";
  return text + "END:VCARD\r\n";
}

// Show the contacts of the default address book: names from given and family
// names joined by one space, leaving out empty ones; phones and e-mails in
// card order with duplicates and empty values kept.
TEST(EdsContacts, NamesPhonesAndEmails) {
  seed({{"contacts",
         {vcard("both", {"N:Lovelace;Ada;;;", "FN:Ada Lovelace", "TEL;TYPE=CELL:+44 20 7946 0018",
                         "TEL:", "TEL:+44 20 7946 0018", "EMAIL:ada@example.org", "EMAIL:a.l@example.net"}),
          vcard("given", {"N:;Grace;;;", "FN:Grace"}), vcard("family", {"N:Núñez;;;;", "FN:Núñez"}),
          vcard("none", {"FN:Nobody", "item1.EMAIL:only@example.com"})}}});
  const ToolRun all = run({"contacts", "ignored"});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.err, "");
  std::map<std::string, json> rows;
  const json contacts = all.answer()["contacts"];
  for (const auto& row : contacts) rows[row["id"]] = row;
  const auto contact = [](const char* id, const char* name, json phones, json emails) {
    return json{{"id", id}, {"name", name}, {"phones", phones}, {"emails", emails}};
  };
  EXPECT_EQ(rows, (std::map<std::string, json>{
                      {"both", contact("both", "Ada Lovelace", {"+44 20 7946 0018", "", "+44 20 7946 0018"},
                                       {"ada@example.org", "a.l@example.net"})},
                      {"given", contact("given", "Grace", json::array(), json::array())},
                      {"family", contact("family", "Núñez", json::array(), json::array())},
                      {"none", contact("none", "", json::array(), {"only@example.com"})},
                  }));
}

// Show that at most 500 contacts come out of a larger book, whole.
TEST(EdsContacts, CapOf500) {
  seed({{"generate_contacts", 620}});
  const ToolRun all = run({"contacts"});
  EXPECT_EQ(all.status, 0);
  const json contacts = all.answer()["contacts"];
  ASSERT_EQ(contacts.size(), 500u);
  std::set<std::string> ids;
  for (const auto& row : contacts) {
    ids.insert(row["id"].get<std::string>());
    EXPECT_EQ(row["phones"].size(), 1u);
    EXPECT_EQ(row["emails"].size(), 1u);
  }
  EXPECT_EQ(ids.size(), 500u);
}

struct StateCase {
  std::string name;
  friend void PrintTo(const StateCase& c, std::ostream* os) { *os << c.name; }
  bool eds;                      // EDS on the bus, or a bus without it
  std::vector<std::string> env;  // e.g. no bus at all
  std::string word;
};

class EdsStates : public testing::TestWithParam<StateCase> {};

// Show every state word EDS can give and what follows from it: with EDS on
// the bus both stores are "authorized" and the access requests are granted;
// on a bus without EDS they are "restricted", and without a bus "unknown",
// and then every reading command is refused and every request answered "no"
// with status 2. Never "denied" or "not_determined".
TEST_P(EdsStates, WordsGateAndRequests) {
  const auto& p = GetParam();
  const auto tool = [&p](std::vector<std::string> args) {
    return p.eds ? run(std::move(args), p.env) : runWithoutEds(std::move(args));
  };
  const ToolRun report = tool({"authorization"});
  EXPECT_EQ(report.status, 0);
  EXPECT_EQ(report.err, "");
  EXPECT_EQ(report.answer(), (json{{"reminders", p.word}, {"contacts", p.word}}));

  const bool authorized = p.word == "authorized";
  for (const char* command : {"reminder-lists", "reminders", "contacts"}) {
    const ToolRun reading = tool({command});
    EXPECT_EQ(reading.status, authorized ? 0 : 2) << command;
    EXPECT_EQ(reading.err, "") << command;
    if (!authorized) {
      EXPECT_EQ(reading.answer(), json::parse(R"({"error": "permission_required"})")) << command;
    }
  }
  for (const char* command : {"request-reminders", "request-contacts"}) {
    const ToolRun request = tool({command});
    EXPECT_EQ(request.status, authorized ? 0 : 2) << command;
    EXPECT_EQ(request.err, "") << command;
    EXPECT_EQ(request.answer(), (json{{"ok", authorized}, {"authorization", p.word}})) << command;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, EdsStates,
    testing::Values(StateCase{"EdsRunning", true, {}, "authorized"},
                    StateCase{"BusWithoutEds", false, {}, "restricted"}, StateCase{"NoBus", true, noBus, "unknown"},
                    StateCase{
                        "NoBusNamed", true, {"DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=/nonexistent"}, "unknown"}),
    [](const auto& info) { return info.param.name; });

// Show that GLib's and EDS's own diagnostics never reach the host, however
// loud the environment asks them to be, and never end the run.
TEST(EdsFaults, LoudEnvironmentStaysQuiet) {
  const std::vector<std::string> loud = {"G_MESSAGES_DEBUG=all", "G_DEBUG=fatal-criticals,fatal-warnings",
                                         "ESR_DEBUG=1", "ERW_DEBUG=1", "LIBICAL_DEBUG=1"};
  seed({{"task_lists", {taskList("L", "l", {vtodo("t", {"SUMMARY:x", "DUE;TZID=Nowhere/Land:20240101T000000"})})}},
        {"contacts", {vcard("c", {"N:B;A;;;", "FN:A B"})}}});
  for (const char* command : {"authorization", "reminder-lists", "reminders", "contacts", "request-contacts"}) {
    const ToolRun loudRun = run({command}, loud);
    EXPECT_EQ(loudRun.status, 0) << command;
    EXPECT_EQ(loudRun.err, "") << command;
    EXPECT_NO_THROW(loudRun.answer()) << command << ": " << loudRun.out;
  }
  Invocation inv;
  inv.args = {"contacts"};
  inv.trace = false;
  inv.extraEnvironment = loud;
  inv.wrapper = {"bash", PIMBRIDGE_PRIVATE_EDS, "--no-services"};
  const ToolRun withoutEds = runTool(inv);
  EXPECT_EQ(withoutEds.status, 2);
  EXPECT_EQ(withoutEds.err, "");
}

// Show that with the calendar factory frozen (stopped by its pid after the
// lists were made), each list's fetch is given up after its five seconds and
// the command goes on: an answer without those lists, status 0, nothing on
// standard error. Contacts, served by another factory, are unaffected.
TEST(EdsFaults, FrozenCalendarFactory) {
  seed({{"builtin_task_list_enabled", false},
        {"task_lists", {taskList("One", "one", {vtodo("o", {})}), taskList("Two", "two", {vtodo("t", {})})}},
        {"contacts", {vcard("c", {"N:B;A;;;", "FN:A B"})}}});
  const pid_t factory = servedBy(calendarFactory);
  ASSERT_GT(factory, 0);
  const double start = startSeconds();
  ASSERT_EQ(::kill(factory, SIGSTOP), 0);
  const ToolRun frozen = run({"reminders"});
  const ToolRun contacts = run({"contacts"});
  ::kill(factory, SIGCONT);
  EXPECT_EQ(frozen.status, 0);
  EXPECT_EQ(frozen.err, "");
  EXPECT_EQ(frozen.answer(), json::parse(R"({"reminders": []})"));
  EXPECT_GE(frozen.seconds, 10.0);
  EXPECT_LT(frozen.seconds, 10.0 + start + 1.5);
  EXPECT_EQ(contacts.status, 0);
  EXPECT_EQ(contacts.answer()["contacts"].size(), 1u);
  // Thawed, the factory answers again.
  EXPECT_EQ(run({"reminders"}).answer()["reminders"].size(), 2u);
}

// Show that a calendar factory killed in the middle of a read costs at most
// that list: the list's rows come whole or not at all, the next list is read
// from a factory the bus starts anew, and the run ends well within its bound,
// without a word on standard error.
TEST(EdsFaults, CalendarFactoryKilledDuringARead) {
  seed({{"builtin_task_list_enabled", false},
        {"task_lists",
         {{{"name", "A big"}, {"uid", "big"}, {"generate", 20000}}, taskList("B small", "small", {vtodo("s", {})})}}});
  const pid_t factory = servedBy(calendarFactory);
  ASSERT_GT(factory, 0);
  const double start = startSeconds();
  ToolRun killed;
  std::thread tool([&killed] { killed = run({"reminders"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ::kill(factory, SIGKILL);
  tool.join();
  EXPECT_EQ(killed.status, 0);
  EXPECT_EQ(killed.err, "");
  std::map<std::string, int> perList;
  const json rows = killed.answer()["reminders"];
  for (const auto& row : rows) perList[row["list"]]++;
  // Killed during its read, the big list is left out and the small one read
  // from a new factory; killed before it, the big list is read whole from the
  // new factory, and its 20,000 rows end the fetching at the row threshold.
  EXPECT_TRUE((perList["A big"] == 0 && perList["B small"] == 1) ||
              (perList["A big"] == 20000 && perList["B small"] == 0))
      << perList["A big"] << " and " << perList["B small"];
  EXPECT_LT(killed.seconds, 5.0 + start + 1.5);
}

// Show that a frozen source registry gives bounded answers: both states
// "unknown" within about a second each, and the reading commands refused.
TEST(EdsFaults, FrozenRegistry) {
  seed({{"task_lists", {taskList("L", "l", {vtodo("t", {})})}}});
  const pid_t registry = servedBy(registryName);
  ASSERT_GT(registry, 0);
  const double start = startSeconds();
  ASSERT_EQ(::kill(registry, SIGSTOP), 0);
  const ToolRun report = run({"authorization"});
  const ToolRun reminders = run({"reminders"});
  const ToolRun contacts = run({"contacts"});
  ::kill(registry, SIGCONT);
  EXPECT_EQ(report.status, 0);
  EXPECT_EQ(report.err, "");
  EXPECT_EQ(report.answer(), json::parse(R"({"reminders": "unknown", "contacts": "unknown"})"));
  EXPECT_LT(report.seconds, 2.0 + start + 1.0);
  for (const ToolRun* refused : {&reminders, &contacts}) {
    EXPECT_EQ(refused->status, 2);
    EXPECT_EQ(refused->err, "");
    EXPECT_EQ(refused->answer(), json::parse(R"({"error": "permission_required"})"));
    EXPECT_LT(refused->seconds, 1.0 + start + 1.0);
  }
}

// The EdsUnderLoad cases load every core, which would slow the cases beside
// them, so they run on their own (see tests/CMakeLists.txt).

struct BusLossCase {
  std::string name;
  friend void PrintTo(const BusLossCase& c, std::ostream* os) { *os << c.name; }
  json scenario;
  std::string command;
  std::string readCall;  // the store method whose call shows the read under way
  double bound;          // the command's own bound, in seconds
};

class EdsBusLost : public testing::TestWithParam<BusLossCase> {};

// Show that the session bus killed (by its pid) in the middle of a read
// ends the run in a defined answer: one JSON line with what was read before
// (the lists read so far, the contacts read so far), status 0, nothing on
// standard error, within the command's bound; never GLib ending the process.
TEST_P(EdsBusLost, KilledDuringARead) {
  const auto& p = GetParam();
  seed(p.scenario);
  const pid_t bus = servedBy(busName);
  ASSERT_GT(bus, 0);
  const double start = startSeconds();
  // The bus is killed when the tool is seen asking for the items, not after
  // a fixed time: on a slow build the gate's state read may still be going
  // on then, and a bus lost before it is rightly "unknown".
  CallWatch watch(p.readCall);
  ToolRun lost;
  std::thread tool([&] { lost = run({p.command}); });
  const bool reading = watch.seen(std::chrono::seconds(20));
  ::kill(bus, SIGKILL);
  tool.join();
  ASSERT_TRUE(reading) << lost.out;
  EXPECT_EQ(lost.status, 0);
  EXPECT_EQ(lost.err, "");
  EXPECT_NO_THROW(static_cast<void>(lost.answer()[p.command])) << lost.out;
  EXPECT_LT(lost.seconds, p.bound + start + 1.5);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, EdsBusLost,
    testing::Values(BusLossCase{"Reminders",
                                {{"builtin_task_list_enabled", false},
                                 {"task_lists", {{{"name", "Big"}, {"uid", "big"}, {"generate", 20000}}}}},
                                "reminders",
                                "GetObjectList",
                                5.0},
                    BusLossCase{"Contacts", {{"generate_contacts", 20000}}, "contacts", "GetContact", 10.0}),
    [](const auto& info) { return info.param.name; });

// Show that a list given up at its deadline costs only itself: a list of
// 120,000 tasks, then a list of three, in a fresh calendar factory that is
// frozen (by its pid) as the tool asks it for the big list's tasks, and
// thawed after that list's five seconds: the big list is left out, and the
// small one's rows come back within their own five seconds.
TEST(EdsFaults, HugeListBeforeASmallOne) {
  constexpr int bigSize = 120000;
  seed({{"builtin_task_list_enabled", false},
        {"task_lists",
         {{{"name", "A big"}, {"uid", "big"}, {"generate", bigSize}},
          {{"name", "B small"}, {"uid", "small"}, {"generate", 3}}}}});
  // The factory keeps the list in memory and writes it out shortly after;
  // once it is on disk, a fresh factory reads the list the way a desktop's
  // first question of the day does.
  const std::string file = std::string(std::getenv("PRIVATE_EDS_DIR")) + "/data/evolution/tasks/big/tasks.ics";
  int stored = 0;
  for (int tries = 0; tries < 200 && stored < bigSize; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ifstream in(file);
    stored = 0;
    for (std::string line; std::getline(in, line);) stored += line.rfind("BEGIN:VTODO", 0) == 0 ? 1 : 0;
  }
  ASSERT_EQ(stored, bigSize);
  const pid_t seeded = servedBy(calendarFactory);
  ASSERT_GT(seeded, 0);
  endAndWait(seeded, SIGKILL);

  const double start = startSeconds();
  // The bus lets the case watch the calls: the first read of a list is the
  // big one's.
  CallWatch watch("GetObjectList");
  ToolRun both;
  std::thread tool([&both] { both = run({"reminders"}); });
  const bool asked = watch.seen(std::chrono::seconds(20));
  const pid_t factory = servedBy(calendarFactory);
  if (factory > 0) ::kill(factory, SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(6000));
  if (factory > 0) ::kill(factory, SIGCONT);
  tool.join();
  EXPECT_TRUE(asked);
  ASSERT_GT(factory, 0);
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.err, "");
  std::map<std::string, int> perList;
  const json rows = both.answer()["reminders"];
  for (const auto& row : rows) perList[row["list"]]++;
  EXPECT_EQ(perList, (std::map<std::string, int>{{"B small", 3}}));
  EXPECT_LT(both.seconds, 10.0 + start + 1.5);
  EXPECT_GE(both.seconds, 5.0);
  // Closing a list that large keeps the factory busy long after the run; it
  // is ended here so that the case's teardown need not wait for it.
  endAndWait(factory, SIGKILL);
}

// Show that a cold start on a loaded machine is waited for: with the
// registry and both factories ended after seeding, and every core kept busy
// by three times as many busy processes, the first run starts them by D-Bus
// activation, which takes longer than the one second a running registry
// gets, and still answers with the rows.
TEST(EdsUnderLoad, ColdStart) {
  seed({{"builtin_task_list_enabled", false},
        {"task_lists", {taskList("L", "l", {vtodo("t1", {}), vtodo("t2", {})})}},
        {"contacts", {vcard("c", {"N:B;A;;;", "FN:A B"})}}});
  for (const char* service : {calendarFactory, addressBookFactory, registryName}) {
    const pid_t pid = servedBy(service);
    ASSERT_GT(pid, 0) << service;
    endAndWait(pid, SIGTERM);
  }
  ToolRun cold;
  ToolRun contacts;
  {
    const BusyProcesses load(busyCount());
    cold = run({"reminders"});
    contacts = run({"contacts"});
  }
  EXPECT_EQ(cold.status, 0);
  EXPECT_EQ(cold.err, "");
  EXPECT_EQ(rowsById(cold.answer()).size(), 2u) << cold.out;
  EXPECT_EQ(contacts.status, 0);
  EXPECT_EQ(contacts.answer()["contacts"].size(), 1u) << contacts.out;
}

struct ReportCase {
  std::string name;
  friend void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }
  std::string log;
  bool kept;
};

class SanitizerReports : public testing::TestWithParam<ReportCase> {};

const std::string leakHead = "Direct leak of 24 byte(s) in 1 object(s) allocated from:\n";
const std::string malloc0 = "    #0 0x55 in __interceptor_calloc (/b/eds_seed+0xdd878) (BuildId: 6e)\n";
const std::string glibFrame =
    "    #1 0x7f in g_malloc0 (/lib/x86_64-linux-gnu/libglib-2.0.so.0+0x5a6b0) (BuildId: ed)\n";
const std::string threadEntry =
    "    #2 0x7f in start_thread nptl/./nptl/pthread_create.c:442:8\n    #3 0x7f in clone3 misc/clone3.S:81\n";
const std::string ownFrame =
    std::string("    #2 0x55 in pimbridge::eds::withRegistry ") + __FILE__ + ":1:1 (/b/pimbridge+0x1)\n";
const std::string raceHead = "WARNING: ThreadSanitizer: data race (pid=1)\n  Write of size 8 at 0x7b by thread T4:\n";
const std::string raceCreated =
    "  Thread T1 (tid=2, running) created by main thread at:\n    #0 pthread_create <null> (pimbridge+0x62c2d)\n" +
    ownFrame + "SUMMARY: ThreadSanitizer: data race\n==================\n";

// Show what the harness passes over in a sanitizer log: a leak or a race
// only when every frame of it (the interceptor and libc's thread entry
// aside) is inside the listed libraries, however the thread that made it was
// created; a frame of the tool's own, or any other kind of report, keeps it.
TEST_P(SanitizerReports, ConfinedOnlyWhenEveryFrameIsInTheLibraries) {
  const std::string kept = unconfinedReports(GetParam().log, {"libglib-2.0.so", "libgio-2.0.so"});
  EXPECT_EQ(!kept.empty(), GetParam().kept) << kept;
}

INSTANTIATE_TEST_SUITE_P(
    Logs, SanitizerReports,
    testing::Values(
        ReportCase{"LeakInsideGlib", leakHead + malloc0 + glibFrame + threadEntry + "\nSUMMARY: x\n", false},
        ReportCase{"LeakThroughOwnFrame", leakHead + malloc0 + glibFrame + ownFrame + "\nSUMMARY: x\n", true},
        ReportCase{"SecondLeakOwn",
                   leakHead + malloc0 + glibFrame + "\n" + leakHead + malloc0 + ownFrame + "\nSUMMARY: x\n", true},
        ReportCase{"RaceInsideGlibOnOwnThread",
                   raceHead + "    #0 memcpy <null> (pimbridge+0x6ce9e)\n" +
                       "    #1 g_strdup <null> (libglib-2.0.so.0+0x74c6c)\n" + raceCreated,
                   false},
        ReportCase{"RaceInOwnCode", raceHead + "    #0 memcpy <null> (pimbridge+0x6ce9e)\n" + ownFrame + raceCreated,
                   true},
        ReportCase{
            "AddressError",
            "==1==ERROR: AddressSanitizer: heap-use-after-free\n" + malloc0 + glibFrame + "SUMMARY: AddressSanitizer\n",
            true},
        ReportCase{"UndefinedBehaviour", "x.cpp:3:5: runtime error: signed integer overflow\n", true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pimbridge::e2e
