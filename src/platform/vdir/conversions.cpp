// Text checks, item names and vdirsyncer's configuration for the vdir
// backend. GLib reads the configuration's syntax
// and json-glib its values, as Python's configparser and json do for
// vdirsyncer.
#include "platform/vdir/conversions.hpp"

#include <glib.h>
#include <json-glib/json-glib.h>

#include <memory>

namespace pimbridge::vdir {

namespace {

struct KeyFileRelease {
  void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct StrvRelease {
  void operator()(gchar** list) const { g_strfreev(list); }
};
struct GFreeRelease {
  void operator()(gchar* text) const { g_free(text); }
};
struct ObjectRelease {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};

// A configuration value as JSON; none when it is not JSON. The text a string
// value holds, or empty for any other JSON value, goes to `text`.
bool jsonText(const gchar* raw, std::string& text, bool& isString) {
  std::unique_ptr<JsonParser, ObjectRelease> parser(json_parser_new());
  if (!json_parser_load_from_data(parser.get(), raw, -1, nullptr)) return false;
  JsonNode* root = json_parser_get_root(parser.get());
  isString = root != nullptr && JSON_NODE_HOLDS_VALUE(root) && json_node_get_value_type(root) == G_TYPE_STRING;
  text = isString ? json_node_get_string(root) : "";
  return true;
}

}  // namespace

bool isCleanText(std::string_view bytes) {
  // g_utf8_validate_len refuses a NUL inside the length as well.
  return g_utf8_validate_len(bytes.data(), bytes.size(), nullptr);
}

bool isCleanItemText(std::string_view text) {
  if (isCleanText(text)) return true;
  std::string joined;
  joined.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool crlf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
    const std::size_t next = crlf ? i + 2 : i + 1;
    if ((crlf || text[i] == '\n') && next < text.size() && (text[next] == ' ' || text[next] == '\t')) {
      i = next;  // the fold and its one space or tab
      continue;
    }
    joined.push_back(text[i]);
  }
  return isCleanText(joined);
}

bool isItemName(std::string_view name, std::string_view extension) {
  return !name.empty() && name.front() != '.' && name.size() > extension.size() && name.ends_with(extension);
}

std::string fileStem(std::string_view name) {
  const auto dot = name.rfind('.');
  return std::string(dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot));
}

std::size_t cardsOpened(std::string_view text) {
  constexpr std::string_view opening = "BEGIN:VCARD";
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (text.size() - at >= opening.size() &&
        g_ascii_strncasecmp(text.data() + at, opening.data(), opening.size()) == 0) {
      const std::size_t end = at + opening.size();
      if (end == text.size() || text[end] == '\r' || text[end] == '\n') ++count;
    }
    const auto next = text.find('\n', at);
    if (next == std::string_view::npos) break;
    at = next + 1;
  }
  return count;
}

std::optional<std::string> displayTitle(std::string_view fileText) {
  std::string_view line = fileText.substr(0, fileText.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty() || !isCleanText(line)) return std::nullopt;
  return std::string(line);
}

std::optional<ConfiguredFolders> foldersOfConfig(std::string_view text, std::string_view home) {
  std::unique_ptr<GKeyFile, KeyFileRelease> file(g_key_file_new());
  if (!isCleanText(text) ||
      !g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr)) {
    return std::nullopt;
  }
  ConfiguredFolders folders;
  std::unique_ptr<gchar*, StrvRelease> groups(g_key_file_get_groups(file.get(), nullptr));
  for (gchar** group = groups.get(); *group != nullptr; ++group) {
    std::unique_ptr<gchar*, StrvRelease> keys(g_key_file_get_keys(file.get(), *group, nullptr, nullptr));
    if (!keys) return std::nullopt;
    std::string type;
    std::string path;
    std::string extension;
    bool hasPath = false;
    for (gchar** key = keys.get(); *key != nullptr; ++key) {
      // NOTE: the raw value, not g_key_file_get_string, which would read
      // GLib's own escapes before the JSON ones.
      std::unique_ptr<gchar, GFreeRelease> raw(g_key_file_get_value(file.get(), *group, *key, nullptr));
      std::string value;
      bool isString = false;
      if (!raw || !jsonText(raw.get(), value, isString)) return std::nullopt;
      if (!isString) continue;
      // configparser folds option names to lower case.
      if (g_ascii_strcasecmp(*key, "type") == 0) {
        type = value;
      } else if (g_ascii_strcasecmp(*key, "path") == 0) {
        path = value;
        hasPath = true;
      } else if (g_ascii_strcasecmp(*key, "fileext") == 0) {
        extension = value;
      }
    }
    if (!g_str_has_prefix(*group, "storage ") || type != "filesystem" || !hasPath) continue;
    // As Python's expanduser: "~" alone or "~/…"; "~user" is left as it is.
    if (path == "~" || path.starts_with("~/")) path = std::string(home) + path.substr(1);
    if (extension == ".ics") {
      folders.tasks.push_back(path);
    } else if (extension == ".vcf") {
      folders.contacts.push_back(path);
    }
  }
  return folders;
}

}  // namespace pimbridge::vdir
