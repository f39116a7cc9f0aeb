#include <gtest/gtest.h>

#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {
namespace {

// Counts what reaches the store and can be told to fail, so loadOrCreate's use of it shows.
class RecordingKeyStore : public KeyStore {
 public:
  std::optional<MasterKey> load() override {
    ++loads;
    if (loadFailure) {
      throw VistrelCryptoError::keychain(*loadFailure);
    }
    return inner.load();
  }
  void save(const MasterKey& key) override {
    ++saves;
    if (saveFailure) {
      throw VistrelCryptoError::keychain(*saveFailure);
    }
    inner.save(key);
  }
  void remove() override { inner.remove(); }
  std::string description() const override { return inner.description(); }

  MemoryKeyStore inner;
  std::optional<std::int32_t> loadFailure;
  std::optional<std::int32_t> saveFailure;
  int loads = 0;
  int saves = 0;
};

TEST(MemoryKeyStoreTest, HoldsLoadsReplacesAndRemovesTheKey) {
  const MasterKey first = generateKey();
  const MasterKey second = generateKey();
  MemoryKeyStore store(first);
  EXPECT_EQ(store.load(), first);
  store.save(second);
  EXPECT_EQ(store.load(), second);
  store.remove();
  EXPECT_EQ(store.load(), std::nullopt);
  store.remove();
  EXPECT_EQ(store.load(), std::nullopt);
  EXPECT_EQ(MemoryKeyStore().load(), std::nullopt);
}

TEST(LoadOrCreateTest, CreatesAndSavesOnceWhenAllowed) {
  RecordingKeyStore store;
  const auto created = loadOrCreate(store, true);
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(store.saves, 1);
  EXPECT_EQ(store.inner.load(), created);

  EXPECT_EQ(loadOrCreate(store, true), created);
  EXPECT_EQ(store.saves, 1);
}

TEST(LoadOrCreateTest, ReturnsNothingAndCreatesNothingWhenNotAllowed) {
  RecordingKeyStore store;
  EXPECT_EQ(loadOrCreate(store, false), std::nullopt);
  EXPECT_EQ(store.saves, 0);
  EXPECT_EQ(store.inner.load(), std::nullopt);
}

TEST(LoadOrCreateTest, ReturnsTheStoredKeyEvenWhenCreationIsNotAllowed) {
  RecordingKeyStore store;
  const MasterKey key = generateKey();
  store.inner.save(key);
  EXPECT_EQ(loadOrCreate(store, false), key);
  EXPECT_EQ(store.saves, 0);
}

TEST(LoadOrCreateTest, PassesLoadAndSaveFailuresOn) {
  RecordingKeyStore failingLoad;
  failingLoad.loadFailure = -25293;
  try {
    loadOrCreate(failingLoad, true);
    ADD_FAILURE() << "expected the load failure";
  } catch (const VistrelCryptoError& error) {
    EXPECT_EQ(error, VistrelCryptoError::keychain(-25293));
  }
  EXPECT_EQ(failingLoad.saves, 0);

  RecordingKeyStore failingSave;
  failingSave.saveFailure = -4;
  try {
    loadOrCreate(failingSave, true);
    ADD_FAILURE() << "expected the save failure";
  } catch (const VistrelCryptoError& error) {
    EXPECT_EQ(error, VistrelCryptoError::keychain(-4));
  }
  EXPECT_EQ(failingSave.inner.load(), std::nullopt);
}

}  // namespace
}  // namespace vistrel
