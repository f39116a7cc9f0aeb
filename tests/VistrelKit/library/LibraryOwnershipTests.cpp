// Hostile local files: a data folder or database file that another user made, a link, or a
// second name for the log. Each must be refused before anything is written or a key is made;
// the user's own files that are too open are tightened. The tests run as root and give files to
// another uid with chown, so the ownership checks see real owners.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/LibraryOwnership.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
constexpr uid_t otherUser = 54321;

// Everything below the folder (not following links): name → owner, mode and size.
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat info {};
    ::lstat(entry.path().c_str(), &info);
    entries[entry.path().string()] = std::to_string(info.st_uid) + " " +
                                     std::to_string(info.st_mode) + " " +
                                     std::to_string(info.st_size);
  }
  return entries;
}

void touch(const fs::path& file, fs::perms mode) {
  std::ofstream(file) << "";
  fs::permissions(file, mode);
}

TEST(LibraryOwnershipTest, HostileFoldersAndFilesAreRefusedWithNothingWritten) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& root, const fs::path& data)> arrange;
    const char* message;
  };
  const Case cases[] = {
      {"a data folder of another owner",
       [](const fs::path&, const fs::path& data) {
         fs::create_directory(data);
         fs::permissions(data, fs::perms::all);
         ASSERT_EQ(::chown(data.c_str(), otherUser, otherUser), 0);
       },
       "belongs to another user"},
      {"a -wal file of another owner",
       [](const fs::path&, const fs::path& data) {
         fs::create_directory(data);
         touch(data / "history.sqlite-wal", fs::perms::owner_read | fs::perms::owner_write);
         ASSERT_EQ(::chown((data / "history.sqlite-wal").c_str(), otherUser, otherUser), 0);
       },
       "belongs to another user"},
      {"a 0666 -wal file with a second name elsewhere",
       [](const fs::path& root, const fs::path& data) {
         fs::create_directory(data);
         touch(data / "history.sqlite-wal", fs::perms::all & ~fs::perms::owner_exec &
                                                ~fs::perms::group_exec & ~fs::perms::others_exec);
         fs::create_hard_link(data / "history.sqlite-wal", root / "kept-copy");
       },
       "hard link"},
      {"a data folder that is a symbolic link",
       [](const fs::path& root, const fs::path& data) {
         fs::create_directory(root / "elsewhere");
         fs::create_directory_symlink(root / "elsewhere", data);
       },
       "symbolic link"},
      {"a history.sqlite that is a symbolic link",
       [](const fs::path& root, const fs::path& data) {
         fs::create_directory(data);
         touch(root / "target", fs::perms::owner_read | fs::perms::owner_write);
         fs::create_symlink(root / "target", data / "history.sqlite");
       },
       "symbolic link"},
  };
  for (const Case& c : cases) {
    testing::TemporaryFolder temporary;
    const fs::path data = temporary.path() / "data";
    c.arrange(temporary.path(), data);
    const auto before = snapshot(temporary.path());
    for (const bool create : {false, true}) {
      MemoryKeyStore keys;
      try {
        FrameLibrary::open(data, keys, create, Calendar::utc());
        ADD_FAILURE() << c.name << ": opened";
      } catch (const LibraryOwnershipError& error) {
        EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
            << c.name << ": " << error.what();
      }
      EXPECT_EQ(keys.load(), std::nullopt) << c.name << ": no key was made";
      EXPECT_EQ(snapshot(temporary.path()), before) << c.name << ": something was changed";
    }
  }
}

TEST(LibraryOwnershipTest, TheUsersOwnTooOpenFolderAndFilesAreTightened) {
  testing::TemporaryFolder temporary;
  const fs::path data = temporary.path() / "data";
  MemoryKeyStore keys;
  FrameLibrary::open(data, keys, true, Calendar::utc()).reset();
  fs::permissions(data, fs::perms::all);
  fs::permissions(data / "history.sqlite", fs::perms::owner_read | fs::perms::owner_write |
                                               fs::perms::group_read | fs::perms::others_read);
  ASSERT_NE(FrameLibrary::open(data, keys, false, Calendar::utc()), nullptr);
  EXPECT_EQ(fs::status(data).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(data / "history.sqlite").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace vistrel
