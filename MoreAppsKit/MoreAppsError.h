#pragma once

#include <cstdint>
#include <string>

namespace vistrel {

// Why a feed was refused. Never shown to the user: a refused feed is simply not used.
// description(): "schema <n>", "count <n>", the rule's own text for invalid ("name of notes"),
// "too large", "not JSON".
class MoreAppsError {
 public:
  enum class Kind { schema, count, invalid, tooLarge, notJSON };

  static MoreAppsError schema(std::int64_t value) { return {Kind::schema, value, {}}; }
  static MoreAppsError count(std::int64_t number) { return {Kind::count, number, {}}; }
  static MoreAppsError invalid(std::string text) { return {Kind::invalid, 0, std::move(text)}; }
  static MoreAppsError tooLarge() { return {Kind::tooLarge, 0, {}}; }
  static MoreAppsError notJSON() { return {Kind::notJSON, 0, {}}; }

  Kind kind() const { return kind_; }
  // The schema value or the number of entries.
  std::int64_t number() const { return number_; }
  std::string description() const {
    switch (kind_) {
      case Kind::schema:
        return "schema " + std::to_string(number_);
      case Kind::count:
        return "count " + std::to_string(number_);
      case Kind::invalid:
        return text_;
      case Kind::tooLarge:
        return "too large";
      case Kind::notJSON:
        return "not JSON";
    }
    return {};
  }

  friend bool operator==(const MoreAppsError&, const MoreAppsError&) = default;

 private:
  MoreAppsError(Kind kind, std::int64_t number, std::string text)
      : kind_(kind), number_(number), text_(std::move(text)) {}

  Kind kind_;
  std::int64_t number_;
  std::string text_;
};

}  // namespace vistrel
