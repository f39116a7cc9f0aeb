#include "VistrelKit/keys/KeychainKeyStore.h"

#include <libsecret/secret.h>
#include <openssl/crypto.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "VistrelKit/keys/GLibHandles.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {
namespace {

using SecretValuePtr = std::unique_ptr<SecretValue, GLibRelease<secret_value_unref>>;

// Each operation is several Secret Service calls (search, read or delete, store). Running them
// one at a time within the process keeps a save from deleting the item another thread is
// reading; other processes are covered by retryingVanishedItems.
std::mutex operationMutex;

constexpr char itemLabel[] = "Vistrel history key";
constexpr char contentType[] = "application/octet-stream";
constexpr std::int32_t lockedStatus = -1002;
constexpr std::int32_t unexplainedStatus = -1000;

// DONT_MATCH_NAME: lookups match on service and account alone, not on the xdg:schema attribute
// that libsecret adds when storing, so an item written by another client is found too.
const SecretSchema itemSchema = {
    "com.tevrin77.Vistrel.Password",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
};

// Failures that say the service could not be asked (locked and not unlocked, gone, silent,
// refusing us) rather than anything about the item: the key may well be there.
bool meansUnreachable(const GError* error) {
  if (error->domain == SECRET_ERROR)
    return error->code == SECRET_ERROR_IS_LOCKED;
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_CANCELLED:  // the unlock prompt was dismissed
      case G_IO_ERROR_TIMED_OUT:
      case G_IO_ERROR_CLOSED:
      case G_IO_ERROR_NOT_CONNECTED:
      case G_IO_ERROR_CONNECTION_REFUSED:
      case G_IO_ERROR_BROKEN_PIPE:
      case G_IO_ERROR_NOT_FOUND:  // the bus's socket is gone
        return true;
      default:
        return false;
    }
  }
  if (error->domain == G_DBUS_ERROR) {
    switch (error->code) {
      case G_DBUS_ERROR_SERVICE_UNKNOWN:
      case G_DBUS_ERROR_NAME_HAS_NO_OWNER:
      case G_DBUS_ERROR_NO_REPLY:
      case G_DBUS_ERROR_TIMEOUT:
      case G_DBUS_ERROR_TIMED_OUT:
      case G_DBUS_ERROR_DISCONNECTED:
      case G_DBUS_ERROR_NO_SERVER:
      case G_DBUS_ERROR_ACCESS_DENIED:
      case G_DBUS_ERROR_SPAWN_EXEC_FAILED:
      case G_DBUS_ERROR_SPAWN_FORK_FAILED:
      case G_DBUS_ERROR_SPAWN_CHILD_EXITED:
      case G_DBUS_ERROR_SPAWN_CHILD_SIGNALED:
      case G_DBUS_ERROR_SPAWN_FAILED:
      case G_DBUS_ERROR_SPAWN_SETUP_FAILED:
      case G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND:
        return true;
      default:
        return false;
    }
  }
  return false;
}

[[noreturn]] void fail(const GErrorSlot& error) {
  if (!error)
    throw VistrelCryptoError::keychain(unexplainedStatus);
  const std::int32_t status = secretServiceStatus(error.get()->domain, error.get()->code);
  if (meansUnreachable(error.get()))
    throw VistrelCryptoError::unreachable(status);
  throw VistrelCryptoError::keychain(status);
}

// An item found by a search was deleted (by another program) before it was read.
bool isAlreadyGone(const GErrorSlot& error) {
  return g_error_matches(error.get(), SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT) ||
         g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT) ||
         g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD);
}

struct ItemVanished {
  std::int32_t status;
};

[[noreturn]] void failOrVanish(const GErrorSlot& error) {
  if (isAlreadyGone(error)) {
    throw ItemVanished{secretServiceStatus(error.get()->domain, error.get()->code)};
  }
  fail(error);
}

// Runs a search-then-read operation again when a found item vanished in between, as happens
// when another program replaces the key at the same moment.
template <typename Operation>
auto retryingVanishedItems(Operation operation) {
  constexpr int attempts = 3;
  for (int attempt = 1;; ++attempt) {
    try {
      return operation();
    } catch (const ItemVanished& vanished) {
      if (attempt == attempts)
        throw VistrelCryptoError::keychain(vanished.status);
    }
  }
}

GObjectPtr<SecretService> connectToService() {
  GErrorSlot error;
  GObjectPtr<SecretService> service(
      secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, error.out()));
  if (!service)
    fail(error);
  // GIO's shared session-bus connection ends the process when the bus goes away; a vanished
  // key store must be an error of the next call instead.
  g_dbus_connection_set_exit_on_close(g_dbus_proxy_get_connection(G_DBUS_PROXY(service.get())),
                                      FALSE);
  return service;
}

