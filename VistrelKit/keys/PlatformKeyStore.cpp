#include "VistrelKit/keys/PlatformKeyStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <system_error>
#include <thread>

#include "VistrelKit/keys/GLibHandles.h"
#include "VistrelKit/keys/KeyFileStore.h"

namespace vistrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char secretsName[] = "org.freedesktop.secrets";
constexpr char secretsPath[] = "/org/freedesktop/secrets";

// Runs GIO's asynchronous calls on a private main context until they finish, cancelling
// whatever is still running at the deadline. Every call is waited for to its callback, so
// nothing outlives the probe.
class BoundedCalls {
 public:
  explicit BoundedCalls(Clock::time_point deadline)
      : cancellable_(g_cancellable_new()),
        timer_(g_timeout_source_new(static_cast<guint>(std::max<std::int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                   .count())))),
        deadline_(deadline) {
    g_source_set_callback(timer_.get(), &BoundedCalls::onDeadline, cancellable_.get(), nullptr);
    g_source_attach(timer_.get(), context_.get());
  }
  BoundedCalls(const BoundedCalls&) = delete;
  BoundedCalls& operator=(const BoundedCalls&) = delete;
  ~BoundedCalls() { g_source_destroy(timer_.get()); }

  GCancellable* cancellable() const { return cancellable_.get(); }

  int remainingMilliseconds() const {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(1, left.count()));
  }

  // Starts an operation with the given callback slot and waits for its result.
  template <typename Start>
  GObjectPtr<GAsyncResult> run(Start start) {
    GAsyncResult* result = nullptr;
    start(&BoundedCalls::onResult, &result);
    while (result == nullptr)
      g_main_context_iteration(context_.get(), TRUE);
    return GObjectPtr<GAsyncResult>(result);
  }

 private:
  static gboolean onDeadline(gpointer cancellable) {
    g_cancellable_cancel(static_cast<GCancellable*>(cancellable));
    return G_SOURCE_REMOVE;
  }

  static void onResult(GObject*, GAsyncResult* result, gpointer slot) {
    *static_cast<GAsyncResult**>(slot) = G_ASYNC_RESULT(g_object_ref(result));
  }

  ThreadDefaultContext context_;
  GObjectPtr<GCancellable> cancellable_;
  GSourcePtr timer_;
  Clock::time_point deadline_;
};

