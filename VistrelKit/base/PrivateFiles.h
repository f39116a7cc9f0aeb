#pragma once

#include <filesystem>

#include "VistrelKit/base/Bytes.h"

namespace vistrel {

// File helpers for data only the user may read. Failures raise std::filesystem::filesystem_error.

// Creates the folder and any missing parents with permissions 0700; folders that already
// exist are left as they are. Fails when something other than a folder stands in the way.
void createPrivateFolders(const std::filesystem::path& folder);

// Replaces the file's content atomically: writes a 0600 temporary file beside it, flushes it to
// disk and renames it over the target. On failure the target is unchanged and no temporary file
// is left behind.
void writeFileAtomically(const std::filesystem::path& file, const Bytes& content);

// The whole content of a file of this user's, opened without following a link. Throws
// std::filesystem::filesystem_error, also for a link, something other than a file, or another
// user's file.
Bytes readFile(const std::filesystem::path& file);

}  // namespace vistrel
