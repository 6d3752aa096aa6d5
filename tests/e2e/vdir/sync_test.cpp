// The tool on vdirs that real peers wrote: tasks and cards put onto a private
// Radicale over CalDAV and CardDAV and synced down by vdirsyncer, tasks made
// by todoman and cards made by khard, and a mixed vdir on which the tool's
// rows must agree with todoman's own listing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "folders.hpp"

namespace pimbridge::e2e::vdir {
namespace {

using nlohmann::json;

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string lines(const std::vector<std::string>& all) {
  std::string text;
  for (const auto& line : all) text += line + "\r\n";
  return text;
}

// The UIDs of the item files that the patterns name in a folder, in the byte
// order of the files' names.
std::vector<std::string> uidsInFileOrder(const std::string& folder, const std::string& patterns) {
  const std::string found = shell("cd " + quoted(folder) + " && for f in $(LC_ALL=C ls " + patterns +
                                  "); do sed -n 's/^UID://p' $f; done | tr -d '\\r'");
  std::vector<std::string> uids;
  for (std::size_t at = 0; at < found.size();) {
    const std::size_t end = found.find('\n', at);
    uids.push_back(found.substr(at, end - at));
    at = end + 1;
  }
  return uids;
}

// Show that what a CalDAV/CardDAV server stores and vdirsyncer writes comes
// back as it was put: the collections as lists titled by their display names
// (vdirsyncer's metasync), tasks with folded lines, X- properties, the
// putter's PRODID, a VTIMEZONE of the putter's own and one the server adds,
// and cards with folded lines and repeated values, all found through the
// vdirsyncer configuration alone.
TEST(VdirSync, RadicaleThroughVdirsyncer) {
  const Tree tree;
  const std::string office = lines({"BEGIN:VTIMEZONE", "TZID:Office Time", "BEGIN:STANDARD", "DTSTART:19700101T000000",
                                    "TZOFFSETFROM:-0330", "TZOFFSETTO:-0330", "END:STANDARD", "END:VTIMEZONE"});
  const std::string head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example Corp.//Planner 7.1//EN\r\n";
  const json scenario = {
      {"calendars",
       {{{"name", "errands"},
         {"displayname", "Errands & chores"},
         {"items",
          {{"milk.ics", head + lines({"BEGIN:VTODO", "UID:milk@example.org", "SUMMARY:Buy milk and a great many other",
                                      "  things that make this line fold", "X-EXAMPLE-FLAG;X-P=q:yes",
                                      "DUE;TZID=Europe/Berlin:20240301T090000", "END:VTODO", "END:VCALENDAR"})},
           {"office.ics",
            head + office +
                lines({"BEGIN:VTODO", "UID:office@example.org", "SUMMARY:Office hours",
                       "DUE;TZID=Office Time:20240301T090000", "STATUS:COMPLETED", "END:VTODO", "END:VCALENDAR"})}}}},
        {{"name", "work"},
         {"displayname", "Work"},
         {"items",
          {{"report.ics",
            head + lines({"BEGIN:VTODO", "UID:report@example.org", "SUMMARY:Write report", "DUE;VALUE=DATE:20240315",
                          "COMPLETED:20240314T120000Z", "END:VTODO", "END:VCALENDAR"})}}}}}},
      {"addressbooks",
       {{{"name", "people"},
         {"displayname", "People"},
         {"items",
          {{"ada.vcf",
            lines({"BEGIN:VCARD", "VERSION:3.0", "PRODID:-//Example Corp.//Cards 2//EN", "UID:ada@example.org",
                   "FN:Ada Lovelace", "N:Lovelace;Ada;;;", "TEL;TYPE=CELL:+44 20 7946 0000",
                   "TEL;TYPE=WORK:+44 20 7946 0000", "TEL:", "EMAIL:ada.lovelace@analytical-engine.examp", " le.org",
                   "X-SOCIAL:engine", "END:VCARD"})},
           {"bob.vcf", lines({"BEGIN:VCARD", "VERSION:3.0", "UID:bob@example.org", "FN:Bob", "N:;Bob;;;",
                              "EMAIL:bob@example.org", "END:VCARD"})}}}}}}};
  const std::string scenarioPath = std::string(std::getenv("PRIVATE_RADICALE_DIR")) + "/scenario.json";
  std::ofstream(scenarioPath) << scenario.dump();
  std::string config = shell("/usr/bin/python3 " PIMBRIDGE_DAV_SYNC " " + scenarioPath);
  ASSERT_FALSE(config.empty());
  config.pop_back();
  const std::vector<std::string> environment = {"VDIRSYNCER_CONFIG=" + config};

  const ToolRun state = runIn(tree, {"authorization"}, environment);
  EXPECT_EQ(state.err, "");
  EXPECT_EQ(state.answer(), json::parse(R"({"reminders":"authorized","contacts":"authorized"})"));
  const ToolRun lists = runIn(tree, {"reminder-lists"}, environment);
  EXPECT_EQ(lists.err, "");
  EXPECT_EQ(lists.answer(), json::parse(R"({"lists":[{"id":"errands","title":"Errands & chores"},
                                                     {"id":"work","title":"Work"}]})"));
  const ToolRun tasks = runIn(tree, {"reminders"}, environment);
  EXPECT_EQ(tasks.err, "");
  EXPECT_EQ(tasks.status, 0);
  const json expected = json::parse(R"([
    {"id":"milk@example.org","title":"Buy milk and a great many other things that make this line fold","list":"Errands & chores","due":"2024-03-01T08:00:00Z","completed":false},
    {"id":"office@example.org","title":"Office hours","list":"Errands & chores","due":"2024-03-01T12:30:00Z","completed":true},
    {"id":"report@example.org","title":"Write report","list":"Work","due":"2024-03-15T00:00:00Z","completed":true}])");
  std::map<std::string, json> byId;
  for (const auto& row : expected) byId[row["id"]] = row;
  // vdirsyncer names the files (by UID, or anew for a UID it will not use in
  // a name); the rows follow the names' byte order within each list.
  const std::string vdir = config.substr(0, config.rfind('/')) + "/vdir/";
  json inOrder = json::array();
  for (const auto& uid : uidsInFileOrder(vdir + "tasks", "errands/*.ics work/*.ics")) inOrder.push_back(byId[uid]);
  EXPECT_EQ(tasks.answer(), (json{{"reminders", inOrder}}));
  const ToolRun cards = runIn(tree, {"contacts"}, environment);
  EXPECT_EQ(cards.err, "");
  const json people = json::parse(R"([
    {"id":"ada@example.org","name":"Ada Lovelace","phones":["+44 20 7946 0000","+44 20 7946 0000",""],"emails":["ada.lovelace@analytical-engine.example.org"]},
    {"id":"bob@example.org","name":"Bob","phones":[],"emails":["bob@example.org"]}])");
  for (const auto& row : people) byId[row["id"]] = row;
  inOrder = json::array();
  for (const auto& uid : uidsInFileOrder(vdir + "contacts", "people/*.vcf")) inOrder.push_back(byId[uid]);
  EXPECT_EQ(cards.answer(), (json{{"contacts", inOrder}}));
}

