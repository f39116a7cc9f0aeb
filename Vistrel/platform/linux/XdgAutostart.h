#pragma once

#include <filesystem>
#include <string>

#include "Vistrel/platform/LoginItem.h"

namespace vistrel {

// Open at Login on a freedesktop desktop: a desktop entry in the user's autostart folder,
// $XDG_CONFIG_HOME/autostart/com.tevrin77.Vistrel.desktop (~/.config when XDG_CONFIG_HOME is
// unset or relative). Enabled means the entry exists and is not marked Hidden.
class XdgAutostart final : public LoginItem {
 public:
  // `executable` is what the entry starts; `file` empty = the default place above.
  explicit XdgAutostart(std::filesystem::path executable, std::filesystem::path file = {});

  static std::filesystem::path defaultFile();

  bool isEnabled() override;
  // On: writes the entry atomically (folders created 0700 when missing). Off: removes it; a
  // missing entry is no error.
  void setEnabled(bool enabled) override;

  const std::filesystem::path& file() const { return file_; }

  // The entry's text for an executable: the path quoted and escaped as desktop entries ask.
  static std::string entryText(const std::filesystem::path& executable);

 private:
  std::filesystem::path executable_;
  std::filesystem::path file_;
};

}  // namespace vistrel
