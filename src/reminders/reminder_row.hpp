// One exported reminder, and its keyed coding over a result map.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "answer/result_map.hpp"

namespace pimbridge::reminders {

class ReminderRow {
  enum class CodingKeys { id, title, list, due, completed };

 public:
  ReminderRow(std::string id, std::string title, std::string list, std::optional<std::string> due, bool completed)
      : id_(std::move(id)),
        title_(std::move(title)),
        list_(std::move(list)),
        due_(std::move(due)),
        completed_(completed) {}

  const std::string& id() const { return id_; }
  const std::string& title() const { return title_; }
  // The title of the list the reminder was fetched through.
  const std::string& list() const { return list_; }
  // ISO 8601 text; none when the reminder has no due date.
  const std::optional<std::string>& due() const { return due_; }
  bool completed() const { return completed_; }

  // Writes the fields into the map in field order: the row map of an exported
  // reminder, with "due" null when there is no due date (hosts rely on the
  // key being there). False when the map stopped taking values.
  bool encode(answer::ResultMap& map, answer::ResultMap::Map into) const;
  // Reads the fields in field order. None on the first missing or mistyped
  // key; a "due" that is missing or null means no due date.
  static std::optional<ReminderRow> decode(const answer::ResultMap& map, answer::ResultMap::Map from);

  // Key lookup: exactly the five key texts; no integer names a key.
  static std::optional<CodingKeys> codingKey(std::string_view text);
  static std::optional<CodingKeys> codingKey(int) { return std::nullopt; }
  static std::string_view keyText(CodingKeys key);

  friend bool operator==(const ReminderRow&, const ReminderRow&) = default;

 private:
  std::string id_;
  std::string title_;
  std::string list_;
  std::optional<std::string> due_;
  bool completed_;
};

}  // namespace pimbridge::reminders
