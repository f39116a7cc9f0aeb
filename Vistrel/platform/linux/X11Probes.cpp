#include "Vistrel/platform/linux/X11Probes.h"

#include <unistd.h>
#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/screensaver.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "Vistrel/platform/linux/ApplicationIdentity.h"
#include "Vistrel/platform/linux/DesktopEntries.h"
#include "Vistrel/platform/linux/PixelScaling.h"
#include "Vistrel/platform/linux/SessionLock.h"
#include "Vistrel/platform/linux/X11Display.h"
#include "Vistrel/platform/linux/X11Screenshot.h"
#include "VistrelKit/base/Texts.h"

namespace vistrel {
namespace {

using x11::ScreenRect;
using x11::TopLevel;
using x11::WindowFacts;
using x11::X11Display;

// Windows whose application is one of these prompts for a password.
constexpr std::array<std::string_view, 7> passwordPromptMarks = {
    "pinentry", "askpass",   "gcr-prompter", "gnome-keyring-prompt",
    "polkit",   "policykit", "kwalletd"};

std::string lowerASCII(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = char(c - 'A' + 'a');
    }
  }
  return text;
}

std::string readFile(const std::string& path) {
  std::ifstream stream(path);
  std::ostringstream text;
  text << stream.rdbuf();
  return std::move(text).str();
}

std::string hostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) {
    return {};
  }
  return name.data();
}

xcb_atom_t internAtom(xcb_connection_t* c, std::string_view name) {
  XcbReply<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 1, std::uint16_t(name.size()), name.data()), nullptr)};
  return reply ? reply->atom : XCB_NONE;
}

std::vector<std::uint32_t> cardinals(const std::optional<x11::Property>& property) {
  std::vector<std::uint32_t> values;
  if (!property || property->format != 32) {
    return values;
  }
  values.resize(property->bytes.size() / 4);
  // An empty list (a window manager sets _NET_WM_STATE so when no state holds) has no buffer
  // to copy from or to.
  if (!values.empty()) {
    std::memcpy(values.data(), property->bytes.data(), values.size() * 4);
  }
  return values;
}

}  // namespace

struct X11Probes::Impl {
  explicit Impl(Options options)
      : options(std::move(options)),
        entries(this->options.applicationFolders.empty() ? DesktopEntries::standardFolders()
                                                         : this->options.applicationFolders,
                DesktopEntries::standardLocale()),
        sessionLock({this->options.sessionBusAddress, this->options.systemBusAddress},
                    this->options.busTimeout),
        host(hostName()),
        pid(std::uint32_t(getpid())) {}

  // The open display, opened again when the last connection broke; null without a server.
  std::shared_ptr<X11Display> display() {
    std::lock_guard lock(mutex);
    if (current && !current->broken()) {
      current->dropQueuedEvents();
      return current;
    }
    current = X11Display::open(options.display);
    return current;
  }

  bool isOwnWindow(const WindowFacts& facts) const {
    return facts.pid == pid && (facts.machine.empty() || facts.machine == host);
  }

  WindowInfo windowInfo(WindowFacts facts) {
    if (isOwnWindow(facts)) {
      const auto entry = entries.find(ownApplicationID);
      return WindowInfo{ownApplicationID, entry ? entry->name : std::string("Vistrel"),
                        facts.title};
    }
    const bool onThisMachine = !facts.machine.empty() && facts.machine == host;
    if (facts.pid && onThisMachine && facts.claims.gtkApplicationID.empty() &&
        facts.claims.kdeDesktopFile.empty()) {
      const std::string cgroup = readFile("/proc/" + std::to_string(*facts.pid) + "/cgroup");
      facts.claims.sandboxAppID = sandboxAppIDFromCgroup(cgroup).value_or(std::string());
    }
    const ApplicationIdentity identity = identifyApplication(facts.claims, entries);
    return WindowInfo{identity.bundleID, identity.name, facts.title};
  }

  bool isExcluded(const ExclusionRules& rules, const WindowFacts& facts) {
    if (isOwnWindow(facts)) {
      return true;
    }
    const WindowInfo info = windowInfo(facts);
    return info.bundleID == ownApplicationID || rules.isExcluded(info);
  }

