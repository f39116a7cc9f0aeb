#include "Vistrel/platform/linux/ApplicationIdentity.h"

#include <algorithm>
#include <cctype>

namespace vistrel {
namespace {

std::string desktopIDFromFile(std::string_view file) {
  if (const auto slash = file.rfind('/'); slash != std::string_view::npos) {
    file = file.substr(slash + 1);
  }
  if (file.ends_with(".desktop")) {
    file.remove_suffix(std::string_view(".desktop").size());
  }
  return std::string(file);
}

bool isUUID(std::string_view text) {
  if (text.size() != 36) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) {
      return false;
    }
  }
  return true;
}

// "app-flatpak-org.example.App-12345.scope" → "org.example.App".
std::optional<std::string> flatpakID(std::string_view unit) {
  constexpr std::string_view prefix = "app-flatpak-";
  if (!unit.starts_with(prefix) || !unit.ends_with(".scope")) {
    return std::nullopt;
  }
  unit.remove_prefix(prefix.size());
  unit.remove_suffix(std::string_view(".scope").size());
  const auto dash = unit.rfind('-');
  if (dash == std::string_view::npos || dash == 0 ||
      !std::all_of(unit.begin() + dash + 1, unit.end(),
                   [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    return std::nullopt;
  }
  return std::string(unit.substr(0, dash));
}

// "snap.firefox.firefox.<uuid>.scope", "snap.firefox.firefox-<uuid>.scope" or
// "snap.foo.bar.service" → "firefox_firefox" / "foo_bar", the Snap's desktop ID.
std::optional<std::string> snapID(std::string_view unit) {
  if (!unit.starts_with("snap.")) {
    return std::nullopt;
  }
  unit.remove_prefix(5);
  if (unit.ends_with(".scope")) {
    unit.remove_suffix(6);
  } else if (unit.ends_with(".service")) {
    unit.remove_suffix(8);
  } else {
    return std::nullopt;
  }
  const auto dot = unit.find('.');
  if (dot == std::string_view::npos || dot == 0) {
    return std::nullopt;
  }
  const std::string_view snap = unit.substr(0, dot);
  std::string_view app = unit.substr(dot + 1);
  if (const auto next = app.find('.'); next != std::string_view::npos) {
    app = app.substr(0, next);
  } else if (app.size() > 37 && app[app.size() - 37] == '-' &&
             isUUID(app.substr(app.size() - 36))) {
    app = app.substr(0, app.size() - 37);
  }
  if (app.empty()) {
    return std::nullopt;
  }
  return std::string(snap) + "_" + std::string(app);
}

}  // namespace

std::optional<std::string> sandboxAppIDFromCgroup(std::string_view cgroupText) {
  while (!cgroupText.empty()) {
    const auto end = cgroupText.find('\n');
    std::string_view line = cgroupText.substr(0, end);
    cgroupText = end == std::string_view::npos ? std::string_view() : cgroupText.substr(end + 1);
    // Each line is "hierarchy:controllers:path"; look at every unit along the path.
    const auto colon = line.rfind(':');
    std::string_view path = colon == std::string_view::npos ? line : line.substr(colon + 1);
    while (!path.empty()) {
      const auto slash = path.find('/');
      const std::string_view unit = path.substr(0, slash);
      path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
      if (auto id = flatpakID(unit)) {
        return id;
      }
      if (auto id = snapID(unit)) {
        return id;
      }
    }
  }
  return std::nullopt;
}

ApplicationIdentity identifyApplication(const WindowClaims& claims, DesktopEntries& entries) {
  // The window's own statement comes first; the sandbox ID is read through a process ID that
  // may belong to another PID namespace, so it is trusted only after it.
  std::string declaredID;
  if (!claims.gtkApplicationID.empty()) {
    declaredID = claims.gtkApplicationID;
  } else if (!claims.kdeDesktopFile.empty()) {
    declaredID = desktopIDFromFile(claims.kdeDesktopFile);
  } else {
    declaredID = claims.sandboxAppID;
  }
  if (!declaredID.empty()) {
    if (auto entry = entries.find(declaredID)) {
      return {entry->id, entry->name};
    }
    return {declaredID, claims.wmClass};
  }
  if (claims.wmClass.empty() && claims.wmInstance.empty()) {
    return {};
  }
  if (auto entry = entries.findForWindowClass(claims.wmClass, claims.wmInstance)) {
    return {entry->id, entry->name};
  }
  if (claims.wmClass.empty()) {
    return {claims.wmInstance, claims.wmInstance};
  }
  return {claims.wmClass, claims.wmClass};
}

}  // namespace vistrel