// A todoman set-up over the tree's tasks/ folder, and the command that runs
// todoman with it.
std::string todoman(const Tree& tree, const std::string& arguments) {
  tree.write("todoman.py", "path = \"" + tree.path("tasks") + "/*\"\ncache_path = \"" + tree.path("todoman.sqlite3") +
                               "\"\ndate_format = \"%Y-%m-%d\"\ntime_format = \"%H:%M\"\ndefault_list = \"inbox\"\n"
                               "default_due = 0\n");
  return shell("cd " + quoted(tree.root()) + " && HOME=" + quoted(tree.path("home")) +
               " TZ=Europe/Berlin /usr/bin/todoman --config " + quoted(tree.path("todoman.py")) + " " + arguments +
               " </dev/null");
}

// Show that tasks made with todoman come back exactly: identifier (todoman's
// UID, which also names the file), title, list, due instant and completion.
TEST(VdirPeers, TodomanTasksComeBack) {
  const Tree tree;
  tree.mkdir("tasks/inbox");
  tree.mkdir("tasks/errands");
  todoman(tree, "new -l inbox --due '2024-05-01 10:30' 'Call Ann'");
  todoman(tree, "new -l errands 'Pick up the parcel from the post office, the one on Main Street'");
  todoman(tree, "new -l errands --due '2024-12-24 18:00' 'Wrap presents'");
  todoman(tree, "done $(/usr/bin/todoman --config " + quoted(tree.path("todoman.py")) +
                    " --porcelain list | /usr/bin/python3 -c 'import json,sys; "
                    "print([t[\"id\"] for t in json.load(sys.stdin) if t[\"summary\"] == \"Wrap presents\"][0])')");
  // Each task's UID, from the file todoman wrote it to (found by the start
  // of its summary, which a long one has folded).
  const auto uidOf = [&tree](const std::string& summary) {
    std::string uid = shell("cd " + quoted(tree.path("tasks")) + " && grep -h '^UID:' $(grep -l -F " +
                            quoted("SUMMARY:" + summary.substr(0, 30)) + " */*.ics) | tr -d '\\r\\n'");
    return uid.substr(uid.find(':') + 1);
  };
  const ToolRun run = runIn(tree, {"reminders"}, {"PIMBRIDGE_VDIR_TASKS=" + tree.path("tasks")});
  EXPECT_EQ(run.err, "");
  std::map<std::string, json> rows;
  for (const json answer = run.answer(); const auto& row : answer["reminders"]) rows[row["title"]] = row;
  ASSERT_EQ(rows.size(), 3u) << run.out;
  EXPECT_EQ(rows["Call Ann"], (json{{"id", uidOf("Call Ann")},
                                    {"title", "Call Ann"},
                                    {"list", "inbox"},
                                    {"due", "2024-05-01T08:30:00Z"},
                                    {"completed", false}}));
  const std::string parcel = "Pick up the parcel from the post office, the one on Main Street";
  EXPECT_EQ(
      rows[parcel],
      (json{{"id", uidOf(parcel)}, {"title", parcel}, {"list", "errands"}, {"due", nullptr}, {"completed", false}}));
  EXPECT_EQ(rows["Wrap presents"], (json{{"id", uidOf("Wrap presents")},
                                         {"title", "Wrap presents"},
                                         {"list", "errands"},
                                         {"due", "2024-12-24T17:00:00Z"},
                                         {"completed", true}}));
}