  // The client window in front: EWMH's active window where a window manager keeps one, else the
  // top-level window holding the input focus.
  std::optional<xcb_window_t> activeWindow(const X11Display& display) {
    xcb_connection_t* c = display.connection();
    const auto check = xcb_get_property(c, 0, display.root, display.atoms.netSupportingWMCheck,
                                        XCB_ATOM_WINDOW, 0, 1);
    const auto active =
        xcb_get_property(c, 0, display.root, display.atoms.netActiveWindow, XCB_ATOM_WINDOW, 0, 1);
    const auto wmCheck = x11::takeProperty(c, check);
    const auto activeWindow = x11::takeProperty(c, active);
    if (wmCheck && wmCheck->cardinal().value_or(XCB_NONE) != XCB_NONE) {
      const auto window = activeWindow ? activeWindow->cardinal() : std::nullopt;
      if (!window || *window == XCB_NONE) {
        return std::nullopt;
      }
      return *window;
    }
    XcbReply<xcb_get_input_focus_reply_t> focus{
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)};
    if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
        focus->focus == display.root) {
      return std::nullopt;
    }
    const xcb_window_t top = x11::topLevelOf(display, focus->focus);
    if (top == XCB_NONE) {
      return std::nullopt;
    }
    const xcb_window_t client = x11::findClients(display, {top}).front();
    return client != XCB_NONE ? client : top;
  }

  Options options;
  DesktopEntries entries;
  SessionLock sessionLock;
  const std::string host;
  const std::uint32_t pid;
  std::mutex mutex;
  std::shared_ptr<X11Display> current;  // GUARDED_BY(mutex)
};

X11Probes::X11Probes() : X11Probes(Options{}) {}

X11Probes::X11Probes(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

X11Probes::~X11Probes() = default;

std::optional<FrontWindow> X11Probes::frontWindow() {
  const auto display = impl_->display();
  if (!display) {
    throw ProbeUnknown::frontWindow();
  }
  const auto window = impl_->activeWindow(*display);
  if (display->broken()) {
    throw ProbeUnknown::frontWindow();
  }
  if (!window) {
    return std::nullopt;
  }
  xcb_connection_t* c = display->connection();
  const auto attributesCookie = xcb_get_window_attributes(c, *window);
  const auto geometryCookie = xcb_get_geometry(c, *window);
  const auto positionCookie = xcb_translate_coordinates(c, *window, display->root, 0, 0);
  const x11::FactCookies factCookies = x11::askFacts(*display, *window);

  xcb_generic_error_t* rawAttributesError = nullptr;
  XcbReply<xcb_get_window_attributes_reply_t> attributes{
      xcb_get_window_attributes_reply(c, attributesCookie, &rawAttributesError)};
  const XcbReply<xcb_generic_error_t> attributesError{rawAttributesError};
  XcbReply<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(c, geometryCookie, nullptr)};
  XcbReply<xcb_translate_coordinates_reply_t> position{
      xcb_translate_coordinates_reply(c, positionCookie, nullptr)};
  WindowFacts facts = x11::takeFacts(*display, factCookies);
  if (display->broken()) {
    throw ProbeUnknown::frontWindow();
  }
  // Some window managers (openbox) keep naming the last active window after it closed: a window
  // that does not exist is nothing in front. Any other failure leaves the answer open.
  if (!attributes) {
    if (attributesError && attributesError->error_code == XCB_WINDOW) {
      return std::nullopt;
    }
    throw ProbeUnknown::frontWindow();
  }

  // Only a window on screen has a title and a centre; an application that holds the focus
  // with an unmapped window is named without them.
  const bool onScreen = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  if (!onScreen) {
    facts.title.reset();
  }
  FrontWindow front{impl_->windowInfo(std::move(facts)), std::nullopt};
  if (front.info.appName.empty()) {
    front.info.appName = "App";
  }
  if (onScreen && geometry && position) {
    front.center =
        Point{position->dst_x + geometry->width / 2.0, position->dst_y + geometry->height / 2.0};
  }
  return front;
}

