#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/MemoryKeyStore.h"
#include "VistrelKit/keys/PlatformKeyStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

// Runs without any session bus of its own; the selection with a real Secret Service is covered
// in KeychainKeyStoreSuite.cpp, which runs inside a private bus.

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A socket that accepts connections into its backlog and never says a word.
class SilentSocket {
 public:
  explicit SilentSocket(const fs::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
             ::listen(fd_, 4) == 0;
  }
  SilentSocket(const SilentSocket&) = delete;
  SilentSocket& operator=(const SilentSocket&) = delete;
  ~SilentSocket() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  bool bound() const { return bound_; }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

class PlatformKeyStoreTest : public ::testing::Test {
 protected:
  fs::path defaultKeyFile() const { return root_ / "config" / "Vistrel" / "history-key"; }

  testing::TemporaryFolder folder_;
  const fs::path& root_ = folder_.path();
  ScopedEnvironment config_{"XDG_CONFIG_HOME", (root_ / "config").c_str()};
};

TEST_F(PlatformKeyStoreTest, SessionBusAddressLeadingNowhereMeansKeyFileAtOnce) {
  std::string address = "unix:path=" + (root_ / "no-bus-here").string();
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address.c_str());

  auto started = Clock::now();
  SecretServiceProbe probe = probeSecretService(milliseconds(5000));
  std::unique_ptr<PlatformKeyStore> store =
      makePlatformKeyStore({.probeTimeout = milliseconds(5000)});
  auto elapsed = Clock::now() - started;

  EXPECT_EQ(probe.presence, SecretServiceProbe::Presence::absent);
  EXPECT_EQ(store->keyFile(), defaultKeyFile());
  EXPECT_TRUE(store->keptWithoutKeyring());
  EXPECT_EQ(store->description(),
            "Key file " + defaultKeyFile().string() + " (no keyring on this desktop)");
  EXPECT_LT(elapsed, milliseconds(1000)) << "waited for a bus that cannot exist";
}

// Without any keyring to ask, an existing history whose key file is gone may have its key in a
// keyring that is not running here: that is never reported as a lost key.
TEST_F(PlatformKeyStoreTest, WithoutAKeyringAMissingKeyFileIsNotALostKey) {
  std::string address = "unix:path=" + (root_ / "no-bus-here").string();
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address.c_str());
  fs::path data = root_ / "share" / "Vistrel";
  {
    MemoryKeyStore elsewhere;
    FrameLibrary::open(data, elsewhere, true, Calendar::utc());
  }
  std::unique_ptr<PlatformKeyStore> store = makePlatformKeyStore({.dataFolder = data});
  try {
    FrameLibrary::open(data, *store, true, Calendar::utc());
    FAIL() << "opened without a key";
  } catch (const VistrelCryptoError& error) {
    EXPECT_EQ(error.kind(), VistrelCryptoError::Kind::unreachable);
    EXPECT_EQ(std::string(error.what()).find("Delete"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(fs::exists(defaultKeyFile())) << "no new key for an existing history";
}

// A bus that takes the connection and then says nothing may still have a keyring behind it: no
// key file is made, nothing is written, and every use says the key store is unreachable.
TEST_F(PlatformKeyStoreTest, SilentBusLeavesNoKeyFileAndEveryUseSaysUnreachable) {
  SilentSocket silent(root_ / "silent");
  ASSERT_TRUE(silent.bound());
  std::string address = "unix:path=" + (root_ / "silent").string();
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address.c_str());
  fs::path data = root_ / "share" / "Vistrel";

  std::unique_ptr<PlatformKeyStore> store = makePlatformKeyStore(
      {.dataFolder = data, .probeTimeout = milliseconds(100), .probeTries = 2});
  EXPECT_EQ(store->keyFile(), std::nullopt);
  EXPECT_FALSE(store->keptWithoutKeyring());
  try {
    FrameLibrary::open(data, *store, true, Calendar::utc());
    FAIL() << "created a history without a key store";
  } catch (const VistrelCryptoError& error) {
    EXPECT_EQ(error.kind(), VistrelCryptoError::Kind::unreachable);
    EXPECT_EQ(error.status(), -3024);
  }
  EXPECT_FALSE(fs::exists(defaultKeyFile()));
  EXPECT_FALSE(fs::exists(data)) << "nothing is written for a history that could not be made";
  EXPECT_THROW(store->remove(), VistrelCryptoError);
}

TEST_F(PlatformKeyStoreTest, NoSessionBusAtAllMeansKeyFileWithoutAutolaunching) {
  fs::create_directories(root_ / "runtime");
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
  ScopedEnvironment runtime("XDG_RUNTIME_DIR", (root_ / "runtime").c_str());
  ScopedEnvironment display("DISPLAY", nullptr);

  auto started = Clock::now();
  std::unique_ptr<PlatformKeyStore> store =
      makePlatformKeyStore({.probeTimeout = milliseconds(5000)});
  EXPECT_LT(Clock::now() - started, milliseconds(1000));
  EXPECT_EQ(store->keyFile(), defaultKeyFile());
  EXPECT_TRUE(store->keptWithoutKeyring());
}

TEST_F(PlatformKeyStoreTest, BusThatNeverAnswersIsGivenUpAtTheTimeout) {
  SilentSocket silent(root_ / "silent");
  ASSERT_TRUE(silent.bound());
  std::string address = "unix:path=" + (root_ / "silent").string();
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address.c_str());

  auto started = Clock::now();
  SecretServiceProbe probe = probeSecretService(milliseconds(300));
  auto elapsed = Clock::now() - started;

  EXPECT_EQ(probe.presence, SecretServiceProbe::Presence::unreachable);
  EXPECT_EQ(probe.status, -3024);
  EXPECT_GE(elapsed, milliseconds(250));
  EXPECT_LT(elapsed, milliseconds(3000));
}

