// The entry point: reads the command line, runs the one command it names, and
// ends the process.
#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "answer/boundary.hpp"
#include "answer/output.hpp"
#include "cli/arguments.hpp"
#include "contacts/contacts.hpp"
#include "permissions/access.hpp"
#include "permissions/status.hpp"
#include "process/process.hpp"
#include "reminders/reminders.hpp"
#include "stores/platform.hpp"

namespace {

using namespace pimbridge;

// A command gets the arguments after the program path, its own word first.
using Args = std::span<const std::string_view>;

struct Command {
  std::string_view word;
  void (*run)(Args args);
};

// Tried in this order; the first word equal to the command runs. Only
// "reminders" reads further arguments: the list identifiers after its word.
constexpr std::array<Command, 6> commands{{
    {"authorization", [](Args) { permissions::reportAuthorization(); }},
    {"reminder-lists", [](Args) { reminders::listReminderLists(); }},
    {"reminders", [](Args args) { reminders::exportReminders(args.subspan(1)); }},
    {"contacts", [](Args) { contacts::exportContacts(); }},
    {"request-reminders", [](Args) { permissions::requestReminders(); }},
    {"request-contacts", [](Args) { permissions::requestContacts(); }},
}};

}  // namespace

int main(int argc, char** argv) {
  process::installTerminateHandler(answer::encodingFallback);
  process::guardStandardStreams();
  answer::atBoundary([argc, argv] {
    // Set once, before any command runs, and never changed afterwards.
    const cli::Arguments arguments = cli::readArguments(argc, argv);
    const std::vector<std::string_view>& args = arguments.args;
    const std::string_view command = arguments.command;

    stores::startPlatform();
    for (const auto& candidate : commands) {
      if (candidate.word == command) {
        stores::runCommand([&candidate, &args] { candidate.run(args); });
        process::endProcess(0);
      }
    }
    answer::emitError("unknown_command");
  });
}
