// The tool on vdir folders written here, byte for byte: where it finds them
// and every state word, the rows that iCalendar's and vCard's forms give,
// hostile and broken files, files changing while they are read, and the
// bounds of 1,000 rows and 500 contacts.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "folders.hpp"

namespace pimbridge::e2e::vdir {
namespace {

using nlohmann::json;

std::string todo(const std::string& uid, const std::vector<std::string>& lines) {
  std::vector<std::string> all = {"BEGIN:VTODO", "UID:" + uid};
  all.insert(all.end(), lines.begin(), lines.end());
  all.push_back("END:VTODO");
  return calendar(all);
}

std::string card(const std::vector<std::string>& lines) {
  std::string text = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  for (const auto& line : lines) text += line + "\r\n";
  return text + "END:VCARD\r\n";
}

void expectQuiet(const ToolRun& run) {
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
}

struct StateCase {
  std::string name;
  friend void PrintTo(const StateCase& c, std::ostream* os) { *os << c.name; }
  // Sets up the tree; returns the environment for the run.
  std::vector<std::string> (*arrange)(const Tree& tree);
  std::string reminders;
  std::string contacts;
};

std::string config(const std::string& tasks, const std::string& contacts) {
  return "[general]\nstatus_path = \"~/status\"\n\n[storage t]\ntype = \"filesystem\"\npath = \"" + tasks +
         "\"\nfileext = \".ics\"\n\n[storage r]\ntype = \"caldav\"\nurl = \"http://127.0.0.1:1/\"\n\n"
         "[storage c]\ntype = \"filesystem\"\npath = \"" +
         contacts + "\"\nfileext = \".vcf\"\n";
}

std::vector<std::string> nothing(const Tree&) {
  return {};
}

const StateCase stateCases[] = {
    {"NothingConfigured", nothing, "restricted", "restricted"},
    {"VariablesName_FoldersThere",
     [](const Tree& t) {
       t.mkdir("tasks/a");
       t.mkdir("book");
       return foldersOf(t, "tasks", "book");
     },
     "authorized", "authorized"},
    {"VariablesName_FoldersMissing", [](const Tree& t) { return foldersOf(t, "tasks", "book"); }, "restricted",
     "restricted"},
    {"VariablesName_FoldersUnreadable",
     [](const Tree& t) {
       t.mkdir("tasks");
       t.mkdir("book");
       ::chmod(t.path("tasks").c_str(), 0);
       ::chmod(t.path("book").c_str(), 0);
       return foldersOf(t, "tasks", "book");
     },
     "denied", "denied"},
    {"NamedConfig_FirstVcfStoragesFirstBook",
     [](const Tree& t) {
       t.mkdir("v/tasks/a");
       t.mkdir("v/contacts/friends");
       t.write("cfg", config("~/../v/tasks", "~/../v/contacts"));
       return std::vector<std::string>{"VDIRSYNCER_CONFIG=" + t.path("cfg")};
     },
     "authorized", "authorized"},
    {"HomeConfigBeforeXdg",
     [](const Tree& t) {
       t.mkdir("v/tasks");
       t.write("home/.vdirsyncer/config", config(t.path("v/tasks"), t.path("nowhere")));
       t.write("xdg/vdirsyncer/config", "this is not a configuration");
       return std::vector<std::string>{"XDG_CONFIG_HOME=" + t.path("xdg")};
     },
     "authorized", "restricted"},
    {"XdgConfig",
     [](const Tree& t) {
       t.mkdir("v/contacts/book");
       t.write("xdg/vdirsyncer/config", config(t.path("nowhere"), t.path("v/contacts")));
       return std::vector<std::string>{"XDG_CONFIG_HOME=" + t.path("xdg")};
     },
     "restricted", "authorized"},
    {"DefaultXdgIsDotConfig",
     [](const Tree& t) {
       t.mkdir("v/tasks");
       t.mkdir("v/contacts");
       t.write("home/.config/vdirsyncer/config", config(t.path("v/tasks"), t.path("v/contacts")));
       return std::vector<std::string>{};
     },
     "authorized", "authorized"},
    {"ConfigWithoutFilesystemStorages",
     [](const Tree& t) {
       t.write("cfg", "[storage r]\ntype = \"caldav\"\nurl = \"http://127.0.0.1:1/\"\n");
       return std::vector<std::string>{"VDIRSYNCER_CONFIG=" + t.path("cfg")};
     },
     "restricted", "restricted"},
    {"ConfigThatDoesNotParse",
     [](const Tree& t) {
       t.write("cfg", "[storage t]\ntype = filesystem-without-quotes\n");
       return std::vector<std::string>{"VDIRSYNCER_CONFIG=" + t.path("cfg")};
     },
     "unknown", "unknown"},
    {"ConfigIsAFolder",
     [](const Tree& t) {
       t.mkdir("cfg");
       return std::vector<std::string>{"VDIRSYNCER_CONFIG=" + t.path("cfg")};
     },
     "unknown", "unknown"},
    {"VariableOverridesABrokenConfig",
     [](const Tree& t) {
       t.mkdir("tasks");
       t.write("cfg", "not [ a config");
       return std::vector<std::string>{"VDIRSYNCER_CONFIG=" + t.path("cfg"), "PIMBRIDGE_VDIR_TASKS=" + t.path("tasks")};
     },
     "authorized", "unknown"},
};

class VdirStates : public testing::TestWithParam<StateCase> {};

// Show each state word from where the folders are said to be, and that the
// access requests answer at once with it (granted only when authorized),
// while the reading commands are refused unless authorized.
TEST_P(VdirStates, WordsAndRequests) {
  const StateCase& c = GetParam();
  const Tree tree;
  const auto environment = c.arrange(tree);
  const ToolRun state = runIn(tree, {"authorization"}, environment, true);
  expectQuiet(state);
  EXPECT_EQ(state.answer(), (json{{"reminders", c.reminders}, {"contacts", c.contacts}}));

  const ToolRun reminders = runIn(tree, {"request-reminders"}, environment, true);
  expectQuiet(reminders);
  EXPECT_EQ(reminders.answer(), (json{{"ok", c.reminders == "authorized"}, {"authorization", c.reminders}}));
  EXPECT_EQ(reminders.status, c.reminders == "authorized" ? 0 : 2);
  EXPECT_LT(reminders.seconds, 2.0 + startSeconds());
  const ToolRun contacts = runIn(tree, {"request-contacts"}, environment, true);
  EXPECT_EQ(contacts.answer(), (json{{"ok", c.contacts == "authorized"}, {"authorization", c.contacts}}));

  const ToolRun lists = runIn(tree, {"reminder-lists"}, environment, true);
  expectQuiet(lists);
  if (c.reminders != "authorized") {
    EXPECT_EQ(lists.answer(), (json{{"error", "permission_required"}}));
  }
  const ToolRun cards = runIn(tree, {"contacts"}, environment, true);
  if (c.contacts != "authorized") {
    EXPECT_EQ(cards.answer(), (json{{"error", "permission_required"}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Configurations, VdirStates, testing::ValuesIn(stateCases), CaseName());

// Show the rows iCalendar's forms give: lists in name order titled by their
// displayname's first line, tasks in file-name order, folded lines (one
// split inside a character), a zone from the file's VTIMEZONE (the same
// TZID defined otherwise in another file being that file's) and one from
// the system's database, an unknown zone, floating and date values in the
// local zone across both changes of offset, a detached instance, both marks
// of completion, and the absent SUMMARY.
TEST(VdirRows, ICalendarForms) {
  const Tree tree;
  tree.write("tasks/b-home/displayname", "Home & garden\r\nsecond line\r\n");
  tree.write("tasks/a-work/displayname", "");
  const std::string office =
      "BEGIN:VTIMEZONE\r\nTZID:Office Time\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
      "TZOFFSETFROM:+0530\r\nTZOFFSETTO:+0530\r\nEND:STANDARD\r\nEND:VTIMEZONE";
  tree.write("tasks/a-work/2.ics",
             calendar({office, "BEGIN:VTODO", "UID:office", "SUMMARY:Office zone",
                       "DUE;TZID=Office Time:20240301T090000", "X-CUSTOM;X-P=1:kept", "END:VTODO"}));
  tree.write("tasks/a-work/1.ics",
             todo("fold", {"SUMMARY:A long summary that a server folds at seventy-five octets, here in the mid",
                           " dle of a word and \xC3", " \xA9 in a character", "DUE;TZID=Europe/Berlin:20240301T090000",
                           "STATUS:COMPLETED"}));
  // The same TZID defined otherwise in another file is that file's zone.
  std::string elsewhere = office;
  elsewhere.replace(elsewhere.find("+0530"), 5, "+0100");
  elsewhere.replace(elsewhere.find("+0530"), 5, "+0100");
  tree.write("tasks/a-work/2b.ics", calendar({elsewhere, "BEGIN:VTODO", "UID:office-2", "SUMMARY:Same name",
                                              "DUE;TZID=Office Time:20240301T090000", "END:VTODO"}));
  tree.write("tasks/a-work/2c.ics", calendar({office, "BEGIN:VTODO", "UID:office-3", "SUMMARY:Same zone again",
                                              "DUE;TZID=Office Time:20240302T090000", "END:VTODO"}));
  tree.write("tasks/a-work/3.ics",
             todo("unknown-zone",
                  {"SUMMARY:Unknown zone", "DUE;TZID=Nowhere/Else:20240301T090000", "COMPLETED:20240302T100000Z"}));
  tree.write("tasks/b-home/gap.ics", todo("gap", {"DUE:20240310T023000"}));
  tree.write("tasks/b-home/repeat.ics", todo("repeat", {"SUMMARY:Repeated", "DUE:20241103T013000"}));
  tree.write("tasks/b-home/date.ics", todo("date", {"SUMMARY:Date", "DUE;VALUE=DATE:20240704"}));
  tree.write("tasks/b-home/series.ics",
             calendar({"BEGIN:VTODO", "UID:series", "SUMMARY:Weekly", "DUE:20240108T090000Z", "RRULE:FREQ=WEEKLY",
                       "END:VTODO", "BEGIN:VTODO", "UID:series", "SUMMARY:This week later",
                       "RECURRENCE-ID:20240115T090000Z", "DUE:20240116T090000Z", "END:VTODO"}));
  tree.write("tasks/b-home/utc.ics", todo("utc", {"SUMMARY:UTC", "DUE:20240601T120000Z"}));
  const auto environment =
      std::vector<std::string>{"PIMBRIDGE_VDIR_TASKS=" + tree.path("tasks"), "TZ=America/New_York"};

  const ToolRun lists = runIn(tree, {"reminder-lists"}, environment);
  expectQuiet(lists);
  EXPECT_EQ(lists.answer(), json::parse(R"({"lists":[{"id":"a-work","title":"a-work"},
                                                     {"id":"b-home","title":"Home & garden"}]})"));
  const ToolRun run = runIn(tree, {"reminders"}, environment);
  expectQuiet(run);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer(), json::parse(R"({"reminders":[
    {"id":"fold","title":"A long summary that a server folds at seventy-five octets, here in the middle of a word and é in a character","list":"a-work","due":"2024-03-01T08:00:00Z","completed":true},
    {"id":"office","title":"Office zone","list":"a-work","due":"2024-03-01T03:30:00Z","completed":false},
    {"id":"office-2","title":"Same name","list":"a-work","due":"2024-03-01T08:00:00Z","completed":false},
    {"id":"office-3","title":"Same zone again","list":"a-work","due":"2024-03-02T03:30:00Z","completed":false},
    {"id":"unknown-zone","title":"Unknown zone","list":"a-work","due":null,"completed":true},
    {"id":"date","title":"Date","list":"Home & garden","due":"2024-07-04T04:00:00Z","completed":false},
    {"id":"gap","title":"","list":"Home & garden","due":"2024-03-10T07:30:00Z","completed":false},
    {"id":"repeat","title":"Repeated","list":"Home & garden","due":"2024-11-03T05:30:00Z","completed":false},
    {"id":"series","title":"Weekly","list":"Home & garden","due":"2024-01-08T09:00:00Z","completed":false},
    {"id":"series#20240115T090000Z","title":"This week later","list":"Home & garden","due":"2024-01-16T09:00:00Z","completed":false},
    {"id":"utc","title":"UTC","list":"Home & garden","due":"2024-06-01T12:00:00Z","completed":false}]})"));

  const ToolRun one = runIn(tree, {"reminders", "b-home"}, environment);
  EXPECT_EQ(one.answer()["reminders"].size(), 6u);
}

// Show the contact rows vCard's forms give: file-name order, the UID or the
// file name without one, names from N alone, and every TEL and EMAIL as
// stored, folded, escaped, empty and repeated ones included.
TEST(VdirRows, VCardForms) {
  const Tree tree;
  tree.write("book/b.vcf", card({"UID:second", "FN:Ignored Full Name", "N:Lovelace;Ada;;;", "TEL;TYPE=CELL:+44 20",
                                 "TEL:", "TEL:+44 20", "EMAIL:ada@exa", " mple.org", "EMAIL:a\\,b@example.org"}));
  tree.write("book/a.vcf", card({"UID:first", "FN:Only Formatted", "item1.TEL:12;34"}));
  tree.write("book/no-uid.vcf", card({"N:;Grace;;;", "EMAIL:grace@example.org"}));
  const ToolRun run = runIn(tree, {"contacts"}, {"PIMBRIDGE_VDIR_CONTACTS=" + tree.path("book")});
  expectQuiet(run);
  EXPECT_EQ(run.answer(), json::parse(R"({"contacts":[
    {"id":"first","name":"","phones":["12;34"],"emails":[]},
    {"id":"second","name":"Ada Lovelace","phones":["+44 20","","+44 20"],"emails":["ada@example.org","a,b@example.org"]},
    {"id":"no-uid","name":"Grace","phones":[],"emails":["grace@example.org"]}]})"));
}

// Show that what is not one clean item is skipped and the rest answered, at
// once, with nothing on standard error (also when GLib is told to print or
// abort on warnings): a FIFO, links out of the collection and to a device, a
// folder, a file over the size limit, text that is not UTF-8 or holds a NUL,
// two items in one file, a file that does not parse (or that the vCard
// parser warns of), an empty file, and hidden and temporary files.
TEST(VdirFaults, HostileFilesAreSkipped) {
  const Tree tree;
  const std::string good = todo("good", {"SUMMARY:Good"});
  tree.write("outside.ics", todo("outside", {"SUMMARY:Outside"}));
  tree.write("outside.vcf", card({"UID:outside"}));
  for (const std::string dir : {"tasks/l/", "book/"}) {
    const std::string ext = dir == "book/" ? ".vcf" : ".ics";
    tree.mkdir(dir);
    shell("mkfifo '" + tree.path(dir + "fifo" + ext) + "'");
    shell("ln -s ../../outside" + ext + " '" + tree.path(dir + "link" + ext) + "'");
    shell("ln -s /dev/zero '" + tree.path(dir + "zero" + ext) + "'");
    tree.mkdir(dir + "folder" + ext);
    shell("truncate -s 5M '" + tree.path(dir + "huge" + ext) + "'");
    tree.write(dir + "empty" + ext, "");
    tree.write(dir + "garbage" + ext, "\x01\x02 not an item at all\r\n");
  }
  tree.write("tasks/l/a-good.ics", good);
  tree.write("tasks/l/latin1.ics", todo("latin1", {"SUMMARY:caf\xE9"}));
  tree.write("tasks/l/nul.ics", todo("nul", {std::string("SUMMARY:a\0b", 11)}));
  tree.write("tasks/l/two-calendars.ics", todo("one", {}) + todo("two", {}));
  tree.write("tasks/l/two-uids.ics",
             calendar({"BEGIN:VTODO", "UID:x", "END:VTODO", "BEGIN:VTODO", "UID:y", "END:VTODO"}));
  tree.write("tasks/l/truncated.ics", good.substr(0, good.size() / 2));
  tree.write("tasks/l/.hidden.ics", todo("hidden", {}));
  tree.write("tasks/l/tmp.ics.tmp", todo("temporary", {}));
  tree.write("tasks/l/z-good.ics", todo("z-good", {"SUMMARY:Also good"}));
  tree.write("book/a-good.vcf", card({"UID:good", "N:Good;Card;;;"}));
  tree.write("book/latin1.vcf", card({"UID:latin1", "N:Caf\xE9;;;;"}));
  tree.write("book/latin1-phone.vcf", card({"UID:latin1-phone", "TEL:\xB1 1"}));
  tree.write("book/nul.vcf", card({"UID:nul", std::string("EMAIL:a\0b", 9)}));
  tree.write("book/two.vcf", card({"UID:one"}) + card({"UID:two"}));
  tree.write("book/no-end.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:no-end\r\n");
  tree.write("book/bad-name.vcf", card({"UID:bad-name", "N@ME:x"}));
  tree.write("book/z-good.vcf", card({"UID:z-good"}));

  const auto environment = foldersOf(tree, "tasks", "book");
  const ToolRun tasks = runIn(tree, {"reminders"}, environment);
  expectQuiet(tasks);
  EXPECT_EQ(tasks.status, 0);
  EXPECT_LT(tasks.seconds, 2.0 + startSeconds());
  EXPECT_EQ(tasks.answer(), json::parse(R"({"reminders":[
    {"id":"good","title":"Good","list":"l","due":null,"completed":false},
    {"id":"z-good","title":"Also good","list":"l","due":null,"completed":false}]})"));
  const ToolRun cards = runIn(tree, {"contacts"}, environment);
  expectQuiet(cards);
  EXPECT_LT(cards.seconds, 2.0 + startSeconds());
  const json goodCards = json::parse(R"({"contacts":[
    {"id":"good","name":"Card Good","phones":[],"emails":[]},
    {"id":"z-good","name":"","phones":[],"emails":[]}]})");
  EXPECT_EQ(cards.answer(), goodCards);

  // The vCard library complains of the broken cards through GLib's log,
  // which these settings would print, or make fatal.
  auto loud = environment;
  loud.insert(loud.end(), {"G_MESSAGES_DEBUG=all", "G_DEBUG=fatal-warnings,fatal-criticals"});
  const ToolRun quiet = runIn(tree, {"contacts"}, loud);
  expectQuiet(quiet);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.answer(), goodCards);
}

