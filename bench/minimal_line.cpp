// The smallest C++ program that answers like the tool: one line on standard
// output. Start-up of pimbridge is measured against it.
#include <cstdio>

int main() {
  static const char line[] = "{\"reminders\":\"authorized\",\"contacts\":\"authorized\"}\n";
  return std::fwrite(line, 1, sizeof line - 1, stdout) == sizeof line - 1 ? 0 : 1;
}