// Borrows the strings; the table must not outlive the store.
GHashTablePtr itemAttributes(const std::string& service, const std::string& account) {
  GHashTablePtr table(g_hash_table_new(g_str_hash, g_str_equal));
  g_hash_table_insert(table.get(), const_cast<char*>("service"),
                      const_cast<char*>(service.c_str()));
  g_hash_table_insert(table.get(), const_cast<char*>("account"),
                      const_cast<char*>(account.c_str()));
  return table;
}

// Matching items, unlocked ones first; locked ones are unlocked on the way (the service may
// prompt), and an unlock that fails leaves them locked.
GObjectListPtr findItems(SecretService* service, GHashTable* attributes, int flags) {
  GErrorSlot error;
  GObjectListPtr items(secret_service_search_sync(
      service, &itemSchema, attributes,
      static_cast<SecretSearchFlags>(flags | SECRET_SEARCH_UNLOCK), nullptr, error.out()));
  if (error)
    failOrVanish(error);
  return items;
}

void removeItems(SecretService* service, GHashTable* attributes) {
  GObjectListPtr items = findItems(service, attributes, SECRET_SEARCH_ALL);
  for (GList* entry = items.get(); entry != nullptr; entry = entry->next) {
    GErrorSlot error;
    if (secret_item_delete_sync(SECRET_ITEM(entry->data), nullptr, error.out()))
      continue;
    // Another thread or client removed it between the search and here.
    if (isAlreadyGone(error))
      continue;
    fail(error);
  }
}

std::string keyringName(const std::string& label) {
  if (label.empty())
    return "default keyring";
  constexpr std::string_view suffix = "keyring";
  if (label.size() >= suffix.size() &&
      g_ascii_strcasecmp(label.c_str() + label.size() - suffix.size(), suffix.data()) == 0) {
    return label;
  }
  return label + " keyring";
}

}  // namespace

std::int32_t secretServiceStatus(std::uint32_t domain, int code) {
  if (code < 0 || code > 998)
    return -9999;
  if (domain == SECRET_ERROR)
    return -(1000 + code);
  if (domain == G_DBUS_ERROR)
    return -(2000 + code);
  if (domain == G_IO_ERROR)
    return -(3000 + code);
  return -(9000 + code);
}

KeychainKeyStore::KeychainKeyStore(std::string service, std::string account,
                                   std::string keyringLabel)
    : service_(std::move(service)),
      account_(std::move(account)),
      keyringLabel_(std::move(keyringLabel)) {}

std::optional<MasterKey> KeychainKeyStore::load() {
  std::lock_guard lock(operationMutex);
  GObjectPtr<SecretService> service = connectToService();
  GHashTablePtr attributes = itemAttributes(service_, account_);
  return retryingVanishedItems([&]() -> std::optional<MasterKey> {
    GObjectListPtr items = findItems(service.get(), attributes.get(), SECRET_SEARCH_NONE);
    if (!items)
      return std::nullopt;

    SecretItem* item = SECRET_ITEM(items->data);
    if (secret_item_get_locked(item))
      throw VistrelCryptoError::unreachable(lockedStatus);
    GErrorSlot error;
    if (!secret_item_load_secret_sync(item, nullptr, error.out()))
      failOrVanish(error);

    SecretValuePtr value(secret_item_get_secret(item));
    if (!value)
      throw VistrelCryptoError::keychain(0);
    gsize length = 0;
    const gchar* data = secret_value_get(value.get(), &length);
    if (data == nullptr || length != MasterKey::size)
      throw VistrelCryptoError::keychain(0);

    MasterKey::Storage bytes;
    std::memcpy(bytes.data(), data, bytes.size());
    MasterKey key(bytes);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return key;
  });
}

void KeychainKeyStore::save(const MasterKey& key) {
  std::lock_guard lock(operationMutex);
  GObjectPtr<SecretService> service = connectToService();
  GHashTablePtr attributes = itemAttributes(service_, account_);
  retryingVanishedItems([&] { removeItems(service.get(), attributes.get()); });

  // secret_value_new copies into libsecret's non-pageable memory, which it wipes on release.
  SecretValuePtr value(secret_value_new(reinterpret_cast<const gchar*>(key.bytes().data()),
                                        MasterKey::size, contentType));
  GErrorSlot error;
  if (!secret_service_store_sync(service.get(), &itemSchema, attributes.get(),
                                 SECRET_COLLECTION_DEFAULT, itemLabel, value.get(), nullptr,
                                 error.out())) {
    fail(error);
  }
}

void KeychainKeyStore::remove() {
  std::lock_guard lock(operationMutex);
  GObjectPtr<SecretService> service = connectToService();
  GHashTablePtr attributes = itemAttributes(service_, account_);
  retryingVanishedItems([&] { removeItems(service.get(), attributes.get()); });
}

std::string KeychainKeyStore::description() const {
  return "Secret Service (" + keyringName(keyringLabel_) + ")";
}

}  // namespace vistrel
