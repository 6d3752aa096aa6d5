#include "reminders/reminder_row.hpp"

namespace pimbridge::reminders {

std::string_view ReminderRow::keyText(CodingKeys key) {
  switch (key) {
    case CodingKeys::id:
      return "id";
    case CodingKeys::title:
      return "title";
    case CodingKeys::list:
      return "list";
    case CodingKeys::due:
      return "due";
    case CodingKeys::completed:
      return "completed";
  }
  return {};
}

std::optional<ReminderRow::CodingKeys> ReminderRow::codingKey(std::string_view text) {
  for (auto key : {CodingKeys::id, CodingKeys::title, CodingKeys::list, CodingKeys::due, CodingKeys::completed}) {
    if (keyText(key) == text) return key;
  }
  return std::nullopt;
}

bool ReminderRow::encode(answer::ResultMap& map, answer::ResultMap::Map into) const {
  map.setText(into, keyText(CodingKeys::id), id_);
  map.setText(into, keyText(CodingKeys::title), title_);
  map.setText(into, keyText(CodingKeys::list), list_);
  if (due_) {
    map.setText(into, keyText(CodingKeys::due), *due_);
  } else {
    map.setNull(into, keyText(CodingKeys::due));
  }
  map.setBoolean(into, keyText(CodingKeys::completed), completed_);
  return map.intact();
}

std::optional<ReminderRow> ReminderRow::decode(const answer::ResultMap& map, answer::ResultMap::Map from) {
  auto id = map.textAt(from, keyText(CodingKeys::id));
  if (!id) return std::nullopt;
  auto title = map.textAt(from, keyText(CodingKeys::title));
  if (!title) return std::nullopt;
  auto list = map.textAt(from, keyText(CodingKeys::list));
  if (!list) return std::nullopt;
  std::optional<std::string> due;
  if (const auto value = map.find(from, keyText(CodingKeys::due)); value && value->kind() != answer::Kind::null) {
    if (value->kind() != answer::Kind::text) return std::nullopt;
    due = std::string(value->text());
  }
  const auto completed = map.find(from, keyText(CodingKeys::completed));
  if (!completed || completed->kind() != answer::Kind::boolean) return std::nullopt;
  return ReminderRow(std::move(*id), std::move(*title), std::move(*list), std::move(due), completed->boolean());
}

}  // namespace pimbridge::reminders
