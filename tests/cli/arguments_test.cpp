// Reading the argument vector, down to one with no elements at all.
#include "cli/arguments.hpp"

#include <gtest/gtest.h>

namespace pimbridge::cli {
namespace {

using Words = std::vector<std::string_view>;

TEST(Arguments, FromTheVector) {
  const char* empty[] = {nullptr};
  const Arguments none = readArguments(0, empty);
  EXPECT_EQ(none.args, Words{});
  EXPECT_EQ(none.command, "authorization");

  EXPECT_EQ(readArguments(0, nullptr).command, "authorization");

  const char* programOnly[] = {"/usr/local/bin/pimbridge", nullptr};
  EXPECT_EQ(readArguments(1, programOnly).args, Words{});
  EXPECT_EQ(readArguments(1, programOnly).command, "authorization");

  // The program path is never a command, whatever it says.
  const char* pathLikeWord[] = {"contacts", nullptr};
  EXPECT_EQ(readArguments(1, pathLikeWord).command, "authorization");

  const char* full[] = {"pimbridge", "reminders", "A", "", "B", nullptr};
  const Arguments read = readArguments(5, full);
  EXPECT_EQ(read.args, (Words{"reminders", "A", "", "B"}));
  EXPECT_EQ(read.command, "reminders");

  const char* emptyWord[] = {"pimbridge", "", nullptr};
  EXPECT_EQ(readArguments(2, emptyWord).command, "");
}

}  // namespace
}  // namespace pimbridge::cli
