// The entry point: reads the command line, runs the one command it names, and
// ends the process.
#include <array>
#include <span>
#include <string_view>

#include "answer/boundary.hpp"
#include "answer/output.hpp"
#include "cli/arguments.hpp"
#include "contacts/contacts.hpp"
#include "permissions/access.hpp"
#include "permissions/status.hpp"
#include "reminders/reminders.hpp"
#include "stores/platform.hpp"

namespace {

using namespace pimbridge;

void exportRemindersOfArguments() {
  // The list identifiers are the arguments after the command word.
  reminders::exportReminders(std::span<const std::string_view>(cli::args).subspan(1));
}

struct Command {
  std::string_view word;
  void (*run)();
};

// Tried in this order; the first word equal to the command runs.
constexpr std::array<Command, 6> commands{{
    {"authorization", permissions::reportAuthorization},
    {"reminder-lists", reminders::listReminderLists},
    {"reminders", exportRemindersOfArguments},
    {"contacts", contacts::exportContacts},
    {"request-reminders", permissions::requestReminders},
    {"request-contacts", permissions::requestContacts},
}};

}  // namespace

int main(int argc, char** argv) {
  answer::installTerminateFallback();
  answer::guardStandardStreams();
  answer::atBoundary([argc, argv] {
    auto arguments = cli::readArguments(argc, argv);
    cli::args = std::move(arguments.args);
    cli::command = arguments.command;

    stores::startPlatform();
    for (const auto& candidate : commands) {
      if (candidate.word == cli::command) {
        stores::runCommand(candidate.run);
        answer::endProcess(0);
      }
    }
    answer::emitError("unknown_command");
  });
}
