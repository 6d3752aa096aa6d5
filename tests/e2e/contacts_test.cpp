// "contacts" end to end: the default container, built names, phones and
// e-mails as given, the 500-contact cap and failing enumerations.
#include <gtest/gtest.h>

#include "harness.hpp"

namespace pimbridge::e2e {
namespace {

using nlohmann::json;

std::string withContacts(json store) {
  store["status"] = 3;
  return json{{"contacts", store}}.dump();
}

json contact(const std::string& id, json given, json family, json phones = json::array(), json emails = json::array()) {
  json c = {{"id", id}, {"phones", phones}, {"emails", emails}};
  if (!given.is_discarded()) c["given"] = given;
  if (!family.is_discarded()) c["family"] = family;
  return c;
}

const json absent = json(json::value_t::discarded);

struct NameCase {
  std::string name;
  friend void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }
  json given;
  json family;
  std::string expected;
};

class Names : public testing::TestWithParam<NameCase> {};

// Show how the display name is built from given and family names.
TEST_P(Names, JoinedByOneSpace) {
  const auto& p = GetParam();
  const ToolRun run = runTool(withContacts({{"contacts", {contact("c", p.given, p.family)}}}), {"contacts"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.answer(),
            (json{{"contacts",
                   {{{"id", "c"}, {"name", p.expected}, {"phones", json::array()}, {"emails", json::array()}}}}}));
}

INSTANTIATE_TEST_SUITE_P(
    Parts, Names,
    testing::Values(NameCase{"Both", "Ada", "Lovelace", "Ada Lovelace"}, NameCase{"GivenOnly", "Ada", "", "Ada"},
                    NameCase{"FamilyOnly", "", "Lovelace", "Lovelace"}, NameCase{"Neither", "", "", ""},
                    NameCase{"OneSpaceGiven", " ", "Doe", "  Doe"},
                    NameCase{"BlanksKept", " Ann ", "Lee ", " Ann  Lee "},
                    NameCase{"AbsentGiven", absent, "Lee", "Lee"}, NameCase{"NullGiven", nullptr, "Lee", "Lee"},
                    NameCase{"AbsentFamily", "Ann", absent, "Ann"}, NameCase{"BothAbsent", absent, absent, ""}),
    CaseName());

// Show that phones and e-mails are kept exactly as given: order, duplicates
// and empty texts.
TEST(Contacts, PhonesAndEmailsAsGiven) {
  const json phones = {"+1 555 0100", "", "+1 555 0100", "(555) 0101"};
  const json emails = {"b@example.com", "a@example.com", "b@example.com"};
  const ToolRun run =
      runTool(withContacts({{"contacts", {contact("c/1", "A", "B", phones, emails)}}}), {"contacts", "x"});
  EXPECT_EQ(run.status, 0);
  const auto row = run.answer()["contacts"][0];
  EXPECT_EQ(row["phones"], phones);
  EXPECT_EQ(row["emails"], emails);
  EXPECT_EQ(row["id"], "c/1");
  EXPECT_EQ(row.size(), 4u);
}

struct CapCase {
  std::string name;
  friend void PrintTo(const CapCase& c, std::ostream* os) { *os << c.name; }
  int generated;
  std::size_t rows;
  bool stopped;
};

class Cap : public testing::TestWithParam<CapCase> {};

// Show that the export stops at 500 contacts, the 500th included, and that
// the store is told to stop only when the cap is reached.
TEST_P(Cap, AtMostFiveHundred) {
  const auto& p = GetParam();
  const ToolRun run = runTool(withContacts({{"generate", p.generated}}), {"contacts"});
  EXPECT_EQ(run.status, 0);
  const auto rows = run.answer()["contacts"];
  ASSERT_EQ(rows.size(), p.rows);
  EXPECT_EQ(rows.back()["id"], "contact-" + std::to_string(p.rows));
  EXPECT_EQ(traceIndex(run, "contacts.enumerate-stopped") >= 0, p.stopped);
  if (p.stopped) {
    EXPECT_EQ(run.trace.back(), "contacts.enumerate-stopped");
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, Cap,
                         testing::Values(CapCase{"Below", 499, 499, false}, CapCase{"Exactly", 500, 500, true},
                                         CapCase{"Above", 750, 500, true}),
                         CaseName());

// Show that a failing enumeration is not reported: the contacts delivered
// before it are the answer, with status 0 and nothing on standard error.
TEST(Contacts, FailingEnumerationKeepsWhatCame) {
  for (int failAfter : {0, 3}) {
    const ToolRun run = runTool(withContacts({{"generate", 10}, {"fail_after", failAfter}}), {"contacts"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.answer()["contacts"].size(), static_cast<std::size_t>(failAfter));
  }
}

// Show that only the default container's contacts are exported, and that a
// store without a default container is asked for the empty identifier.
TEST(Contacts, DefaultContainerOnly) {
  const json contacts = {
      contact("mine", "A", ""),
      {{"id", "theirs"}, {"container", "other"}},
      {{"id", "empty"}, {"container", ""}},
  };
  expectCase({"",
              withContacts({{"contacts", contacts}}),
              {"contacts"},
              0,
              R"({"contacts": [{"id": "mine", "name": "A", "phones": [], "emails": []}]})",
              "",
              {"contacts.init", "contacts.status", "contacts.default-container", "contacts.predicate default",
               "contacts.enumerate"}});
  json store = {{"default_container", nullptr}, {"contacts", contacts}};
  store["contacts"][0]["container"] = "default";
  expectCase({"",
              withContacts(store),
              {"contacts"},
              0,
              R"({"contacts": [{"id": "empty", "name": "", "phones": [], "emails": []}]})",
              "",
              {"contacts.init", "contacts.status", "contacts.default-container", "contacts.predicate ",
               "contacts.enumerate"}});
  expectCase({"", withContacts(json::object()), {"contacts"}, 0, R"({"contacts": []})"});
}

// Show that limited access is refused like any state but full access.
TEST(Contacts, LimitedIsRefused) {
  expectCase({"",
              json{{"contacts", {{"status", 4}, {"generate", 3}}}}.dump(),
              {"contacts"},
              2,
              R"({"error": "permission_required"})",
              "",
              {"contacts.init", "contacts.status"}});
}

// Show that a phone number that is not valid UTF-8 sends the run to the
// encoding fallback.
TEST(Contacts, UnencodablePhoneFallsBack) {
  const json c = contact("c", "A", "B", json::array({"+1", {{"hex", "2b31c0af"}}}));
  const ToolRun run = runTool(withContacts({{"contacts", {c}}}), {"contacts"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, R"({"error":"encoding"})");
}

}  // namespace
}  // namespace pimbridge::e2e
