// Runs against a real Secret Service: tests/scripts/with-keyring.sh starts a private session bus
// with a throw-away GNOME Keyring whose login keyring is unlocked and is the default collection.

#include <gtest/gtest.h>
#include <libsecret/secret.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "VistrelKit/keys/GLibHandles.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/KeychainKeyStore.h"
#include "VistrelKit/keys/PlatformKeyStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "tests/VistrelKit/keys/KeychainStatus.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using SecretValuePtr = std::unique_ptr<SecretValue, GLibRelease<secret_value_unref>>;

MasterKey keyOf(std::uint8_t seed) {
  MasterKey::Storage bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(seed * 31 + i);
  return MasterKey(bytes);
}

SecretService* secretService() {
  GErrorSlot error;
  SecretService* service =
      secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, error.out());
  EXPECT_NE(service, nullptr) << (error ? error.get()->message : "");
  return service;
}

// What the Secret Service holds for one service/account pair, read without the store.
struct StoredItem {
  std::string secret;
  std::string label;
  std::string objectPath;
  std::string schemaAttribute;
};

std::vector<StoredItem> storedItems(const std::string& service, const std::string& account) {
  GObjectPtr<SecretService> connection(secretService());
  GHashTablePtr attributes(g_hash_table_new(g_str_hash, g_str_equal));
  g_hash_table_insert(attributes.get(), const_cast<char*>("service"),
                      const_cast<char*>(service.c_str()));
  g_hash_table_insert(attributes.get(), const_cast<char*>("account"),
                      const_cast<char*>(account.c_str()));
  GErrorSlot error;
  GObjectListPtr items(secret_service_search_sync(
      connection.get(), nullptr, attributes.get(),
      static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_LOAD_SECRETS), nullptr,
      error.out()));
  EXPECT_FALSE(error) << error.get()->message;

  std::vector<StoredItem> result;
  for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
    SecretItem* item = SECRET_ITEM(entry->data);
    StoredItem stored;
    SecretValuePtr value(secret_item_get_secret(item));
    if (value) {
      gsize length = 0;
      const gchar* data = secret_value_get(value.get(), &length);
      stored.secret.assign(data, length);
    }
    GCharPtr label(secret_item_get_label(item));
    stored.label = label ? label.get() : "";
    stored.objectPath = g_dbus_proxy_get_object_path(G_DBUS_PROXY(item));
    GHashTablePtr itemAttributes(secret_item_get_attributes(item));
    auto* schema =
        static_cast<const char*>(g_hash_table_lookup(itemAttributes.get(), "xdg:schema"));
    stored.schemaAttribute = schema ? schema : "";
    result.push_back(stored);
  }
  return result;
}

std::string bytesOfKey(const MasterKey& key) {
  return std::string(key.bytes().begin(), key.bytes().end());
}

// The object path of the collection behind the "default" alias.
std::string defaultCollectionPath() {
  GObjectPtr<SecretService> connection(secretService());
  GErrorSlot error;
  GObjectPtr<SecretCollection> collection(secret_collection_for_alias_sync(
      connection.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, error.out()));
  EXPECT_TRUE(collection) << (error ? error.get()->message : "no default collection");
  return collection ? g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection.get())) : "";
}

// Stores a secret with secret-tool, as another program would, so the item carries no schema.
void storeWithSecretTool(const std::string& service, const std::string& account,
                         const std::string& secret) {
  std::string command = "secret-tool store --label='written elsewhere' service '" + service +
                        "' account '" + account + "'";
  FILE* pipe = ::popen(command.c_str(), "w");
  ASSERT_NE(pipe, nullptr);
  std::fwrite(secret.data(), 1, secret.size(), pipe);
  ASSERT_EQ(::pclose(pipe), 0);
}

