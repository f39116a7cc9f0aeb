#pragma once

#include <filesystem>

namespace vistrel {

// The user's home folder: from the user database, else $HOME; empty when neither is known.
std::filesystem::path homeFolder();

// The folder that holds config.json and the library: $VISTREL_DATA_DIR when set, else
// $XDG_DATA_HOME/Vistrel, else <home>/.local/share/Vistrel. Relative XDG values are ignored, as
// the XDG base directory rules ask. Empty when no home folder is known.
std::filesystem::path defaultDataFolder();

}  // namespace vistrel
