// Where the vdir backend's folders are, and its careful reads of them.
#include "platform/vdir/session.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/vdir/conversions.hpp"

namespace pimbridge::vdir {

namespace {

// A vdirsyncer configuration is a few lines; anything much larger is not one.
constexpr std::size_t configSizeLimit = 1024 * 1024;

thread_local bool warned = false;

constexpr int warningOrWorse = G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING;

// NOTE: the vCard library and GLib report what they think of a card through
// GLib's log, which would otherwise print on standard error or, under
// G_DEBUG=fatal-warnings, end the process. Nothing of it reaches the host;
// a warning is noted for the thread that caused it.
GLogWriterOutput dropLog(GLogLevelFlags level, const GLogField*, gsize, gpointer) {
  if ((level & warningOrWorse) != 0) warned = true;
  return G_LOG_WRITER_HANDLED;
}
void dropLegacyLog(const gchar*, GLogLevelFlags level, const gchar*, gpointer) {
  if ((level & warningOrWorse) != 0) warned = true;
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr) return home;
  // As Python's expanduser, which asks the password database without HOME.
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "~";
}

std::string joined(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool pathExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

// The configuration file vdirsyncer itself would read, in its own order.
std::string configPath() {
  if (const char* named = std::getenv("VDIRSYNCER_CONFIG"); named != nullptr) return named;
  const std::string home = homeFolder();
  const std::string own = home + "/.vdirsyncer/config";
  if (pathExists(own)) return own;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string base = xdg != nullptr && *xdg != '\0' ? std::string(xdg) : home + "/.config";
  return base + "/vdirsyncer/config";
}

enum class ConfigRead { absent, failed, read };

ConfigRead readConfig(ConfiguredFolders& folders) {
  const std::string path = configPath();
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return errno == ENOENT || errno == ENOTDIR ? ConfigRead::absent : ConfigRead::failed;
  const auto text = readSmallFile(path);
  if (!text) return ConfigRead::failed;
  auto parsed = foldersOfConfig(*text, homeFolder());
  if (!parsed) return ConfigRead::failed;
  folders = std::move(*parsed);
  return ConfigRead::read;
}

// The address book of a .vcf storage: the folder itself when it holds cards
// (a pair without collections), else its first collection.
std::optional<std::string> addressBookOf(const std::string& storage) {
  const auto cards = sortedNames(storage, [](const std::string& name) { return isItemName(name, ".vcf"); });
  if (cards && !cards->empty()) return storage;
  const auto books = collectionNames(storage);
  if (books.empty()) return std::nullopt;
  return joined(storage, books.front());
}

Located locate() {
  Located found;
  const char* tasks = std::getenv("PIMBRIDGE_VDIR_TASKS");
  const char* contacts = std::getenv("PIMBRIDGE_VDIR_CONTACTS");
  ConfiguredFolders configured;
  ConfigRead config = ConfigRead::absent;
  if (tasks == nullptr || contacts == nullptr) config = readConfig(configured);
  if (tasks != nullptr) {
    found.taskRoots.emplace_back(tasks);
  } else {
    found.taskRoots = configured.tasks;
  }
  if (contacts != nullptr) {
    found.contacts = contacts;
  } else if (!configured.contacts.empty()) {
    found.contacts = addressBookOf(configured.contacts.front());
    // A storage that is there but holds no address book still counts as
    // configured: its state is that of the storage's folder.
    if (!found.contacts) found.contacts = configured.contacts.front();
  }
  found.configFailed = config == ConfigRead::failed;
  return found;
}

}  // namespace

void startSession() {
  g_log_set_writer_func(dropLog, nullptr, nullptr);
  g_log_set_default_handler(dropLegacyLog, nullptr);
  g_log_set_always_fatal(static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK));
}

bool warnedSinceLastAsked() {
  const bool was = warned;
  warned = false;
  return was;
}

const Located& located() {
  static std::once_flag once;
  static Located found;
  std::call_once(once, [] { found = locate(); });
  return found;
}

stores::AccessState foldersState(const std::vector<std::string>& folders, bool configFailed) {
  bool refused = false;
  for (const auto& folder : folders) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
      refused = refused || errno == EACCES;
      continue;
    }
    if (!S_ISDIR(info.st_mode)) continue;
    if (::access(folder.c_str(), R_OK | X_OK) == 0) return stores::AccessState::authorized;
    refused = true;
  }
  if (refused) return stores::AccessState::denied;
  // A configuration that could not be read may name folders that are there.
  return configFailed && folders.empty() ? stores::AccessState::unknown : stores::AccessState::restricted;
}

std::optional<std::vector<std::string>> sortedNames(const std::string& folder,
                                                    const std::function<bool(const std::string&)>& keep,
                                                    const std::function<bool()>& stop) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (stop && stop()) break;
    std::string name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (keep(name)) names.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> collectionNames(const std::string& folder) {
  // As vdirsyncer finds collections: folders (a link to one counts), not
  // hidden. A name that is not UTF-8 could not be given as an identifier.
  auto names = sortedNames(folder, [&folder](const std::string& name) {
    if (name.front() == '.' || !isCleanText(name)) return false;
    struct stat info {};
    return ::stat(joined(folder, name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  });
  return names ? std::move(*names) : std::vector<std::string>();
}

namespace {

std::optional<std::string> readRegularFile(const std::string& path, std::size_t limit, bool followLink) {
  struct stat before {};
  const int looked = followLink ? ::stat(path.c_str(), &before) : ::lstat(path.c_str(), &before);
  if (looked != 0 || !S_ISREG(before.st_mode)) return std::nullopt;
  if (static_cast<std::size_t>(before.st_size) > limit) return std::nullopt;
  // NOTE: O_NONBLOCK so that a file swapped for a FIFO between the two looks
  // cannot block the open; O_NOFOLLOW so that a link put there meanwhile is
  // refused, not followed out of the collection.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW) | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> text;
  struct stat opened {};
  if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_ino == before.st_ino &&
      static_cast<std::size_t>(opened.st_size) <= limit) {
    std::string content;
    content.resize(static_cast<std::size_t>(opened.st_size));
    std::size_t got = 0;
    bool failed = false;
    while (got < content.size()) {
      const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        failed = true;
        break;
      }
    }
    // A file that grew, shrank or was written to while it was read may be
    // half old and half new: it is left out. (What it grew by would not have
    // been read: the size it had when opened is all that is asked for.)
    struct stat after {};
    if (!failed && got == static_cast<std::size_t>(opened.st_size) && ::fstat(fd, &after) == 0 &&
        after.st_size == opened.st_size && after.st_mtim.tv_sec == opened.st_mtim.tv_sec &&
        after.st_mtim.tv_nsec == opened.st_mtim.tv_nsec) {
      text = std::move(content);
    }
  }
  ::close(fd);
  return text;
}

}  // namespace

std::optional<std::string> readItemFile(const std::string& path) {
  return readRegularFile(path, itemSizeLimit, false);
}

std::optional<std::string> readSmallFile(const std::string& path) {
  return readRegularFile(path, configSizeLimit, true);
}

}  // namespace pimbridge::vdir