bool X11Probes::isScreenLockedOrAsleep() {
  const auto display = impl_->display();
  if (!display) {
    throw ProbeUnknown::lockState();
  }
  xcb_connection_t* c = display->connection();
  if (display->hasDPMS) {
    XcbReply<xcb_dpms_info_reply_t> info{xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr)};
    if (!info) {
      throw ProbeUnknown::lockState();
    }
    if (info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON) {
      return true;
    }
  }
  if (display->hasScreenSaver) {
    XcbReply<xcb_screensaver_query_info_reply_t> info{
        xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, display->root), nullptr)};
    if (!info) {
      throw ProbeUnknown::lockState();
    }
    if (info->state == XCB_SCREENSAVER_STATE_ON) {
      return true;
    }
  }
  const std::optional<bool> locked = impl_->sessionLock.isLocked();
  if (!locked) {
    throw ProbeUnknown::lockState();
  }
  return *locked;
}

double X11Probes::idleSeconds() {
  const auto display = impl_->display();
  // Without the screen saver extension the server keeps no idle time to ask for.
  if (!display || !display->hasScreenSaver) {
    throw ProbeUnknown::idleTime();
  }
  xcb_connection_t* c = display->connection();
  XcbReply<xcb_screensaver_query_info_reply_t> info{
      xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, display->root), nullptr)};
  if (!info) {
    throw ProbeUnknown::idleTime();
  }
  return info->ms_since_user_input / 1000.0;
}

bool X11Probes::isSecureInputOn() {
  const auto display = impl_->display();
  if (!display) {
    throw ProbeUnknown::secureInput();
  }
  std::vector<xcb_window_t> windows;
  if (const auto active = impl_->activeWindow(*display)) {
    windows.push_back(*active);
  }
  // A prompt may grab the keyboard without the window manager making it active.
  xcb_connection_t* c = display->connection();
  XcbReply<xcb_get_input_focus_reply_t> focus{
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)};
  if (!focus) {
    throw ProbeUnknown::secureInput();
  }
  if (focus->focus != XCB_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT &&
      focus->focus != display->root) {
    if (const xcb_window_t top = x11::topLevelOf(*display, focus->focus); top != XCB_NONE) {
      const xcb_window_t client = x11::findClients(*display, {top}).front();
      windows.push_back(client != XCB_NONE ? client : top);
    }
  }
  for (WindowFacts& facts : x11::readFacts(*display, windows)) {
    const std::string names[] = {lowerASCII(facts.claims.wmClass),
                                 lowerASCII(facts.claims.wmInstance),
                                 lowerASCII(impl_->windowInfo(facts).bundleID.value_or(""))};
    for (const std::string& name : names) {
      for (const std::string_view mark : passwordPromptMarks) {
        if (name.find(mark) != std::string::npos) {
          return true;
        }
      }
    }
  }
  if (display->broken()) {
    throw ProbeUnknown::secureInput();
  }
  return false;
}

bool isWaylandSession(const char* sessionType, const char* waylandDisplay) {
  if (sessionType && std::strcmp(sessionType, "wayland") == 0)
    return true;
  return waylandDisplay && *waylandDisplay;
}

std::optional<std::string> X11Probes::screenAccessProblem() {
  if (isWaylandSession(std::getenv("XDG_SESSION_TYPE"), std::getenv("WAYLAND_DISPLAY")))
    return std::string(texts::waylandUnsupported);
  return std::nullopt;
}

bool X11Probes::hasScreenRecordingPermission() {
  if (screenAccessProblem())
    return false;
  const auto display = impl_->display();
  if (!display) {
    return false;
  }
  xcb_connection_t* c = display->connection();
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_get_image_reply_t> pixel{xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display->root, 0, 0, 1, 1, ~0u), &rawError)};
  XcbReply<xcb_generic_error_t> error{rawError};
  return pixel != nullptr;
}

bool X11Probes::requestScreenRecordingPermission() {
  // X11 has nobody to ask: reading the screen is allowed or it is not.
  return hasScreenRecordingPermission();
}