// Stores an item directly, optionally under another program's schema name.
void storeInCollection(const std::string& service, const std::string& account,
                       const char* collection, const std::string& secret,
                       const char* schemaName = nullptr) {
  GHashTablePtr attributes(g_hash_table_new(g_str_hash, g_str_equal));
  g_hash_table_insert(attributes.get(), const_cast<char*>("service"),
                      const_cast<char*>(service.c_str()));
  g_hash_table_insert(attributes.get(), const_cast<char*>("account"),
                      const_cast<char*>(account.c_str()));
  if (schemaName != nullptr) {
    g_hash_table_insert(attributes.get(), const_cast<char*>("xdg:schema"),
                        const_cast<char*>(schemaName));
  }
  SecretValuePtr value(secret_value_new(secret.data(), static_cast<gssize>(secret.size()),
                                        "application/octet-stream"));
  GErrorSlot error;
  EXPECT_TRUE(secret_service_store_sync(nullptr, nullptr, attributes.get(), collection, "elsewhere",
                                        value.get(), nullptr, error.out()))
      << (error ? error.get()->message : "");
}

class KeychainKeyStoreTest : public ::testing::Test {
 protected:
  void TearDown() override { store_.remove(); }

  std::string service_ = std::string("com.tevrin77.Vistrel.test.") +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::string account_{historyKeyAccount};
  KeychainKeyStore store_{service_, account_};
};

TEST_F(KeychainKeyStoreTest, EmptyStoreLoadsNothing) {
  EXPECT_EQ(store_.load(), std::nullopt);
}

TEST_F(KeychainKeyStoreTest, SavedKeyIsOneItemInTheDefaultCollectionAndLoadsBack) {
  store_.save(keyOf(1));

  EXPECT_EQ(store_.load(), keyOf(1));
  EXPECT_EQ(KeychainKeyStore(service_, account_).load(), keyOf(1));

  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(keyOf(1)));
  EXPECT_EQ(items[0].label, "Vistrel history key");
  EXPECT_EQ(items[0].objectPath.rfind(defaultCollectionPath() + "/", 0), 0u) << items[0].objectPath;
}

TEST_F(KeychainKeyStoreTest, SavingAgainLeavesExactlyOneItemWithTheSecondKey) {
  store_.save(keyOf(1));
  store_.save(keyOf(2));

  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(keyOf(2)));
  EXPECT_EQ(store_.load(), keyOf(2));
}

TEST_F(KeychainKeyStoreTest, SaveReplacesAMatchingItemInAnotherCollection) {
  storeInCollection(service_, account_, SECRET_COLLECTION_SESSION, bytesOfKey(keyOf(7)));
  ASSERT_EQ(storedItems(service_, account_).size(), 1u);

  store_.save(keyOf(3));

  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(keyOf(3)));
  EXPECT_EQ(items[0].objectPath.rfind(defaultCollectionPath() + "/", 0), 0u);
  EXPECT_EQ(store_.load(), keyOf(3));
}

TEST_F(KeychainKeyStoreTest, RemoveDeletesTheItemAndRemovingNothingIsNoError) {
  store_.save(keyOf(1));
  store_.remove();
  EXPECT_TRUE(storedItems(service_, account_).empty());
  EXPECT_EQ(store_.load(), std::nullopt);

  EXPECT_NO_THROW(store_.remove());
  EXPECT_EQ(store_.load(), std::nullopt);
}

TEST_F(KeychainKeyStoreTest, SixteenByteItemFailsWithStatusZeroAndIsLeftUntouched) {
  const std::string sixteen = "0123456789abcdef";
  storeWithSecretTool(service_, account_, sixteen);

  EXPECT_EQ(keychainStatusOf([&] { store_.load(); }), 0);
  EXPECT_EQ(keychainStatusOf([&] { store_.load(); }), 0);

  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, sixteen);
  EXPECT_EQ(items[0].label, "written elsewhere");
  EXPECT_EQ(VistrelCryptoError::keychain(0).what(), std::string("Keyring error 0."));
}

TEST_F(KeychainKeyStoreTest, ItemOfAnotherProgramsSchemaWithTheRightLengthIsTheKey) {
  storeInCollection(service_, account_, SECRET_COLLECTION_DEFAULT, bytesOfKey(keyOf(5)),
                    "org.example.OtherProgram");
  ASSERT_EQ(storedItems(service_, account_).at(0).schemaAttribute, "org.example.OtherProgram");
  EXPECT_EQ(store_.load(), keyOf(5));

  store_.save(keyOf(6));
  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(keyOf(6)));
}

