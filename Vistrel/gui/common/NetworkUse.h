#pragma once

#include <QString>

namespace vistrel {

// The sentence that names every network request this build of Vistrel makes: the update check
// (off in distribution builds) and the list of other apps (off when network features are).
QString networkRequestsText();

}  // namespace vistrel