// Show that files rewritten in place while the tool reads them never give a
// partial line or a half-read row: each answer holds each task whole, in one
// of its versions, or not at all.
TEST(VdirFaults, FilesChangingWhileRead) {
  const Tree tree;
  const std::vector<std::string> versions = {todo("w", {"SUMMARY:short"}),
                                             todo("w", {"SUMMARY:" + std::string(20000, 'L')})};
  for (int i = 0; i < 20; ++i) tree.write("tasks/l/" + std::to_string(i) + ".ics", versions[0]);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (std::size_t k = 0; !done.load(); ++k) {
      for (int i = 0; i < 20; ++i) tree.write("tasks/l/" + std::to_string(i) + ".ics", versions[(k + i) % 2]);
    }
  });
  const std::set<std::string> titles = {"short", std::string(20000, 'L')};
  for (int round = 0; round < 15; ++round) {
    const ToolRun run = runIn(tree, {"reminders"}, {"PIMBRIDGE_VDIR_TASKS=" + tree.path("tasks")});
    expectQuiet(run);
    ASSERT_EQ(run.status, 0);
    for (const json answer = run.answer(); const auto& row : answer["reminders"])
      EXPECT_TRUE(titles.contains(row["title"])) << row.dump(0, ' ');
  }
  done = true;
  writer.join();
}