// Show that on a mixed vdir the tool's rows agree with todoman's listing of
// the same folders wherever both define a value: one row per task, and for
// each (matched by title) the list, the due instant (UTC, zoned, floating
// and date values, a skipped reading) and the completion (by STATUS or a
// COMPLETED property), the one repeated reading differing by rule.
TEST(VdirPeers, AgreesWithTodomanListing) {
  const Tree tree;
  const std::vector<std::string> dues = {"DUE:20240301T090000Z",
                                         "DUE;TZID=Europe/Berlin:20240331T023000",
                                         "DUE;TZID=America/New_York:20241103T013000",
                                         "DUE:20240615T120000",
                                         "DUE;VALUE=DATE:20240704",
                                         ""};
  const std::vector<std::string> done = {"", "STATUS:COMPLETED", "STATUS:NEEDS-ACTION", "STATUS:IN-PROCESS"};
  const std::vector<std::string> lists = {"home", "work", "x-misc"};
  for (int i = 0; i < 48; ++i) {
    std::vector<std::string> body = {"BEGIN:VTODO", "UID:mixed-" + std::to_string(i) + "@example.org",
                                     "DTSTAMP:20240101T000000Z", "SUMMARY:Task " + std::to_string(i)};
    if (!dues[i % dues.size()].empty()) body.push_back(dues[i % dues.size()]);
    if (!done[i % done.size()].empty()) body.push_back(done[i % done.size()]);
    if (i % 7 == 3) body.push_back("COMPLETED:20240102T000000Z");
    body.push_back("END:VTODO");
    tree.write("tasks/" + lists[i % lists.size()] + "/" + std::to_string(i) + ".ics", calendar(body));
  }
  const json listed = json::parse(todoman(tree, "--porcelain list --status ANY"));
  const ToolRun run = runIn(tree, {"reminders"}, {"PIMBRIDGE_VDIR_TASKS=" + tree.path("tasks"), "TZ=Europe/Berlin"});
  EXPECT_EQ(run.err, "");
  std::map<std::string, json> rows;
  for (const json answer = run.answer(); const auto& row : answer["reminders"]) rows[row["title"]] = row;
  ASSERT_EQ(rows.size(), 48u) << run.out;
  ASSERT_EQ(listed.size(), 48u);
  for (const auto& task : listed) {
    SCOPED_TRACE(task.dump());
    const json& row = rows[task["summary"]];
    EXPECT_EQ(row["list"], task["list"]);
    EXPECT_EQ(row["completed"], task["completed"]);
    if (task["due"].is_null()) {
      EXPECT_TRUE(row["due"].is_null());
    } else {
      // todoman gives the instant in whole seconds.
      const std::int64_t seconds = task["due"];
      const std::time_t when = seconds;
      char text[32];
      // A reading that the clock shows twice (01:30 on 3 November in New
      // York) is its first showing for the tool, as on every platform, and
      // its second for todoman: an hour apart, by rule.
      const bool repeated = seconds == 1730615400;
      std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&when));
      EXPECT_EQ(row["due"], repeated ? std::string("2024-11-03T05:30:00Z") : std::string(text));
    }
  }
}

