#include "Vistrel/cli/Arguments.h"

#include <algorithm>

#include "Vistrel/cli/Session.h"

namespace vistrel::cli {

Arguments::Arguments(const std::vector<std::string>& words,
                     std::initializer_list<OptionSpec> options) {
  bool onlyPositionals = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (onlyPositionals || word.size() < 2 || word[0] != '-') {
      positionals_.push_back(word);
      continue;
    }
    if (word == "--") {
      onlyPositionals = true;
      continue;
    }
    const auto equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const auto spec = std::find_if(options.begin(), options.end(),
                                   [&](const OptionSpec& option) { return option.name == name; });
    if (spec == options.end())
      throw UsageError("Unknown option " + name + ".");
    if (values_.contains(name) || flags_.contains(name))
      throw UsageError(name + " is given twice.");
    if (!spec->takesValue) {
      if (equals != std::string::npos)
        throw UsageError(name + " takes no value.");
      flags_.insert(name);
      continue;
    }
    if (equals != std::string::npos) {
      values_[name] = word.substr(equals + 1);
    } else if (i + 1 < words.size()) {
      values_[name] = words[++i];
    } else {
      throw UsageError(name + " needs a value.");
    }
  }
}

std::optional<std::string> Arguments::value(std::string_view name) const {
  const auto found = values_.find(name);
  if (found == values_.end())
    return std::nullopt;
  return found->second;
}

bool Arguments::flag(std::string_view name) const {
  return flags_.contains(name);
}

}  // namespace vistrel::cli