TEST_F(KeychainKeyStoreTest, LoadOrCreateSavesOneKeyOnceAndThenReturnsIt) {
  EXPECT_EQ(loadOrCreate(store_, false), std::nullopt);
  EXPECT_TRUE(storedItems(service_, account_).empty());

  std::optional<MasterKey> created = loadOrCreate(store_, true);
  ASSERT_TRUE(created.has_value());
  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(*created));

  KeychainKeyStore later(service_, account_);
  EXPECT_EQ(loadOrCreate(later, true), created);
  items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(*created));
}

TEST_F(KeychainKeyStoreTest, LoadOrCreateNeverReplacesAnUnreadableItem) {
  storeWithSecretTool(service_, account_, "0123456789abcdef");
  EXPECT_EQ(keychainStatusOf([&] { loadOrCreate(store_, true); }), 0);
  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, "0123456789abcdef");
}

TEST_F(KeychainKeyStoreTest, OtherServicesAndAccountsAreLeftAlone) {
  KeychainKeyStore otherAccount(service_, "another-key");
  KeychainKeyStore otherService(service_ + ".other", account_);
  otherAccount.save(keyOf(8));
  otherService.save(keyOf(9));

  store_.save(keyOf(1));
  store_.remove();

  EXPECT_EQ(otherAccount.load(), keyOf(8));
  EXPECT_EQ(otherService.load(), keyOf(9));
  otherAccount.remove();
  otherService.remove();
}

