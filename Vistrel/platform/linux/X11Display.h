#pragma once

// The X11 plumbing under the probes: one connection with what it tells once (atoms, pixel
// layout, extensions), window properties, and the window tree.

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Vistrel/platform/linux/ApplicationIdentity.h"
#include "Vistrel/platform/linux/XcbHandles.h"

namespace vistrel::x11 {

// A rectangle in root-window coordinates.
struct ScreenRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool empty() const { return width <= 0 || height <= 0; }
  int right() const { return x + width; }
  int bottom() const { return y + height; }
};

ScreenRect intersection(const ScreenRect& a, const ScreenRect& b);

// Appends the parts of `area` outside `cut` to `out`: at most four rectangles.
void subtract(const ScreenRect& area, const ScreenRect& cut, std::vector<ScreenRect>& out);

struct Atoms {
  xcb_atom_t netActiveWindow = XCB_NONE;
  xcb_atom_t netSupportingWMCheck = XCB_NONE;
  xcb_atom_t netWMName = XCB_NONE;
  xcb_atom_t netWMPid = XCB_NONE;
  xcb_atom_t netWMWindowOpacity = XCB_NONE;
  xcb_atom_t utf8String = XCB_NONE;
  xcb_atom_t compoundText = XCB_NONE;
  xcb_atom_t wmState = XCB_NONE;
  xcb_atom_t gtkApplicationID = XCB_NONE;
  xcb_atom_t kdeDesktopFile = XCB_NONE;
};

// How the pixels of a ZPixmap image of the root window are laid out.
struct PixelFormat {
  int bitsPerPixel = 0;
  int scanlinePad = 32;
  bool mostSignificantFirst = false;
  std::uint32_t redMask = 0;
  std::uint32_t greenMask = 0;
  std::uint32_t blueMask = 0;
};

class SharedImageMemory;

// An open connection to the X server and what it tells once. The connection may be used from
// several threads (xcb is thread-safe); screenshots take `captureMutex`.
class X11Display {
 public:
  // Null when no server answers at `name` ($DISPLAY when empty).
  static std::shared_ptr<X11Display> open(const std::string& name);
  ~X11Display();

  xcb_connection_t* connection() const { return connection_.get(); }
  bool broken() const { return xcb_connection_has_error(connection_.get()) != 0; }

  // Errors of requests whose replies nobody waits for arrive as events; drops them.
  void dropQueuedEvents() const;

  xcb_window_t root = XCB_NONE;
  int rootWidth = 0;
  int rootHeight = 0;
  Atoms atoms;
  PixelFormat format;
  bool hasShm = false;
  bool hasRandrMonitors = false;
  bool hasScreenSaver = false;
  bool hasDPMS = false;

  std::mutex captureMutex;
  // MIT-SHM stays off after its first failure (as on a remote display).
  bool shmWorks = true;                           // GUARDED_BY(captureMutex)
  std::unique_ptr<SharedImageMemory> shmSegment;  // GUARDED_BY(captureMutex)

 private:
  explicit X11Display(XcbConnection connection);

  void internAtoms();
  void readPixelFormat(const xcb_screen_t& screen);
  void findExtensions();

  XcbConnection connection_;
};

// A window property as the server keeps it.
struct Property {
  xcb_atom_t type = XCB_NONE;
  int format = 0;
  std::string bytes;

  // The first 32-bit value, for CARDINAL and WINDOW properties.
  std::optional<std::uint32_t> cardinal() const;
};

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom);
// Absent when the window lacks the property or is gone.
std::optional<Property> takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie);

// Everything the properties of one window tell about it and its application.
struct WindowFacts {
  WindowClaims claims;
  std::optional<std::string> title;  // _NET_WM_NAME, else WM_NAME; always valid UTF-8
  std::optional<std::uint32_t> pid;  // _NET_WM_PID
  std::string machine;               // WM_CLIENT_MACHINE
};

struct FactCookies {
  xcb_get_property_cookie_t wmClass, netWMName, wmName, pid, machine, gtkID, kdeFile;
};

// Asking and taking apart, so that the requests for many windows travel together.
FactCookies askFacts(const X11Display& display, xcb_window_t window);
WindowFacts takeFacts(const X11Display& display, const FactCookies& cookies);
std::vector<WindowFacts> readFacts(const X11Display& display,
                                   std::span<const xcb_window_t> windows);

// A mapped child of the root window, with the window that speaks for it: its client, or itself
// when it holds none (override-redirect popups, windows without a window manager).
struct TopLevel {
  xcb_window_t window = XCB_NONE;
  xcb_window_t speaker = XCB_NONE;
  ScreenRect bounds;   // border included
  ScreenRect content;  // the client's own area: the frame a window manager adds left out
  bool opaque = true;  // false when what lies below may show through
};

// The viewable top-level windows from bottom to top.
std::vector<TopLevel> viewableTopLevels(const X11Display& display);

// For each window, the window at or below it that carries WM_STATE: the client window that a
// window manager's frame holds. XCB_NONE where there is none (as without a window manager).
std::vector<xcb_window_t> findClients(const X11Display& display,
                                      const std::vector<xcb_window_t>& windows);

// The top-level window (child of the root) that holds `window`; XCB_NONE when it is gone.
xcb_window_t topLevelOf(const X11Display& display, xcb_window_t window);

// Keeps valid UTF-8 and puts U+FFFD in place of every byte that is not part of a valid
// sequence.
std::string validUTF8(std::string_view bytes);

}  // namespace vistrel::x11