// The session bus, or null with `probe` saying why: no bus at all (absent) or one that did not
// let us in before the deadline (unreachable).
GObjectPtr<GDBusConnection> connectToSessionBus(BoundedCalls& calls, SecretServiceProbe& probe) {
  GErrorSlot error;
  GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, error.out()));
  // Autolaunch would start a fresh bus through X11 rather than find the session's.
  if (!address || g_str_has_prefix(address.get(), "autolaunch:"))
    return nullptr;

  // Not opened as a message-bus connection: GIO would then wait for the bus's greeting (Hello)
  // with its own 25 s timeout, past our deadline. The greeting is sent below as a bounded call.
  GObjectPtr<GAsyncResult> result = calls.run([&](GAsyncReadyCallback done, gpointer slot) {
    g_dbus_connection_new_for_address(address.get(), G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT,
                                      nullptr, calls.cancellable(), done, slot);
  });
  GObjectPtr<GDBusConnection> connection(
      g_dbus_connection_new_for_address_finish(result.get(), error.out()));
  const auto silent = [&](const GError* failure) {
    return g_error_matches(failure, G_IO_ERROR, G_IO_ERROR_CANCELLED) ||
           g_error_matches(failure, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
           g_error_matches(failure, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY);
  };
  // A socket nobody listens on means no bus; one that took us in and then fell silent is a bus
  // that may yet answer.
  if (!connection) {
    if (silent(error.get())) {
      probe.presence = SecretServiceProbe::Presence::unreachable;
      probe.status = secretServiceStatus(G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
    }
    return nullptr;
  }
  GObjectPtr<GAsyncResult> greeted = calls.run([&](GAsyncReadyCallback done, gpointer slot) {
    g_dbus_connection_call(connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "Hello", nullptr, G_VARIANT_TYPE("(s)"),
                           G_DBUS_CALL_FLAGS_NONE, calls.remainingMilliseconds(),
                           calls.cancellable(), done, slot);
  });
  GErrorSlot helloError;
  GVariantPtr name(
      g_dbus_connection_call_finish(connection.get(), greeted.get(), helloError.out()));
  if (!name) {
    probe.presence = SecretServiceProbe::Presence::unreachable;
    probe.status = silent(helloError.get())
                       ? secretServiceStatus(G_IO_ERROR, G_IO_ERROR_TIMED_OUT)
                       : secretServiceStatus(helloError.get()->domain, helloError.get()->code);
    g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
    return nullptr;
  }
  return connection;
}

struct Reply {
  GVariantPtr value;
  GErrorSlot error;
};

void callMethod(BoundedCalls& calls, GDBusConnection* connection, const char* path,
                const char* interface, const char* method, GVariant* parameters,
                const GVariantType* replyType, Reply& reply) {
  GObjectPtr<GAsyncResult> result = calls.run([&](GAsyncReadyCallback done, gpointer slot) {
    g_dbus_connection_call(connection, secretsName, path, interface, method, parameters, replyType,
                           G_DBUS_CALL_FLAGS_NONE, calls.remainingMilliseconds(),
                           calls.cancellable(), done, slot);
  });
  reply.value.reset(g_dbus_connection_call_finish(connection, result.get(), reply.error.out()));
}

// How a failed call to the Secret Service's name reads: the bus saying nobody has the name and
// nobody can be started for it is a certain absence; silence, or a service that was found but
// failed to start, is unreachable; any other error came from a service that is there.
SecretServiceProbe::Presence presenceAfterError(const GError* error) {
  using Presence = SecretServiceProbe::Presence;
  if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
    return Presence::absent;
  if (error->domain == G_IO_ERROR)
    return Presence::unreachable;
  if (error->domain == G_DBUS_ERROR) {
    switch (error->code) {
      case G_DBUS_ERROR_NO_REPLY:
      case G_DBUS_ERROR_TIMEOUT:
      case G_DBUS_ERROR_TIMED_OUT:
      case G_DBUS_ERROR_DISCONNECTED:
      case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
      case G_DBUS_ERROR_SPAWN_FORK_FAILED:
      case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
      case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
      case G_DBUS_ERROR_SPAWN_FAILED:
      case G_DBUS_ERROR_SPAWN_SETUP_FAILED:
      case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        return Presence::unreachable;
      default:
        break;
    }
  }
  return Presence::answered;
}

std::string readKeyringLabel(BoundedCalls& calls, GDBusConnection* connection,
                             const char* collectionPath) {
  if (g_strcmp0(collectionPath, "/") == 0)
    return {};
  Reply reply;
  callMethod(calls, connection, collectionPath, "org.freedesktop.DBus.Properties", "Get",
             g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Label"),
             G_VARIANT_TYPE("(v)"), reply);
  if (!reply.value)
    return {};
  GVariant* boxed = nullptr;
  g_variant_get(reply.value.get(), "(v)", &boxed);
  GVariantPtr value(boxed);
  if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING))
    return {};
  return g_variant_get_string(value.get(), nullptr);
}

bool pathExists(const std::filesystem::path& path) {
  struct stat info {};
  return !path.empty() && ::lstat(path.c_str(), &info) == 0;
}

bool isInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
  std::error_code ignored;
  std::filesystem::path base = folder.has_filename() ? folder : folder.parent_path();
  std::filesystem::path relative =
      std::filesystem::weakly_canonical(path, ignored)
          .lexically_relative(std::filesystem::weakly_canonical(base, ignored));
  return !relative.empty() && *relative.begin() != "..";
}

void checkKeyFileLocation(const std::filesystem::path& path,
                          const std::filesystem::path& dataFolder) {
  if (!dataFolder.empty() && isInside(path, dataFolder)) {
    throw KeyFileLocationError("The key file " + path.string() +
                               " must not be inside the data folder " + dataFolder.string() + ".");
  }
}

}  // namespace

