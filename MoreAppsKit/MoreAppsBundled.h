#pragma once

#include <optional>
#include <string>

namespace vistrel {

// The copy of the feed shipped inside the program (resources/more-apps.json), for when there is
// no cache yet and no network.
std::optional<std::string> moreAppsBundledFeed();

}  // namespace vistrel
