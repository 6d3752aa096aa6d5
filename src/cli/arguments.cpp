#include "cli/arguments.hpp"

namespace pimbridge::cli {

Arguments readArguments(int argc, const char* const* argv) {
  Arguments result;
  if (argc > 1 && argv != nullptr) {
    result.args.reserve(static_cast<std::size_t>(argc - 1));
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) result.args.emplace_back(argv[i]);
  }
  result.command = result.args.empty() ? std::string_view("authorization") : result.args.front();
  return result;
}

}  // namespace pimbridge::cli
