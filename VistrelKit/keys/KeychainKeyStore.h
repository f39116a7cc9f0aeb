#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "VistrelKit/keys/KeyStore.h"

namespace vistrel {

// The service and account under which the application keeps its master key.
inline constexpr std::string_view keyStoreService = "com.tevrin77.Vistrel";
inline constexpr std::string_view historyKeyAccount = "history-key";

// Keeps the master key in the freedesktop Secret Service (GNOME Keyring, KWallet, KeePassXC, ...)
// as one item with the attributes `service` and `account`, labelled "Vistrel history key", in the
// default collection. The secret is the 32 raw key bytes ("application/octet-stream").
//
// Items are matched by `service` and `account` only, in every collection, so an item written by
// another client (secret-tool) with the same attributes is the same item.
//
// load: no matching item = none. A matching item whose secret is not exactly 32 bytes fails with
// status 0 and is left as it is. A locked item is unlocked first (the service may prompt).
// save: removes every matching item, then stores the new one; a failed removal fails the save,
// because a stale key left in another collection could otherwise be loaded instead of the new one.
// remove: removes every matching item; none matching is no error.
//
// Failures carry a negative status made from the GLib error:
//   SECRET_ERROR code c   -> -(1000 + c)   e.g. -1002 locked, -1003 no such object
//   G_DBUS_ERROR code c   -> -(2000 + c)   e.g. -2002 service unknown (no Secret Service),
//                                                 -2009 access denied, -2019 unknown method
//   G_IO_ERROR code c     -> -(3000 + c)   e.g. -3018 connection closed, -3019 cancelled
//                                                 (a dismissed prompt), -3024 timed out,
//                                                 -3036 unmapped error of the remote service
//   any other domain      -> -(9000 + c)   c in 0..998; codes outside that range -> -9999
// and two cases without a GLib error:
//   an item that stays locked after the unlock attempt        -> -1002 (as SECRET_ERROR_IS_LOCKED)
//   a call that failed without reporting an error             -> -1000
// Failures that mean the service could not be asked (locked and not unlocked, a dismissed
// prompt, no reply, timed out, gone from the bus, failed to start, access denied) are
// VistrelCryptoError::unreachable with that status; the rest are keychain.
// (KeyFileStore's statuses are -errno, so the two stores never share a number.)
//
// Safe to call from any thread: libsecret's synchronous calls run their own main context, and
// the operations of all KeychainKeyStore objects in the process run one at a time, because each
// is several calls to the service (a load waiting for an unlock prompt holds up the others).
// An item deleted by another process between finding and reading it is looked up again.
class KeychainKeyStore : public KeyStore {
 public:
  // keyringLabel names the default collection for description() ("Login"); empty = unknown.
  KeychainKeyStore(std::string service, std::string account, std::string keyringLabel = {});

  std::optional<MasterKey> load() override;
  void save(const MasterKey& key) override;
  void remove() override;
  // "Secret Service (Login keyring)", or "Secret Service (default keyring)" when the label is
  // unknown.
  std::string description() const override;

  const std::string& service() const { return service_; }
  const std::string& account() const { return account_; }

 private:
  std::string service_;
  std::string account_;
  std::string keyringLabel_;
};

// The status for a GLib error of the given domain (a GQuark) and code, as in the table above.
std::int32_t secretServiceStatus(std::uint32_t domain, int code);

}  // namespace vistrel