TEST_F(PlatformKeyStoreTest, ExplicitKeyFileIsUsedAsGiven) {
  fs::path chosen = root_ / "elsewhere" / "my-key";
  std::unique_ptr<PlatformKeyStore> store = makePlatformKeyStore({.keyFile = chosen});
  EXPECT_EQ(store->keyFile(), chosen);
  EXPECT_FALSE(store->keptWithoutKeyring());
  EXPECT_EQ(store->description(), "Key file " + chosen.string());
}

TEST_F(PlatformKeyStoreTest, KeyFileInsideTheDataFolderIsRefused) {
  fs::path data = root_ / "share" / "Vistrel";
  for (fs::path inside :
       {data / "history-key", data / "sub" / ".." / "key", data / "frames" / "k"}) {
    SCOPED_TRACE(inside);
    EXPECT_THROW(makePlatformKeyStore({.keyFile = inside, .dataFolder = data}),
                 KeyFileLocationError);
  }
  // Through a symbolic link into the data folder.
  fs::create_directories(data);
  fs::create_symlink(data, root_ / "link");
  EXPECT_THROW(makePlatformKeyStore({.keyFile = root_ / "link" / "key", .dataFolder = data}),
               KeyFileLocationError);
  // The same leading characters are not the same folder.
  EXPECT_NO_THROW(
      makePlatformKeyStore({.keyFile = root_ / "share" / "Vistrel-key", .dataFolder = data}));
}

TEST_F(PlatformKeyStoreTest, DefaultKeyFileInsideTheDataFolderIsRefusedToo) {
  std::string address = "unix:path=" + (root_ / "no-bus-here").string();
  ScopedEnvironment bus("DBUS_SESSION_BUS_ADDRESS", address.c_str());
  EXPECT_THROW(makePlatformKeyStore({.dataFolder = root_ / "config"}), KeyFileLocationError);
  EXPECT_NO_THROW(makePlatformKeyStore({.dataFolder = root_ / "share" / "Vistrel"}));
}

}  // namespace
}  // namespace vistrel
