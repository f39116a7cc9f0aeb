#include "VistrelKit/keys/PlatformKeyStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <system_error>

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

GObjectPtr<GDBusConnection> connectToSessionBus(BoundedCalls& calls) {
  GErrorSlot error;
  GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, error.out()));
  // Autolaunch would start a fresh bus through X11 rather than find the session's.
  if (!address || g_str_has_prefix(address.get(), "autolaunch:"))
    return nullptr;

  GObjectPtr<GAsyncResult> result = calls.run([&](GAsyncReadyCallback done, gpointer slot) {
    g_dbus_connection_new_for_address(
        address.get(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, calls.cancellable(), done, slot);
  });
  return GObjectPtr<GDBusConnection>(
      g_dbus_connection_new_for_address_finish(result.get(), error.out()));
}

GVariantPtr callMethod(BoundedCalls& calls, GDBusConnection* connection, const char* path,
                       const char* interface, const char* method, GVariant* parameters,
                       const GVariantType* replyType) {
  GObjectPtr<GAsyncResult> result = calls.run([&](GAsyncReadyCallback done, gpointer slot) {
    g_dbus_connection_call(connection, secretsName, path, interface, method, parameters, replyType,
                           G_DBUS_CALL_FLAGS_NONE, calls.remainingMilliseconds(),
                           calls.cancellable(), done, slot);
  });
  GErrorSlot error;
  return GVariantPtr(g_dbus_connection_call_finish(connection, result.get(), error.out()));
}

std::string readKeyringLabel(BoundedCalls& calls, GDBusConnection* connection,
                             const char* collectionPath) {
  if (g_strcmp0(collectionPath, "/") == 0)
    return {};
  GVariantPtr reply = callMethod(
      calls, connection, collectionPath, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", "org.freedesktop.Secret.Collection", "Label"), G_VARIANT_TYPE("(v)"));
  if (!reply)
    return {};
  GVariant* boxed = nullptr;
  g_variant_get(reply.get(), "(v)", &boxed);
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

std::unique_ptr<KeyStore> keyFileStore(const std::filesystem::path& path,
                                       const std::filesystem::path& dataFolder) {
  if (!dataFolder.empty() && isInside(path, dataFolder)) {
    throw KeyFileLocationError("The key file " + path.string() +
                               " must not be inside the data folder " + dataFolder.string() + ".");
  }
  return std::make_unique<KeyFileStore>(path);
}

}  // namespace

SecretServiceProbe probeSecretService(std::chrono::milliseconds timeout) {
  BoundedCalls calls(Clock::now() + timeout);
  GObjectPtr<GDBusConnection> connection = connectToSessionBus(calls);
  if (!connection)
    return {};

  // ReadAlias is a method of the Secret Service itself, so a reply proves more than an owned
  // bus name would; the call also lets the bus start an installed but idle service.
  GVariantPtr alias =
      callMethod(calls, connection.get(), secretsPath, "org.freedesktop.Secret.Service",
                 "ReadAlias", g_variant_new("(s)", "default"), G_VARIANT_TYPE("(o)"));
  SecretServiceProbe probe;
  if (alias) {
    probe.answered = true;
    const char* collectionPath = nullptr;
    g_variant_get(alias.get(), "(&o)", &collectionPath);
    probe.keyringLabel = readKeyringLabel(calls, connection.get(), collectionPath);
  }
  g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
  return probe;
}

std::unique_ptr<KeyStore> makePlatformKeyStore(const PlatformKeyStoreOptions& options) {
  if (!options.keyFile.empty())
    return keyFileStore(options.keyFile, options.dataFolder);

  std::filesystem::path defaultFile = KeyFileStore::defaultPath();
  if (pathExists(defaultFile))
    return keyFileStore(defaultFile, options.dataFolder);

  SecretServiceProbe probe = probeSecretService(options.probeTimeout);
  if (probe.answered) {
    return std::make_unique<KeychainKeyStore>(options.service, options.account, probe.keyringLabel);
  }
  return keyFileStore(defaultFile, options.dataFolder);
}

}  // namespace vistrel