// Show the bounds: "reminders" stops after the list that crosses 1,000 rows,
// and "contacts" gives the first 500 cards in file-name order.
TEST(VdirBounds, RowThresholdAndContactCap) {
  const Tree tree;
  for (const auto& [list, count] : std::vector<std::pair<std::string, int>>{{"a", 600}, {"b", 600}, {"c", 5}}) {
    for (int i = 0; i < count; ++i)
      tree.write("tasks/" + list + "/" + std::to_string(i) + ".ics", todo(list + std::to_string(i), {}));
  }
  for (int i = 599; i >= 0; --i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d", i);
    tree.write(std::string("book/") + name + ".vcf", card({std::string("UID:") + name}));
  }
  const auto environment = foldersOf(tree, "tasks", "book");
  const ToolRun tasks = runIn(tree, {"reminders"}, environment);
  expectQuiet(tasks);
  const json rows = tasks.answer()["reminders"];
  ASSERT_EQ(rows.size(), 1200u);
  EXPECT_EQ(rows.back()["list"], "b");
  const ToolRun cards = runIn(tree, {"contacts"}, environment);
  expectQuiet(cards);
  const json contacts = cards.answer()["contacts"];
  ASSERT_EQ(contacts.size(), 500u);
  EXPECT_EQ(contacts.front()["id"], "0000");
  EXPECT_EQ(contacts.back()["id"], "0499");
}

}  // namespace
}  // namespace pimbridge::e2e::vdir
