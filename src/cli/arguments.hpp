// The command line as the tool reads it: the arguments after the program path,
// and the command word.
#pragma once

#include <string_view>
#include <vector>

namespace pimbridge::cli {

struct Arguments {
  // The argument vector without its first element, the program path.
  std::vector<std::string_view> args;
  // The first element of args, or "authorization" when there is none.
  std::string_view command;
};

// Reads an argument vector of argc elements. The program path is never looked
// at, and an empty vector (argc 0, which the kernel can hand over) is the same
// as one that holds only the program path.
Arguments readArguments(int argc, const char* const* argv);

}  // namespace pimbridge::cli