std::vector<DisplayFrame> X11Probes::displays() {
  const auto display = impl_->display();
  if (!display) {
    return {};
  }
  std::vector<DisplayFrame> frames;
  if (display->hasRandrMonitors) {
    xcb_connection_t* c = display->connection();
    XcbReply<xcb_randr_get_monitors_reply_t> monitors{
        xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, display->root, 1), nullptr)};
    if (monitors) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
           xcb_randr_monitor_info_next(&it)) {
        const ScreenRect area =
            x11::intersection(ScreenRect{it.data->x, it.data->y, it.data->width, it.data->height},
                              ScreenRect{0, 0, display->rootWidth, display->rootHeight});
        if (!area.empty()) {
          frames.push_back({area.x, area.y, area.width, area.height});
        }
      }
    }
  }
  if (frames.empty() && display->rootWidth > 0 && display->rootHeight > 0) {
    frames.push_back({0, 0, display->rootWidth, display->rootHeight});
  }
  return frames;
}

namespace {

// The parts of `shown` that no window above `index` covers.
std::vector<ScreenRect> uncovered(ScreenRect shown, const std::vector<TopLevel>& tops,
                                  std::size_t index) {
  std::vector<ScreenRect> visible;
  if (!shown.empty()) {
    visible.push_back(shown);
  }
  for (std::size_t above = index; above < tops.size() && !visible.empty(); ++above) {
    std::vector<ScreenRect> remaining;
    for (const ScreenRect& part : visible) {
      x11::subtract(part, tops[above].bounds, remaining);
    }
    visible = std::move(remaining);
  }
  return visible;
}

// Each window's content as it shows in a picture of `area` drawn `factor` times as large, and
// the desktop behind all windows. Blanked windows show nothing to read but still cover what
// lies below them.
std::vector<WindowArea> windowAreas(const std::vector<TopLevel>& tops,
                                    const std::vector<bool>& blanked, const ScreenRect& area,
                                    double factor) {
  auto inPicture = [&](const ScreenRect& rect) {
    auto at = [factor](int value) { return static_cast<int>(std::lround(value * factor)); };
    return PixelBox{at(rect.x - area.x), at(rect.y - area.y), at(rect.right() - area.x),
                    at(rect.bottom() - area.y)};
  };
  auto windowArea = [&](const ScreenRect& content, const std::vector<ScreenRect>& visible) {
    WindowArea window{inPicture(content), {}};
    for (const ScreenRect& part : visible) {
      window.visible.push_back(inPicture(part));
    }
    return window;
  };
  std::vector<WindowArea> windows;
  if (std::vector<ScreenRect> desktop = uncovered(area, tops, 0); !desktop.empty()) {
    windows.push_back(windowArea(area, desktop));
  }
  for (std::size_t i = 0; i < tops.size(); ++i) {
    const ScreenRect shown = x11::intersection(tops[i].content, area);
    if (blanked[i] || shown.empty()) {
      continue;
    }
    if (std::vector<ScreenRect> visible = uncovered(shown, tops, i + 1); !visible.empty()) {
      windows.push_back(windowArea(shown, visible));
    }
  }
  return windows;
}

}  // namespace

