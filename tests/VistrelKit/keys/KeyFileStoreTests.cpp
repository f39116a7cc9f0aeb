#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "tests/VistrelKit/keys/KeychainStatus.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;

MasterKey keyOf(std::uint8_t seed) {
  MasterKey::Storage bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return MasterKey(bytes);
}

std::string fileContent(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

mode_t permissionsOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class KeyFileStoreTest : public ::testing::Test {
 protected:
  testing::TemporaryFolder folder_;
  const fs::path& root_ = folder_.path();
};

TEST_F(KeyFileStoreTest, SaveCreatesOwnerOnlyFolderAndFileThenLoadReturnsTheKey) {
  fs::path folder = root_ / "config" / "Vistrel";
  KeyFileStore store(folder / "history-key");

  store.save(keyOf(1));

  EXPECT_EQ(permissionsOf(root_ / "config"), 0700u);
  EXPECT_EQ(permissionsOf(folder), 0700u);
  EXPECT_EQ(permissionsOf(folder / "history-key"), 0600u);
  EXPECT_EQ(fs::file_size(folder / "history-key"), MasterKey::size);
  MasterKey expected = keyOf(1);
  const auto& bytes = expected.bytes();
  EXPECT_EQ(fileContent(folder / "history-key"), std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(store.load(), keyOf(1));
  EXPECT_EQ(KeyFileStore(folder / "history-key").load(), keyOf(1));
}

TEST_F(KeyFileStoreTest, PermissionsHoldUnderARestrictiveUmask) {
  mode_t old = ::umask(0277);
  KeyFileStore store(root_ / "made" / "history-key");
  store.save(keyOf(2));
  ::umask(old);

  EXPECT_EQ(permissionsOf(root_ / "made"), 0700u);
  EXPECT_EQ(permissionsOf(root_ / "made" / "history-key"), 0600u);
  EXPECT_EQ(store.load(), keyOf(2));
}

TEST_F(KeyFileStoreTest, MissingFileIsNoKeyAndRemovingItIsNoError) {
  KeyFileStore store(root_ / "absent" / "history-key");
  EXPECT_EQ(store.load(), std::nullopt);
  EXPECT_NO_THROW(store.remove());
  EXPECT_FALSE(fs::exists(root_ / "absent"));
}

TEST_F(KeyFileStoreTest, SaveReplacesAndLeavesNoTemporaryFiles) {
  KeyFileStore store(root_ / "history-key");
  store.save(keyOf(1));
  store.save(keyOf(2));

  EXPECT_EQ(store.load(), keyOf(2));
  std::vector<fs::path> entries(fs::directory_iterator(root_), fs::directory_iterator{});
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].filename(), "history-key");
  EXPECT_EQ(permissionsOf(root_ / "history-key"), 0600u);
}

TEST_F(KeyFileStoreTest, ReplacingALooseFileMakesItOwnerOnly) {
  writeFile(root_ / "history-key", std::string(32, 'x'));
  fs::permissions(root_ / "history-key", fs::perms(0644));
  KeyFileStore(root_ / "history-key").save(keyOf(3));
  EXPECT_EQ(permissionsOf(root_ / "history-key"), 0600u);
}

TEST_F(KeyFileStoreTest, AnOpenKeyFileOfTheUsersOwnIsTightenedWhenLoaded) {
  KeyFileStore store(root_ / "history-key");
  store.save(keyOf(4));
  fs::permissions(root_ / "history-key", fs::perms(0644));
  EXPECT_EQ(store.load(), keyOf(4));
  EXPECT_EQ(permissionsOf(root_ / "history-key"), 0600u);
}

