// The world file of the simulated platform: what its two stores hold and how
// they behave, read from JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pimbridge::simulated {

// A world that does not follow the format; the text says what is wrong and where.
class WorldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The running system's version, as the world gives it.
struct OsVersion {
  long major = 0;
  long minor = 0;
  long patch = 0;
};

struct AccessAnswer {
  bool granted = false;
  bool error = false;
  std::int64_t afterMs = 0;
  std::optional<std::int64_t> statusAfter;
};

struct DueComponents {
  std::optional<std::int64_t> year, month, day, hour, minute, second, utcOffsetMinutes;
};

struct SimReminder {
  std::string id;
  std::string title;
  bool completed = false;
  std::optional<DueComponents> due;
};

enum class FetchMode { normal, never, absent };

// Where a fetch completion runs: on a thread of its own, or on the main
// thread inside the platform's wait, as a completion sent to the main queue.
enum class DeliverOn { other, main };

struct SimList {
  std::string id;
  std::string title;
  FetchMode fetch = FetchMode::normal;
  std::int64_t afterMs = 0;
  DeliverOn deliverOn = DeliverOn::other;
  std::vector<SimReminder> reminders;
  std::uint64_t generate = 0;
};

struct SimContact {
  std::string id;
  std::string container;
  std::optional<std::string> given;
  std::optional<std::string> family;
  std::vector<std::string> phones;
  std::vector<std::string> emails;
};

struct World {
  OsVersion osVersion{14, 0, 0};
  struct {
    std::int64_t status = 0;
    std::optional<AccessAnswer> request;
    std::vector<SimList> lists;
  } reminders;
  struct {
    std::int64_t status = 0;
    std::optional<AccessAnswer> request;
    std::optional<std::string> defaultContainer = std::string("default");
    std::vector<SimContact> contacts;
    std::uint64_t generate = 0;
    std::optional<std::uint64_t> failAfter;
  } contacts;
};

// Throws WorldError.
World parseWorld(std::string_view json);

// The built-in world served when no world file is named.
std::string_view demoWorldJson();

}  // namespace pimbridge::simulated
