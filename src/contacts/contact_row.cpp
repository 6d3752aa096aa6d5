#include "contacts/contact_row.hpp"

namespace pimbridge::contacts {

namespace {

std::optional<std::vector<std::string>> textsAt(const answer::ResultMap& map, answer::ResultMap::Map from,
                                                std::string_view key) {
  const auto value = map.find(from, key);
  if (!value || value->kind() != answer::Kind::textList) return std::nullopt;
  const auto texts = value->texts();
  return std::vector<std::string>(texts.begin(), texts.end());
}

}  // namespace

std::string_view ContactRow::keyText(CodingKeys key) {
  switch (key) {
    case CodingKeys::id:
      return "id";
    case CodingKeys::name:
      return "name";
    case CodingKeys::phones:
      return "phones";
    case CodingKeys::emails:
      return "emails";
  }
  return {};
}

std::optional<ContactRow::CodingKeys> ContactRow::codingKey(std::string_view text) {
  for (auto key : {CodingKeys::id, CodingKeys::name, CodingKeys::phones, CodingKeys::emails}) {
    if (keyText(key) == text) return key;
  }
  return std::nullopt;
}

bool ContactRow::encode(answer::ResultMap& map, answer::ResultMap::Map into) const {
  map.setText(into, keyText(CodingKeys::id), id_);
  map.setText(into, keyText(CodingKeys::name), name_);
  const auto phones = map.setTextList(into, keyText(CodingKeys::phones));
  for (const auto& phone : phones_) map.appendText(phones, phone);
  const auto emails = map.setTextList(into, keyText(CodingKeys::emails));
  for (const auto& email : emails_) map.appendText(emails, email);
  return map.intact();
}

std::optional<ContactRow> ContactRow::decode(const answer::ResultMap& map, answer::ResultMap::Map from) {
  auto id = map.textAt(from, keyText(CodingKeys::id));
  if (!id) return std::nullopt;
  auto name = map.textAt(from, keyText(CodingKeys::name));
  if (!name) return std::nullopt;
  auto phones = textsAt(map, from, keyText(CodingKeys::phones));
  if (!phones) return std::nullopt;
  auto emails = textsAt(map, from, keyText(CodingKeys::emails));
  if (!emails) return std::nullopt;
  return ContactRow(std::move(*id), std::move(*name), std::move(*phones), std::move(*emails));
}

std::string displayName(std::string_view given, std::string_view family) {
  std::string name;
  name.reserve(given.size() + family.size() + 1);
  name.append(given);
  if (!given.empty() && !family.empty()) name.push_back(' ');
  name.append(family);
  return name;
}

}  // namespace pimbridge::contacts