TEST_F(KeyFileStoreTest, HostileKeyFilesAreRefusedUntouched) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& key)> arrange;
    std::int32_t status;
  };
  const Case cases[] = {
      {"another user's file",
       [](const fs::path& key) { ASSERT_EQ(::chown(key.c_str(), 54321, 54321), 0); }, -EPERM},
      {"a second name", [&](const fs::path& key) { fs::create_hard_link(key, root_ / "copy"); },
       -EMLINK},
      {"a symbolic link",
       [&](const fs::path& key) {
         fs::rename(key, root_ / "target");
         fs::create_symlink(root_ / "target", key);
       },
       -ELOOP},
  };
  for (const Case& c : cases) {
    // Only root can hand a file to another user.
    if (c.status == -EPERM && ::geteuid() != 0)
      continue;
    fs::remove_all(root_);
    fs::create_directories(root_);
    const fs::path key = root_ / "history-key";
    KeyFileStore store(key);
    store.save(keyOf(5));
    fs::permissions(key, fs::perms(0644));
    c.arrange(key);
    struct stat before {};
    ASSERT_EQ(::stat(key.c_str(), &before), 0);
    try {
      store.load();
      ADD_FAILURE() << c.name << ": loaded";
    } catch (const VistrelCryptoError& error) {
      EXPECT_EQ(error, VistrelCryptoError::keychain(c.status)) << c.name << ": " << error.what();
    }
    struct stat after {};
    ASSERT_EQ(::stat(key.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
    EXPECT_EQ(after.st_uid, before.st_uid) << c.name;
  }
}

TEST_F(KeyFileStoreTest, RemoveDeletesTheFile) {
  KeyFileStore store(root_ / "history-key");
  store.save(keyOf(1));
  store.remove();
  EXPECT_FALSE(fs::exists(root_ / "history-key"));
  EXPECT_EQ(store.load(), std::nullopt);
}

TEST_F(KeyFileStoreTest, FileOfAnotherLengthFailsWithStatusZeroAndIsLeftUntouched) {
  for (std::size_t length : {0, 1, 16, 31, 33, 64}) {
    SCOPED_TRACE(length);
    std::string content(length, '\x5a');
    writeFile(root_ / "history-key", content);
    KeyFileStore store(root_ / "history-key");

    EXPECT_EQ(keychainStatusOf([&] { store.load(); }), 0);
    EXPECT_EQ(fileContent(root_ / "history-key"), content);
  }
}

TEST_F(KeyFileStoreTest, FolderAtTheKeyPathFailsWithMinusErrnoAndStaysAsItIs) {
  fs::create_directories(root_ / "history-key");
  KeyFileStore store(root_ / "history-key");

  EXPECT_EQ(keychainStatusOf([&] { store.load(); }), -EISDIR);
  EXPECT_LT(keychainStatusOf([&] { store.save(keyOf(1)); }), 0);
  EXPECT_TRUE(fs::is_directory(root_ / "history-key"));
  std::vector<fs::path> entries(fs::directory_iterator(root_), fs::directory_iterator{});
  EXPECT_EQ(entries.size(), 1u) << "the temporary file was not cleaned up";
}

TEST_F(KeyFileStoreTest, FileInPlaceOfTheFolderFailsWithNotADirectory) {
  writeFile(root_ / "Vistrel", "not a folder");
  KeyFileStore store(root_ / "Vistrel" / "history-key");

  EXPECT_EQ(keychainStatusOf([&] { store.load(); }), -ENOTDIR);
  EXPECT_EQ(keychainStatusOf([&] { store.save(keyOf(1)); }), -ENOTDIR);
  EXPECT_EQ(keychainStatusOf([&] { store.remove(); }), -ENOTDIR);
  EXPECT_EQ(fileContent(root_ / "Vistrel"), "not a folder");
}

TEST_F(KeyFileStoreTest, StoreWithoutAPathFailsWithNoSuchFile) {
  KeyFileStore store{fs::path()};
  EXPECT_EQ(keychainStatusOf([&] { store.load(); }), -ENOENT);
  EXPECT_EQ(keychainStatusOf([&] { store.save(keyOf(1)); }), -ENOENT);
}

TEST_F(KeyFileStoreTest, ConcurrentSavesLeaveOneWholeKey) {
  KeyFileStore store(root_ / "Vistrel" / "history-key");
  std::vector<std::thread> threads;
  for (std::uint8_t seed = 1; seed <= 4; ++seed) {
    threads.emplace_back([&store, seed] {
      for (int round = 0; round < 20; ++round)
        store.save(keyOf(seed));
    });
  }
  for (auto& thread : threads)
    thread.join();

  std::optional<MasterKey> loaded = store.load();
  ASSERT_TRUE(loaded.has_value());
  EXPECT_TRUE(loaded == keyOf(1) || loaded == keyOf(2) || loaded == keyOf(3) || loaded == keyOf(4));
  std::vector<fs::path> entries(fs::directory_iterator(root_ / "Vistrel"),
                                fs::directory_iterator{});
  EXPECT_EQ(entries.size(), 1u);
}

TEST_F(KeyFileStoreTest, LoadOrCreateMakesTheFileOnceAndThenKeepsIt) {
  KeyFileStore store(root_ / "Vistrel" / "history-key");
  EXPECT_EQ(loadOrCreate(store, false), std::nullopt);
  EXPECT_FALSE(fs::exists(root_ / "Vistrel"));

  std::optional<MasterKey> created = loadOrCreate(store, true);
  ASSERT_TRUE(created.has_value());
  std::string written = fileContent(root_ / "Vistrel" / "history-key");
  EXPECT_EQ(written, std::string(created->bytes().begin(), created->bytes().end()));

  EXPECT_EQ(loadOrCreate(store, true), created);
  EXPECT_EQ(fileContent(root_ / "Vistrel" / "history-key"), written);
}

TEST_F(KeyFileStoreTest, DescriptionNamesThePath) {
  EXPECT_EQ(KeyFileStore("/home/ana/.config/Vistrel/history-key").description(),
            "Key file /home/ana/.config/Vistrel/history-key");
}

TEST(KeyFileStoreDefaultPath, FollowsXdgConfigHome) {
  ScopedEnvironment config("XDG_CONFIG_HOME", "/srv/ana/config");
  EXPECT_EQ(KeyFileStore::defaultPath(), fs::path("/srv/ana/config/Vistrel/history-key"));
}

TEST(KeyFileStoreDefaultPath, IgnoresUnsetOrRelativeXdgConfigHome) {
  for (const char* value : {static_cast<const char*>(nullptr), "", "relative/config"}) {
    SCOPED_TRACE(value == nullptr ? "unset" : value);
    ScopedEnvironment config("XDG_CONFIG_HOME", value);
    fs::path path = KeyFileStore::defaultPath();
    EXPECT_TRUE(path.is_absolute()) << path;
    EXPECT_EQ(path.filename(), "history-key");
    EXPECT_EQ(path.parent_path().filename(), "Vistrel");
    EXPECT_EQ(path.parent_path().parent_path().filename(), ".config");
  }
}

TEST(KeyFileStoreDefaultPath, LiesOutsideTheDataFolder) {
  ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
  ScopedEnvironment data("XDG_DATA_HOME", nullptr);
  fs::path key = KeyFileStore::defaultPath();
  fs::path home = key.parent_path().parent_path().parent_path();
  fs::path dataFolder = home / ".local" / "share" / "Vistrel";
  fs::path relative = key.lexically_relative(dataFolder);
  EXPECT_EQ(*relative.begin(), "..") << key;
}

}  // namespace
}  // namespace vistrel