Screenshot X11Probes::captureScreen(const ExclusionRules& rules, std::optional<Point> center,
                                    int maxWidth) {
  // Pictures of XWayland's root window would be black or misleading frames.
  if (const std::optional<std::string> problem = screenAccessProblem())
    throw std::runtime_error(*problem);
  const auto display = impl_->display();
  if (!display) {
    throw CaptureError(CaptureError::Code::noDisplay);
  }
  const std::vector<DisplayFrame> frames = displays();
  const auto chosen = chooseDisplay(frames, center);
  if (!chosen) {
    throw CaptureError(CaptureError::Code::noDisplay);
  }
  if (!x11::isCapturable(display->format)) {
    throw X11Error("This X display's pixel format cannot be captured");
  }
  const DisplayFrame& frame = frames[*chosen];
  const ScreenRect area{frame.x, frame.y, frame.width, frame.height};

  std::lock_guard captureLock(display->captureMutex);
  std::vector<TopLevel> tops;
  std::vector<WindowFacts> facts;
  x11::RawImage raw;
  {
    x11::ServerGrab grab(display->connection());
    tops = x11::viewableTopLevels(*display);
    std::vector<xcb_window_t> speakers;
    for (const auto& top : tops) {
      speakers.push_back(top.speaker);
    }
    facts = x11::readFacts(*display, speakers);
    raw = x11::grabRootArea(*display, area);
  }

  // Deciding needs desktop entries and /proc, which the server should not wait for.
  std::vector<ScreenRect> blackAreas;
  std::vector<bool> blanked(tops.size(), false);
  for (std::size_t i = 0; i < tops.size(); ++i) {
    if (!impl_->isExcluded(rules, facts[i])) {
      continue;
    }
    blanked[i] = true;
    std::vector<ScreenRect> visible{x11::intersection(tops[i].bounds, area)};
    for (std::size_t above = i + 1; above < tops.size() && !visible.empty(); ++above) {
      if (!tops[above].opaque) {
        continue;
      }
      std::vector<ScreenRect> remaining;
      for (const ScreenRect& part : visible) {
        x11::subtract(part, tops[above].bounds, remaining);
      }
      visible = std::move(remaining);
    }
    for (const ScreenRect& part : visible) {
      if (!part.empty()) {
        blackAreas.push_back(part);
      }
    }
  }
  for (const ScreenRect& black : blackAreas) {
    for (int y = black.y; y < black.bottom(); ++y) {
      std::uint8_t* row = raw.pixels + std::size_t(raw.stride) * (y - area.y);
      std::memset(row + std::size_t(black.x - area.x) * 4, 0, std::size_t(black.width) * 4);
    }
  }
  const PixelSize size = captureSize(raw.width, raw.height, maxWidth);
  Screenshot shot;
  shot.image = scaleToRGBX(raw.pixels, raw.width, raw.height, raw.stride, raw.channelBytes,
                           size.width, size.height);
  shot.windows =
      windowAreas(tops, blanked, area, static_cast<double>(size.width) / std::max(1, raw.width));
  return shot;
}

std::vector<RunningApp> X11Probes::runningApps() {
  const auto display = impl_->display();
  if (!display) {
    return {};
  }
  xcb_connection_t* c = display->connection();
  const xcb_atom_t clientList = internAtom(c, "_NET_CLIENT_LIST");
  const xcb_atom_t windowType = internAtom(c, "_NET_WM_WINDOW_TYPE");
  const xcb_atom_t typeNormal = internAtom(c, "_NET_WM_WINDOW_TYPE_NORMAL");
  const xcb_atom_t typeDialog = internAtom(c, "_NET_WM_WINDOW_TYPE_DIALOG");
  const xcb_atom_t wmState = internAtom(c, "_NET_WM_STATE");
  const xcb_atom_t skipTaskbar = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");

  std::vector<xcb_window_t> windows;
  for (const std::uint32_t window :
       cardinals(x11::takeProperty(c, x11::askProperty(c, display->root, clientList)))) {
    windows.push_back(window);
  }
  if (windows.empty()) {
    // No window manager keeps a list: what is on screen is what runs.
    for (const TopLevel& top : x11::viewableTopLevels(*display)) {
      windows.push_back(top.speaker);
    }
  }

  std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> kindCookies;
  for (const xcb_window_t window : windows) {
    kindCookies.emplace_back(x11::askProperty(c, window, windowType),
                             x11::askProperty(c, window, wmState));
  }
  std::vector<bool> regular;
  for (const auto& [typeCookie, stateCookie] : kindCookies) {
    const auto types = cardinals(x11::takeProperty(c, typeCookie));
    const auto states = cardinals(x11::takeProperty(c, stateCookie));
    // A window names its types best first; one without any is a normal window.
    const bool normalType =
        types.empty() || types.front() == typeNormal || types.front() == typeDialog;
    const bool inTaskbar = std::find(states.begin(), states.end(), skipTaskbar) == states.end();
    regular.push_back(normalType && inTaskbar);
  }

  std::vector<RunningApp> apps;
  std::vector<WindowFacts> facts = x11::readFacts(*display, windows);
  for (std::size_t i = 0; i < facts.size(); ++i) {
    if (impl_->isOwnWindow(facts[i])) {
      continue;
    }
    const WindowInfo info = impl_->windowInfo(std::move(facts[i]));
    if (!info.bundleID || info.bundleID->empty()) {
      continue;
    }
    apps.push_back(RunningApp{*info.bundleID, info.appName, regular[i]});
  }
  return apps;
}

}  // namespace vistrel
