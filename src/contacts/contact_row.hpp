// One exported contact, and its keyed coding over a result map.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "answer/result_map.hpp"

namespace pimbridge::contacts {

class ContactRow {
  enum class CodingKeys { id, name, phones, emails };

 public:
  ContactRow(std::string id, std::string name, std::vector<std::string> phones, std::vector<std::string> emails)
      : id_(std::move(id)), name_(std::move(name)), phones_(std::move(phones)), emails_(std::move(emails)) {}

  const std::string& id() const { return id_; }
  const std::string& name() const { return name_; }
  const std::vector<std::string>& phones() const { return phones_; }
  const std::vector<std::string>& emails() const { return emails_; }

  // Writes the four fields into the map in field order: the row map of an
  // exported contact. False when the map stopped taking values.
  bool encode(answer::ResultMap& map, answer::ResultMap::Map into) const;
  // Reads the four fields in field order; none on the first missing or
  // mistyped key.
  static std::optional<ContactRow> decode(const answer::ResultMap& map, answer::ResultMap::Map from);

  // Key lookup: exactly the four key texts; no integer names a key.
  static std::optional<CodingKeys> codingKey(std::string_view text);
  static std::optional<CodingKeys> codingKey(int) { return std::nullopt; }
  static std::string_view keyText(CodingKeys key);

  friend bool operator==(const ContactRow&, const ContactRow&) = default;

 private:
  std::string id_;
  std::string name_;
  std::vector<std::string> phones_;
  std::vector<std::string> emails_;
};

// The display name: given and family name joined by one space, leaving out
// each that is empty. Nothing is trimmed.
std::string displayName(std::string_view given, std::string_view family);

}  // namespace pimbridge::contacts