SecretServiceProbe probeSecretService(std::chrono::milliseconds timeout) {
  BoundedCalls calls(Clock::now() + timeout);
  SecretServiceProbe probe;
  GObjectPtr<GDBusConnection> connection = connectToSessionBus(calls, probe);
  if (!connection)
    return probe;

  // ReadAlias is a method of the Secret Service itself, so a reply proves more than an owned
  // bus name would; the call also lets the bus start an installed but idle service.
  Reply alias;
  callMethod(calls, connection.get(), secretsPath, "org.freedesktop.Secret.Service", "ReadAlias",
             g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"), alias);
  if (alias.value) {
    probe.presence = SecretServiceProbe::Presence::answered;
    const char* collectionPath = nullptr;
    g_variant_get(alias.value.get(), "(&o)", &collectionPath);
    probe.keyringLabel = readKeyringLabel(calls, connection.get(), collectionPath);
  } else if (alias.error) {
    probe.presence = presenceAfterError(alias.error.get());
    // The deadline shows as a cancelled call; it is a timeout all the same.
    probe.status = g_error_matches(alias.error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)
                       ? secretServiceStatus(G_IO_ERROR, G_IO_ERROR_TIMED_OUT)
                       : secretServiceStatus(alias.error.get()->domain, alias.error.get()->code);
  }
  g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
  return probe;
}

SecretServiceProbe findSecretService(const PlatformKeyStoreOptions& options) {
  SecretServiceProbe probe;
  for (int attempt = 1;; ++attempt) {
    probe = probeSecretService(options.probeTimeout);
    if (probe.presence != SecretServiceProbe::Presence::unreachable ||
        attempt >= options.probeTries)
      return probe;
    std::this_thread::sleep_for(options.probePause);
  }
}

PlatformKeyStore::PlatformKeyStore(PlatformKeyStoreOptions options)
    : options_(std::move(options)), defaultFile_(KeyFileStore::defaultPath()) {
  std::lock_guard lock(mutex_);
  if (!options_.keyFile.empty()) {
    useFile(Choice::chosenFile);
    return;
  }
  choose(findSecretService(options_));
}

KeyFileStore& PlatformKeyStore::useFile(Choice choice) {
  const std::filesystem::path& path =
      choice == Choice::chosenFile ? options_.keyFile : defaultFile_;
  checkKeyFileLocation(path, options_.dataFolder);
  if (!file_ || file_->path() != path)
    file_ = std::make_unique<KeyFileStore>(path);
  choice_ = choice;
  return *file_;
}

void PlatformKeyStore::choose(const SecretServiceProbe& probe) {
  lastProbe_ = std::chrono::steady_clock::now();
  switch (probe.presence) {
    case SecretServiceProbe::Presence::answered:
      keychain_ = std::make_unique<KeychainKeyStore>(options_.service, options_.account,
                                                     probe.keyringLabel);
      choice_ = Choice::keyring;
      if (pathExists(defaultFile_))
        moveIntoKeyring();
      return;
    case SecretServiceProbe::Presence::absent:
      useFile(Choice::fileWithoutKeyring);
      return;
    case SecretServiceProbe::Presence::unreachable:
      // A key file already holds the key: nothing is created, so the silent keyring can wait
      // for a later start to receive it.
      if (pathExists(defaultFile_)) {
        useFile(Choice::fileBesideKeyring);
        return;
      }
      choice_ = Choice::unresolved;
      unreachableStatus_ = probe.status;
      return;
  }
}

void PlatformKeyStore::moveIntoKeyring() {
  KeyFileStore& file = useFile(Choice::fileBesideKeyring);
  moveReport_.keyFile = file.path();
  std::optional<MasterKey> fileKey;
  try {
    fileKey = file.load();
  } catch (const VistrelCryptoError&) {
    // A key file that does not read stays as it is and in use, so its own error is what the
    // library reports; nothing of it reaches the keyring.
    return;
  }
  if (!fileKey) {
    choice_ = Choice::keyring;  // removed since we looked
    return;
  }
  try {
    std::optional<MasterKey> held = keychain_->load();
    if (!held) {
      // create() reads the item back, so what it returns is what the keyring really holds.
      held = keychain_->create(*fileKey);
    }
    if (*held != *fileKey) {
      moveReport_.outcome = KeyMoveReport::Outcome::keptBoth;
      return;
    }
    // Only a key the keyring was seen to hold lets the file go. The file is owner-only and
    // unlinked whole: overwriting it first would leave a readable wrong key behind if we stopped
    // in between.
    file.remove();
  } catch (const VistrelCryptoError& error) {
    moveReport_.outcome = KeyMoveReport::Outcome::failed;
    moveReport_.status = error.status();
    return;
  }
  moveReport_.outcome = KeyMoveReport::Outcome::moved;
  choice_ = Choice::keyring;
}

KeyStore& PlatformKeyStore::current() {
  if (choice_ == Choice::unresolved &&
      std::chrono::steady_clock::now() - lastProbe_ >= options_.reprobeAfter) {
    // One look, not several: callers retry on their own schedule (every capture tick), and a
    // keyring that stays silent must not hold each of them for long.
    choose(probeSecretService(options_.probeTimeout));
  }
  switch (choice_) {
    case Choice::unresolved:
      throw VistrelCryptoError::unreachable(unreachableStatus_);
    case Choice::keyring:
      return *keychain_;
    default:
      return *file_;
  }
}

std::optional<MasterKey> PlatformKeyStore::load() {
  std::lock_guard lock(mutex_);
  std::optional<MasterKey> key = current().load();
  if (!key && choice_ == Choice::fileBesideKeyring && keychain_) {
    // The file went since start-up: another start moved the key (a file goes only once the
    // keyring was seen to hold its key), so the keyring is where it is now.
    choice_ = Choice::keyring;
    return keychain_->load();
  }
  return key;
}

void PlatformKeyStore::save(const MasterKey& key) {
  std::lock_guard lock(mutex_);
  current().save(key);
}

MasterKey PlatformKeyStore::create(const MasterKey& candidate) {
  std::lock_guard lock(mutex_);
  if (choice_ == Choice::fileWithoutKeyring && !pathExists(defaultFile_)) {
    // The bus was asked at start-up, perhaps long ago: a keyring started since gets the key.
    choose(findSecretService(options_));
    if (choice_ == Choice::fileWithoutKeyring) {
      MasterKey created = file_->create(candidate);
      createdFileWithoutKeyring_ = true;
      return created;
    }
  }
  return current().create(candidate);
}

void PlatformKeyStore::remove() {
  std::lock_guard lock(mutex_);
  KeyStore& store = current();
  store.remove();
  if (choice_ == Choice::fileBesideKeyring && keychain_) {
    keychain_->remove();
    choice_ = Choice::keyring;
  }
}

std::string PlatformKeyStore::description() const {
  std::lock_guard lock(mutex_);
  switch (choice_) {
    case Choice::unresolved:
      return "Secret Service (not answering)";
    case Choice::keyring:
      return keychain_->description();
    case Choice::fileWithoutKeyring:
      return file_->description() + " (no keyring on this desktop)";
    default:
      return file_->description();
  }
}

VistrelCryptoError PlatformKeyStore::noKeyError() const {
  std::lock_guard lock(mutex_);
  if (choice_ == Choice::fileWithoutKeyring)
    return VistrelCryptoError::unreachable(
        secretServiceStatus(G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN));
  return VistrelCryptoError::wrongKey();
}

std::optional<std::filesystem::path> PlatformKeyStore::keyFile() const {
  std::lock_guard lock(mutex_);
  if (choice_ == Choice::unresolved || choice_ == Choice::keyring)
    return std::nullopt;
  return file_->path();
}

bool PlatformKeyStore::keptWithoutKeyring() const {
  std::lock_guard lock(mutex_);
  return choice_ == Choice::fileWithoutKeyring;
}

KeyMoveReport PlatformKeyStore::moveReport() const {
  std::lock_guard lock(mutex_);
  return moveReport_;
}

bool PlatformKeyStore::createdKeyFileWithoutKeyring() const {
  std::lock_guard lock(mutex_);
  return createdFileWithoutKeyring_;
}

std::unique_ptr<PlatformKeyStore> makePlatformKeyStore(const PlatformKeyStoreOptions& options) {
  return std::make_unique<PlatformKeyStore>(options);
}

}  // namespace vistrel
