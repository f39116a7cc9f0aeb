#include "Vistrel/platform/linux/LinuxEnvironment.h"

#include "Vistrel/platform/linux/X11Hotkeys.h"
#include "Vistrel/platform/linux/X11Probes.h"
#include "Vistrel/platform/linux/XdgAutostart.h"
#include "VistrelKit/base/DataFolder.h"
#include "VistrelKit/keys/PlatformKeyStore.h"

namespace vistrel {

AppEnvironment makeLinuxEnvironment(const LinuxEnvironmentOptions& options) {
  AppEnvironment env;
  env.dataFolder = options.dataFolder.empty() ? defaultDataFolder() : options.dataFolder;
  if (options.keyStore) {
    env.keyStore = options.keyStore;
  } else {
    PlatformKeyStoreOptions keyOptions;
    keyOptions.keyFile = options.keyFile.value_or(std::filesystem::path());
    keyOptions.dataFolder = env.dataFolder;
    env.keyStore = makePlatformKeyStore(keyOptions);
  }
  auto probes = std::make_shared<X11Probes>();
  env.probes = probes;
  env.runningApps = probes;
  if (options.hotkeys)
    env.hotkeys = std::make_unique<X11Hotkeys>();
  else
    env.hotkeys = std::make_unique<NoHotkeys>();
  env.clipboard = options.clipboard;
  if (!env.clipboard)
    env.clipboard = std::make_shared<UnavailableClipboard>();
  env.loginItem = std::make_shared<XdgAutostart>(options.executable);
  env.clock = std::make_shared<SystemClock>();
  env.ownBundleID = ownApplicationID;
  return env;
}

}  // namespace vistrel
