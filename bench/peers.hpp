// The same answer written by two general JSON libraries, for comparison with
// the tool's own writer. Each takes the result map through its public read
// interface and gives the JSON text by the tool's rules: compact, strict UTF-8,
// and "/" written as "\/".
#pragma once

#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "answer/result_map.hpp"

namespace pimbridge::bench {

// A byte buffer that is not zeroed before it is written.
class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::size_t capacity) : data_(static_cast<char*>(std::malloc(capacity))) {}
  Bytes(Bytes&& other) noexcept : data_(other.data_), size_(other.size_) { other.data_ = nullptr; }
  Bytes& operator=(Bytes&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    return *this;
  }
  Bytes(const Bytes&) = delete;
  Bytes& operator=(const Bytes&) = delete;
  ~Bytes() { std::free(data_); }

  char* data() { return data_; }
  std::string_view view() const { return {data_, size_}; }
  void setSize(std::size_t size) { size_ = size; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// The text with every "/" written as "\/". In JSON text a "/" can only stand
// inside a string, so the pass needs no parsing.
Bytes escapeSolidus(std::string_view json);

// RapidJSON's Writer with UTF-8 validation, then the "/" pass. None when the
// writer refused a text.
std::optional<Bytes> rapidjsonText(const answer::ResultMap& map);

// The map as an nlohmann::json value.
nlohmann::json nlohmannValue(const answer::ResultMap& map);
// dump() with strict UTF-8 handling and no ASCII escaping, then the "/" pass.
// None when dump() refused a text.
std::optional<Bytes> nlohmannText(const nlohmann::json& value);

// Visits every value once through the read interface, as both peers do, and
// returns the number of text bytes seen: the cost of the walk alone.
std::size_t walk(const answer::ResultMap& map);

}  // namespace pimbridge::bench