// A khard set-up over the tree's book/ folder, and the command that runs
// khard with it.
std::string khard(const Tree& tree, const std::string& arguments, const std::string& input = "") {
  tree.mkdir("book");
  tree.write("khard.conf", "[addressbooks]\n[[book]]\npath = " + tree.path("book") +
                               "\n[general]\neditor = /bin/false\nmerge_editor = /bin/false\n");
  tree.write("input.yaml", input);
  return shell("HOME=" + quoted(tree.path("home")) + " /usr/bin/khard -c " + quoted(tree.path("khard.conf")) + " " +
               arguments + " <" + quoted(tree.path("input.yaml")));
}

// Show that cards made with khard come back exactly, in vCard 3.0 and 4.0:
// the UID khard gave, the name from N, and every phone and e-mail as khard
// stored it (in 4.0 a phone is stored as a tel: URI, and given so).
TEST(VdirPeers, KhardCardsComeBack) {
  const Tree tree;
  khard(tree, "new -a book --vcard-version 3.0",
        "First name : Émile\nLast name : Zola\nPhone :\n    cell : \"+33 1 23 45\"\n    work :\n"
        "        - \"+33 9 99\"\n        - \"+33 9 99\"\nEmail :\n    home : emile@example.org\n");
  khard(tree, "new -a book --vcard-version 4.0",
        "First name : Marie\nLast name : Curie\nPhone :\n    work : \"+33 1 00\"\nEmail :\n"
        "    work :\n        - marie@example.org\n        - curie@example.org\n");
  std::map<std::string, std::string> uids;  // name -> UID, as khard lists them
  const std::string listed = khard(tree, "list --parsable");
  for (std::size_t at = 0; at < listed.size();) {
    const std::size_t end = listed.find('\n', at);
    const std::string line = listed.substr(at, end - at);
    at = end + 1;
    const std::size_t tab = line.find('\t');
    uids[line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1)] = line.substr(0, tab);
  }
  const ToolRun run = runIn(tree, {"contacts"}, {"PIMBRIDGE_VDIR_CONTACTS=" + tree.path("book")});
  EXPECT_EQ(run.err, "");
  std::map<std::string, json> rows;
  for (const json answer = run.answer(); const auto& row : answer["contacts"]) rows[row["name"]] = row;
  ASSERT_EQ(rows.size(), 2u) << run.out;
  EXPECT_EQ(rows["Émile Zola"], (json{{"id", uids["Émile Zola"]},
                                      {"name", "Émile Zola"},
                                      {"phones", {"+33 1 23 45", "+33 9 99", "+33 9 99"}},
                                      {"emails", {"emile@example.org"}}}));
  EXPECT_EQ(rows["Marie Curie"], (json{{"id", uids["Marie Curie"]},
                                       {"name", "Marie Curie"},
                                       {"phones", {"tel:+33 1 00"}},
                                       {"emails", {"marie@example.org", "curie@example.org"}}}));
}

}  // namespace
}  // namespace pimbridge::e2e::vdir
