#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "VistrelKit/base/PrivateFiles.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;

unsigned permissionsOf(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0xffff;
}

TEST(PrivateFilesTest, CreatesMissingFoldersOwnerOnlyAndLeavesExistingOnesAlone) {
  testing::TemporaryFolder temporary;
  fs::create_directories(temporary.path() / "shared");
  fs::permissions(temporary.path() / "shared", fs::perms(0755));
  const fs::path target = temporary.path() / "shared" / "a" / "b";

  const mode_t previous = ::umask(0);
  createPrivateFolders(target);
  ::umask(previous);

  EXPECT_EQ(permissionsOf(temporary.path() / "shared"), 0755u);
  EXPECT_EQ(permissionsOf(temporary.path() / "shared" / "a"), 0700u);
  EXPECT_EQ(permissionsOf(target), 0700u);
  EXPECT_NO_THROW(createPrivateFolders(target));
}

TEST(PrivateFilesTest, AFileInTheWayIsNotADirectoryError) {
  testing::TemporaryFolder temporary;
  std::ofstream(temporary.path() / "file") << "x";
  try {
    createPrivateFolders(temporary.path() / "file" / "sub");
    ADD_FAILURE() << "expected a file system error";
  } catch (const fs::filesystem_error& error) {
    EXPECT_EQ(error.code(), std::errc::not_a_directory);
  }
}

TEST(PrivateFilesTest, WritesAtomicallyOwnerOnlyAndReadsBack) {
  testing::TemporaryFolder temporary;
  const fs::path file = temporary.path() / "1.vsf";
  writeFileAtomically(file, bytesOf("first"));
  writeFileAtomically(file, bytesOf("second, longer"));
  EXPECT_EQ(readFile(file), bytesOf("second, longer"));
  EXPECT_EQ(permissionsOf(file), 0600u);
  writeFileAtomically(file, {});
  EXPECT_TRUE(readFile(file).empty());

  Bytes large(300000);
  for (std::size_t i = 0; i < large.size(); ++i) {
    large[i] = static_cast<std::uint8_t>(i * 7);
  }
  writeFileAtomically(file, large);
  EXPECT_EQ(readFile(file), large);
  EXPECT_EQ(std::distance(fs::directory_iterator(temporary.path()), fs::directory_iterator()), 1)
      << "no temporary file may be left behind";
}

TEST(PrivateFilesTest, FailedWriteLeavesTargetAndNoTemporaryFile) {
  testing::TemporaryFolder temporary;
  const fs::path target = temporary.path() / "occupied";
  fs::create_directories(target / "inside");  // rename cannot replace a non-empty folder
  EXPECT_THROW(writeFileAtomically(target, bytesOf("data")), fs::filesystem_error);
  EXPECT_TRUE(fs::is_directory(target / "inside"));
  EXPECT_EQ(std::distance(fs::directory_iterator(temporary.path()), fs::directory_iterator()), 1);

  EXPECT_THROW(writeFileAtomically(temporary.path() / "missing" / "f", bytesOf("x")),
               fs::filesystem_error);
  EXPECT_THROW(readFile(temporary.path() / "missing"), fs::filesystem_error);
}

TEST(PrivateFilesTest, ReadsOnlyTheUsersOwnPlainFiles) {
  testing::TemporaryFolder temporary;
  const fs::path file = temporary.path() / "1.vsf";
  writeFileAtomically(file, bytesOf("sealed"));
  fs::create_symlink(file, temporary.path() / "link.vsf");
  ASSERT_EQ(::mkfifo((temporary.path() / "fifo.vsf").c_str(), 0600), 0);
  for (const char* name : {"link.vsf", "fifo.vsf"})
    EXPECT_THROW(readFile(temporary.path() / name), fs::filesystem_error) << name;

  if (::geteuid() != 0)
    GTEST_SKIP() << "only root can give a file to another user";
  ASSERT_EQ(::chown(file.c_str(), 54321, 54321), 0);
  EXPECT_THROW(readFile(file), fs::filesystem_error);
}

}  // namespace
}  // namespace vistrel
