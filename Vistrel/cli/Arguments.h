#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel::cli {

// One option a command accepts: "--name VALUE" when it takes a value, else a plain flag.
struct OptionSpec {
  std::string_view name;
  bool takesValue = true;
};

// A command's arguments sorted into options and positional words. "--name=VALUE" is accepted
// too; after "--" every word is positional, so a search can look for "--json".
class Arguments {
 public:
  // Throws UsageError for an option the command does not know, a missing value or an option
  // given twice.
  Arguments(const std::vector<std::string>& words, std::initializer_list<OptionSpec> options);

  std::optional<std::string> value(std::string_view name) const;
  bool flag(std::string_view name) const;
  const std::vector<std::string>& positionals() const { return positionals_; }

 private:
  std::map<std::string, std::string, std::less<>> values_;
  std::set<std::string, std::less<>> flags_;
  std::vector<std::string> positionals_;
};

}  // namespace vistrel::cli
