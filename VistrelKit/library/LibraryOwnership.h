#pragma once

#include <filesystem>
#include <stdexcept>

namespace vistrel {

// The data folder or one of the database's files is not the user's own: another user owns it,
// it is a symbolic link, or it has a second name (a hard link another user could read through).
// what() is the text shown to the user. Nothing was changed when it is raised.
class LibraryOwnershipError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Makes sure the library's folder and database files ("history.sqlite" and its "-wal" and "-shm")
// belong to this user before any of them is used. Missing ones are fine (they are made later,
// owner-only). Checks everything first and raises LibraryOwnershipError without touching
// anything; then tightens a folder that others may enter to 0700 and a file that others may read
// to 0600, raising std::filesystem::filesystem_error when that fails. Nothing is followed: a
// link is refused, not resolved.
void claimLibraryFiles(const std::filesystem::path& folder);

}  // namespace vistrel