TEST_F(KeychainKeyStoreTest, ConcurrentCallsFromManyThreadsLeaveOneItem) {
  std::vector<std::string> failures(4);
  std::vector<std::thread> threads;
  for (std::uint8_t seed = 1; seed <= 4; ++seed) {
    threads.emplace_back([this, seed, &failure = failures[seed - 1]] {
      try {
        KeychainKeyStore store(service_, account_);
        for (int round = 0; round < 5; ++round) {
          store.save(keyOf(seed));
          store.load();
          if (round == 2)
            store.remove();
        }
      } catch (const std::exception& error) {
        failure = error.what();
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (const std::string& failure : failures)
    EXPECT_EQ(failure, "");

  // Every thread's last call was a save, so exactly one key remains.
  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  std::optional<MasterKey> loaded = store_.load();
  ASSERT_TRUE(loaded.has_value());
  EXPECT_EQ(items[0].secret, bytesOfKey(*loaded));
}

// Locks the keyring for good (its password is not known here), so CTest runs it on its own
// keyring: see tests/CMakeLists.txt.
TEST(KeychainKeyStoreLocked, KeyringThatStaysLockedIsUnreachableAndKeepsTheKey) {
  KeychainKeyStore store("com.tevrin77.Vistrel.test.locked", std::string(historyKeyAccount));
  store.save(keyOf(1));
  GObjectPtr<SecretService> connection(secretService());
  GErrorSlot error;
  GObjectPtr<SecretCollection> collection(secret_collection_for_alias_sync(
      connection.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, error.out()));
  ASSERT_TRUE(collection);
  GList single{collection.get(), nullptr, nullptr};
  ASSERT_EQ(secret_service_lock_sync(connection.get(), &single, nullptr, nullptr, error.out()), 1);

  // Without a display the unlock prompt cannot be shown, so every attempt is refused at once:
  // the keyring is unreachable, which says nothing about the key in it.
  for (auto operation : std::vector<std::function<void()>>{
           [&] { store.load(); }, [&] { store.save(keyOf(2)); }, [&] { store.remove(); }}) {
    try {
      operation();
      ADD_FAILURE() << "a locked keyring was used";
    } catch (const VistrelCryptoError& error) {
      EXPECT_EQ(error, VistrelCryptoError::unreachable(-1002));
    }
  }
  EXPECT_EQ(storedItems(store.service(), store.account()).size(), 1u);
}

// A key file found while the keyring answers but stays locked is not moved: it stays, in use,
// and the history it unlocks opens.
TEST(KeychainKeyStoreLocked, KeyFileStaysInUseWhenTheKeyringCannotBeUnlocked) {
  GObjectPtr<SecretService> connection(secretService());
  GErrorSlot error;
  GObjectPtr<SecretCollection> collection(secret_collection_for_alias_sync(
      connection.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, error.out()));
  ASSERT_TRUE(collection);
  GList single{collection.get(), nullptr, nullptr};
  secret_service_lock_sync(connection.get(), &single, nullptr, nullptr, nullptr);

  const fs::path file = KeyFileStore::defaultPath();
  testing::TemporaryFolder folder;
  const fs::path data = folder.path() / "Vistrel";
  {
    KeyFileStore keyFile(file);
    keyFile.save(keyOf(1));
    FrameLibrary::open(data, keyFile, true, Calendar::utc());
  }
  PlatformKeyStore store({.service = "com.tevrin77.Vistrel.test.locked-move"});

  EXPECT_EQ(store.moveReport().outcome, KeyMoveReport::Outcome::failed);
  EXPECT_NE(store.moveReport().status, 0);
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(store.keyFile(), file);
  EXPECT_EQ(store.load(), keyOf(1));
  EXPECT_NE(FrameLibrary::open(data, store, false, Calendar::utc()), nullptr);
}

TEST(SecretServiceStatus, MapsErrorDomainsToDocumentedRanges) {
  struct Case {
    GQuark domain;
    int code;
    std::int32_t status;
  };
  const Case cases[] = {
      {SECRET_ERROR, SECRET_ERROR_IS_LOCKED, -1002},
      {SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT, -1003},
      {G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN, -2002},
      {G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED, -2009},
      {G_IO_ERROR, G_IO_ERROR_CLOSED, -3018},
      {G_IO_ERROR, G_IO_ERROR_CANCELLED, -3019},
      {G_IO_ERROR, G_IO_ERROR_TIMED_OUT, -3024},
      {G_KEY_FILE_ERROR, 4, -9004},
      {G_IO_ERROR, 1000, -9999},
      {G_DBUS_ERROR, -1, -9999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(g_quark_to_string(c.domain) + std::string(" ") + std::to_string(c.code));
    EXPECT_EQ(secretServiceStatus(c.domain, c.code), c.status);
  }
}

class PlatformSelectionTest : public ::testing::Test {
 protected:
  void TearDown() override {
    std::error_code ignored;
    fs::remove(KeyFileStore::defaultPath(), ignored);
    KeychainKeyStore(service_, account_).remove();
  }

  PlatformKeyStoreOptions options() const {
    return {.dataFolder = data_, .service = service_, .account = account_};
  }

  std::string service_ = std::string("com.tevrin77.Vistrel.test.") +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::string account_{historyKeyAccount};
  testing::TemporaryFolder folder_;
  fs::path data_ = folder_.path() / "Vistrel";
  fs::path keyFile_ = KeyFileStore::defaultPath();
};

TEST_F(PlatformSelectionTest, AnsweringSecretServiceIsChosenAndNamesTheLoginKeyring) {
  SecretServiceProbe probe = probeSecretService(std::chrono::milliseconds(2000));
  EXPECT_TRUE(probe.answered());
  EXPECT_EQ(probe.keyringLabel, "Login");

  std::unique_ptr<PlatformKeyStore> store = makePlatformKeyStore();
  EXPECT_EQ(store->keyFile(), std::nullopt);
  EXPECT_EQ(store->description(), "Secret Service (Login keyring)");
  EXPECT_EQ(store->moveReport().outcome, KeyMoveReport::Outcome::none);
}

// A key file made while there was no keyring: once one answers, the key moves into it and the
// file goes, and the history sealed with that key still opens.
TEST_F(PlatformSelectionTest, KeyFileMovesIntoTheKeyringThatAppearedAndTheHistoryStillOpens) {
  {
    KeyFileStore file(keyFile_);
    FrameLibrary::open(data_, file, true, Calendar::utc());
  }
  const std::optional<MasterKey> fileKey = KeyFileStore(keyFile_).load();
  ASSERT_TRUE(fileKey.has_value());

  PlatformKeyStore store(options());

  EXPECT_EQ(store.moveReport().outcome, KeyMoveReport::Outcome::moved);
  EXPECT_FALSE(fs::exists(keyFile_));
  EXPECT_EQ(store.keyFile(), std::nullopt);
  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(*fileKey));
  EXPECT_NE(FrameLibrary::open(data_, store, false, Calendar::utc()), nullptr);
  // The next start finds nothing to move.
  EXPECT_EQ(PlatformKeyStore(options()).moveReport().outcome, KeyMoveReport::Outcome::none);
}

// The keyring already holds a different key for the same service and account: neither is lost.
// The file's key, the one the history was sealed with, stays in use.
TEST_F(PlatformSelectionTest, AKeyringItemWithAnotherKeyIsNeverReplacedAndTheFileStays) {
  KeychainKeyStore(service_, account_).save(keyOf(2));
  {
    KeyFileStore file(keyFile_);
    file.save(keyOf(4));
    FrameLibrary::open(data_, file, true, Calendar::utc());
  }

  PlatformKeyStore store(options());

  EXPECT_EQ(store.moveReport().outcome, KeyMoveReport::Outcome::keptBoth);
  EXPECT_EQ(KeyFileStore(keyFile_).load(), keyOf(4));
  std::vector<StoredItem> items = storedItems(service_, account_);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].secret, bytesOfKey(keyOf(2)));
  EXPECT_EQ(store.keyFile(), keyFile_);
  EXPECT_EQ(store.load(), keyOf(4));
  EXPECT_NE(FrameLibrary::open(data_, store, false, Calendar::utc()), nullptr);

  // Once the file is gone (moved by another start), the keyring's key is the one there is.
  fs::remove(keyFile_);
  EXPECT_EQ(store.load(), keyOf(2));
  EXPECT_EQ(store.keyFile(), std::nullopt);
}

// The keyring's own process stops answering (SIGSTOP) while the history's key is in it.
class StoppedKeyring {
 public:
  StoppedKeyring() {
    GErrorSlot error;
    GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out()));
    EXPECT_TRUE(bus) << (error ? error.get()->message : "");
    GVariantPtr reply(g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID", g_variant_new("(s)", "org.freedesktop.secrets"),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, error.out()));
    EXPECT_TRUE(reply) << (error ? error.get()->message : "");
    if (!reply)
      return;
    guint32 pid = 0;
    g_variant_get(reply.get(), "(u)", &pid);
    pid_ = static_cast<pid_t>(pid);
    EXPECT_EQ(::kill(pid_, SIGSTOP), 0);
  }
  StoppedKeyring(const StoppedKeyring&) = delete;
  StoppedKeyring& operator=(const StoppedKeyring&) = delete;
  ~StoppedKeyring() { resume(); }

  void resume() {
    if (pid_ > 0)
      ::kill(std::exchange(pid_, 0), SIGCONT);
  }

 private:
  pid_t pid_ = 0;
};

TEST_F(PlatformSelectionTest, KeyringThatStopsAnsweringIsUnreachableAndNothingIsWritten) {
  {
    KeychainKeyStore keyring(service_, account_);
    FrameLibrary::open(data_, keyring, true, Calendar::utc());
  }
  const fs::path database = FrameLibrary::databaseURL(data_);
  const auto writtenBefore = fs::last_write_time(database);
  const auto sizeBefore = fs::file_size(database);
  PlatformKeyStoreOptions quick = options();
  quick.probeTimeout = std::chrono::milliseconds(300);
  quick.probeTries = 2;
  quick.reprobeAfter = std::chrono::milliseconds(0);
  testing::TemporaryFolder other;
  const fs::path newData = other.path() / "Vistrel";

  StoppedKeyring stopped;
  PlatformKeyStore store(quick);
  for (auto [folder, create] : {std::pair{data_, false}, std::pair{newData, true}}) {
    SCOPED_TRACE(folder);
    try {
      FrameLibrary::open(folder, store, create, Calendar::utc());
      ADD_FAILURE() << "opened without an answer from the keyring";
    } catch (const VistrelCryptoError& error) {
      EXPECT_EQ(error.kind(), VistrelCryptoError::Kind::unreachable);
      EXPECT_EQ(std::string(error.what()).find("Delete"), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("The history is intact"), std::string::npos);
    }
  }
  EXPECT_FALSE(fs::exists(keyFile_)) << "a silent keyring never leads to a key file";
  EXPECT_FALSE(fs::exists(newData));
  EXPECT_EQ(fs::last_write_time(database), writtenBefore);
  EXPECT_EQ(fs::file_size(database), sizeBefore);

  // Once it answers again, the same store finds it and the history opens with its key.
  stopped.resume();
  EXPECT_NE(FrameLibrary::open(data_, store, false, Calendar::utc()), nullptr);
  EXPECT_FALSE(fs::exists(keyFile_));
}

}  // namespace
}  // namespace vistrel
