#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "MoreAppsKit/MoreAppsError.h"

namespace vistrel {

// One of the maker's applications, as the feed lists it. Every field has passed validate().
struct MoreAppsEntry {
  // Replaces name and detail for one language.
  struct Localized {
    std::optional<std::string> name;
    std::optional<std::string> detail;
    friend bool operator==(const Localized&, const Localized&) = default;
  };

  std::string id;
  std::string name;
  std::string detail;
  // An icon name of the desktop's icon theme.
  std::string symbol;
  // One of moreAppsTints.
  std::string tint;
  // The store's page or a page of the maker's site.
  std::string url;
  // The application ID.
  std::optional<std::string> bundleId;
  // By two-letter language code.
  std::map<std::string, Localized> localized;

  // The name and detail for a language code such as "de"; the entry's own where the feed has no
  // text for that language.
  std::string displayName(std::string_view language) const;
  std::string displayDetail(std::string_view language) const;

  friend bool operator==(const MoreAppsEntry&, const MoreAppsEntry&) = default;
};

struct MoreAppsFeed {
  std::int64_t schema = 1;
  // In display order.
  std::vector<MoreAppsEntry> apps;
  friend bool operator==(const MoreAppsFeed&, const MoreAppsFeed&) = default;
};

inline constexpr std::array<std::string_view, 13> moreAppsTints = {
    "red",  "orange", "yellow", "green", "mint",  "teal", "cyan",
    "blue", "indigo", "purple", "pink",  "brown", "gray"};

// Feeds larger than this are refused before they are parsed.
inline constexpr std::size_t moreAppsMaxFeedBytes = 262144;

using MoreAppsValidation = std::variant<MoreAppsFeed, MoreAppsError>;

// Decodes feed bytes and checks every rule, in order; the first broken rule is the error. Entry
// addresses must lead to the maker's site (moreAppsSite()) or the store. Pure; safe from any
// thread.
MoreAppsValidation validate(std::string_view bytes);

}  // namespace vistrel
