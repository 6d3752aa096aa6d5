// The vdir cases' temporary trees and clean runs.
#include "folders.hpp"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pimbridge::e2e::vdir {

Tree::Tree() {
  std::string pattern =
      std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") + "/pimbridge-vdir.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  // The tool may run as another user (see runIn).
  ::chmod(root_.c_str(), 0755);
  mkdir("home");
}

Tree::~Tree() {
  // Folders a case made unreadable must be opened up to be removed.
  static_cast<void>(std::system(("chmod -R u+rwx '" + root_ + "' 2>/dev/null; rm -rf '" + root_ + "'").c_str()));
}

void Tree::write(const std::string& relative, const std::string& bytes) const {
  const std::filesystem::path file = path(relative);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

void Tree::mkdir(const std::string& relative) const {
  std::filesystem::create_directories(path(relative));
}

ToolRun runIn(const Tree& tree, std::vector<std::string> args, std::vector<std::string> environment,
              bool unprivileged) {
  Invocation inv;
  inv.args = std::move(args);
  inv.trace = false;
  inv.replaceEnvironment = true;
  inv.environment = {"PATH=/usr/bin:/bin"};
  bool home = false;
  bool zone = false;
  for (const auto& entry : environment) {
    home = home || entry.rfind("HOME=", 0) == 0;
    zone = zone || entry.rfind("TZ=", 0) == 0;
    inv.environment.push_back(entry);
  }
  if (!home) inv.environment.push_back("HOME=" + tree.path("home"));
  if (!zone) inv.environment.push_back("TZ=UTC");
  if (unprivileged && ::geteuid() == 0)
    inv.wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  return runTool(inv);
}

std::string shell(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run: " << command;
    return out;
  }
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int waited = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(waited) && WEXITSTATUS(waited) == 0) << "failed: " << command << "\n" << out;
  return out;
}

std::string calendar(const std::vector<std::string>& lines) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//pimbridge tests//EN\r\n";
  for (const auto& line : lines) text += line + "\r\n";
  return text + "END:VCALENDAR\r\n";
}

std::vector<std::string> foldersOf(const Tree& tree, const std::string& tasks, const std::string& contacts) {
  return {"PIMBRIDGE_VDIR_TASKS=" + tree.path(tasks), "PIMBRIDGE_VDIR_CONTACTS=" + tree.path(contacts)};
}

}  // namespace pimbridge::e2e::vdir
