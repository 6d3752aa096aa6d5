// What the vdir cases share: a temporary folder tree to write a vdir into,
// and the tool run in a clean environment of the case's choosing.
#pragma once

#include <string>
#include <vector>

#include "../harness.hpp"

namespace pimbridge::e2e::vdir {

// A temporary directory, removed with everything in it at the end of the case.
class Tree {
 public:
  Tree();
  ~Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  const std::string& root() const { return root_; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }
  // Writes the bytes to the file, making its folders.
  void write(const std::string& relative, const std::string& bytes) const;
  void mkdir(const std::string& relative) const;

 private:
  std::string root_;
};

// Runs the tool with only the given variables set besides PATH, HOME (the
// tree's home/ unless given) and TZ (UTC unless given). A case about
// permissions runs it as an unprivileged user when the suite runs as root,
// for whom no permission is ever missing.
ToolRun runIn(const Tree& tree, std::vector<std::string> args, std::vector<std::string> environment = {},
              bool unprivileged = false);

// Runs a shell command; its standard output. A failure fails the case.
std::string shell(const std::string& command);

// The iCalendar text of one calendar holding the given components' lines,
// lines ended by CRLF.
std::string calendar(const std::vector<std::string>& lines);

// Environment entries that point the tool at folders of the tree.
std::vector<std::string> foldersOf(const Tree& tree, const std::string& tasks, const std::string& contacts);

}  // namespace pimbridge::e2e::vdir
