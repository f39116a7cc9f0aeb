#include "Vistrel/platform/linux/X11Probes.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/screensaver.h>
#include <xcb/shm.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <mutex>
#include <span>
#include <sstream>

#include "Vistrel/platform/linux/ApplicationIdentity.h"
#include "Vistrel/platform/linux/DesktopEntries.h"
#include "Vistrel/platform/linux/PixelScaling.h"
#include "Vistrel/platform/linux/SessionLock.h"
#include "Vistrel/platform/linux/XcbHandles.h"

namespace vistrel {
namespace {

// Longest property value read, in 32-bit units: titles beyond 16 KiB are cut.
constexpr std::uint32_t longestProperty = 4096;
// How deep below a top-level window its client window is looked for.
constexpr int clientSearchDepth = 3;

// Windows whose application is one of these prompts for a password.
constexpr std::array<std::string_view, 7> passwordPromptMarks = {
    "pinentry", "askpass", "gcr-prompter", "gnome-keyring-prompt",
    "polkit",   "policykit", "kwalletd"};

std::string lowerASCII(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = char(c - 'A' + 'a');
    }
  }
  return text;
}

// Keeps valid UTF-8 and puts U+FFFD in place of every byte that does not belong to a valid
// sequence, so that window titles cannot carry broken text into the library.
std::string validUTF8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    int length = 0;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, minimum = 0x10000;
    }
    bool valid = length > 0 && i + length <= bytes.size();
    std::uint32_t codePoint = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      valid = (next & 0xC0) == 0x80;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    valid = valid && codePoint >= minimum && codePoint <= 0x10FFFF &&
            !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
    if (valid) {
      text.append(bytes.substr(i, length));
      i += length;
    } else {
      text += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return text;
}

std::string latin1ToUTF8(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += char(0xC0 | (byte >> 6));
      text += char(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

// COMPOUND_TEXT starts out as Latin-1; its escape sequences switch character sets that only old
// programs use. They are dropped and the rest read as Latin-1.
std::string compoundTextToUTF8(std::string_view bytes) {
  std::string latin1;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\x1b') {
      latin1 += bytes[i];
      continue;
    }
    ++i;
    while (i < bytes.size() && bytes[i] >= 0x20 && bytes[i] <= 0x2F) {
      ++i;
    }
  }
  return latin1ToUTF8(latin1);
}

std::string_view untilNul(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

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

// ---- Rectangles in root coordinates.

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool empty() const { return width <= 0 || height <= 0; }
  int right() const { return x + width; }
  int bottom() const { return y + height; }
};

Rect intersection(const Rect& a, const Rect& b) {
  const int x = std::max(a.x, b.x);
  const int y = std::max(a.y, b.y);
  return Rect{x, y, std::min(a.right(), b.right()) - x, std::min(a.bottom(), b.bottom()) - y};
}

// The parts of `area` outside `cut`: at most four rectangles.
void subtract(const Rect& area, const Rect& cut, std::vector<Rect>& out) {
  const Rect overlap = intersection(area, cut);
  if (overlap.empty()) {
    out.push_back(area);
    return;
  }
  const Rect pieces[] = {
      {area.x, area.y, area.width, overlap.y - area.y},
      {area.x, overlap.bottom(), area.width, area.bottom() - overlap.bottom()},
      {area.x, overlap.y, overlap.x - area.x, overlap.height},
      {overlap.right(), overlap.y, area.right() - overlap.right(), overlap.height},
  };
  for (const Rect& piece : pieces) {
    if (!piece.empty()) {
      out.push_back(piece);
    }
  }
}

// ---- The connection and what it tells once.

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

class X11Display {
 public:
  static std::shared_ptr<X11Display> open(const std::string& name);

  xcb_connection_t* connection() const { return connection_.get(); }
  bool broken() const { return xcb_connection_has_error(connection_.get()) != 0; }

  // Errors of requests whose replies nobody waits for arrive as events; drop them.
  void dropQueuedEvents() const {
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_queued_event(connection())}) {
    }
  }

  xcb_window_t root = XCB_NONE;
  int rootWidth = 0;
  int rootHeight = 0;
  Atoms atoms;
  PixelFormat format;
  bool hasShm = false;
  bool hasRandrMonitors = false;
  bool hasScreenSaver = false;
  bool hasDPMS = false;
  std::atomic<bool> shmWorks{true};
  std::mutex captureMutex;

 private:
  explicit X11Display(XcbConnection connection) : connection_(std::move(connection)) {}

  void internAtoms();
  void readPixelFormat(const xcb_screen_t& screen);
  void findExtensions();

  XcbConnection connection_;
};

std::shared_ptr<X11Display> X11Display::open(const std::string& name) {
  int screenNumber = 0;
  XcbConnection connection = connectToDisplay(name, &screenNumber);
  if (!connection) {
    return nullptr;
  }
  const xcb_screen_t* screen = screenOfDisplay(connection.get(), screenNumber);
  if (!screen) {
    return nullptr;
  }
  std::shared_ptr<X11Display> display(new X11Display(std::move(connection)));
  display->root = screen->root;
  display->rootWidth = screen->width_in_pixels;
  display->rootHeight = screen->height_in_pixels;
  display->internAtoms();
  display->readPixelFormat(*screen);
  display->findExtensions();
  if (display->broken()) {
    return nullptr;
  }
  return display;
}

void X11Display::internAtoms() {
  const std::pair<const char*, xcb_atom_t*> wanted[] = {
      {"_NET_ACTIVE_WINDOW", &atoms.netActiveWindow},
      {"_NET_SUPPORTING_WM_CHECK", &atoms.netSupportingWMCheck},
      {"_NET_WM_NAME", &atoms.netWMName},
      {"_NET_WM_PID", &atoms.netWMPid},
      {"_NET_WM_WINDOW_OPACITY", &atoms.netWMWindowOpacity},
      {"UTF8_STRING", &atoms.utf8String},
      {"COMPOUND_TEXT", &atoms.compoundText},
      {"WM_STATE", &atoms.wmState},
      {"_GTK_APPLICATION_ID", &atoms.gtkApplicationID},
      {"_KDE_NET_WM_DESKTOP_FILE", &atoms.kdeDesktopFile},
  };
  std::vector<xcb_intern_atom_cookie_t> cookies;
  for (const auto& [atomName, target] : wanted) {
    cookies.push_back(xcb_intern_atom(connection(), 0, std::strlen(atomName), atomName));
  }
  for (std::size_t i = 0; i < cookies.size(); ++i) {
    XcbReply<xcb_intern_atom_reply_t> reply{
        xcb_intern_atom_reply(connection(), cookies[i], nullptr)};
    if (reply) {
      *wanted[i].second = reply->atom;
    }
  }
}

void X11Display::readPixelFormat(const xcb_screen_t& screen) {
  const xcb_setup_t* setup = xcb_get_setup(connection());
  format.mostSignificantFirst = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
    if (it.data->depth == screen.root_depth) {
      format.bitsPerPixel = it.data->bits_per_pixel;
      format.scanlinePad = it.data->scanline_pad;
    }
  }
  for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem;
       xcb_depth_next(&depths)) {
    for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
         xcb_visualtype_next(&visuals)) {
      if (visuals.data->visual_id == screen.root_visual) {
        format.redMask = visuals.data->red_mask;
        format.greenMask = visuals.data->green_mask;
        format.blueMask = visuals.data->blue_mask;
      }
    }
  }
}

void X11Display::findExtensions() {
  xcb_connection_t* c = connection();
  xcb_prefetch_extension_data(c, &xcb_shm_id);
  xcb_prefetch_extension_data(c, &xcb_randr_id);
  xcb_prefetch_extension_data(c, &xcb_screensaver_id);
  xcb_prefetch_extension_data(c, &xcb_dpms_id);
  const auto present = [c](xcb_extension_t* extension) {
    const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
    return data && data->present;
  };
  hasShm = present(&xcb_shm_id);
  hasScreenSaver = present(&xcb_screensaver_id);
  hasDPMS = present(&xcb_dpms_id);
  if (present(&xcb_randr_id)) {
    XcbReply<xcb_randr_query_version_reply_t> version{
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr)};
    hasRandrMonitors =
        version && (version->major_version > 1 ||
                    (version->major_version == 1 && version->minor_version >= 5));
  }
}

// ---- Properties.

struct Property {
  xcb_atom_t type = XCB_NONE;
  int format = 0;
  std::string bytes;

  std::optional<std::uint32_t> cardinal() const {
    if (format != 32 || bytes.size() < 4) {
      return std::nullopt;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data(), 4);
    return value;
  }
};

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom) {
  return xcb_get_property(c, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, longestProperty);
}

std::optional<Property> takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_get_property_reply_t> reply{xcb_get_property_reply(c, cookie, &rawError)};
  XcbReply<xcb_generic_error_t> error{rawError};
  if (!reply || reply->type == XCB_NONE) {
    return std::nullopt;
  }
  const auto* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
  return Property{reply->type, reply->format,
                  std::string(value, xcb_get_property_value_length(reply.get()))};
}

// Everything the properties of one window tell about it.
struct WindowFacts {
  WindowClaims claims;
  std::optional<std::string> title;
  std::optional<std::uint32_t> pid;
  std::string machine;
};

struct FactCookies {
  xcb_get_property_cookie_t wmClass, netWMName, wmName, pid, machine, gtkID, kdeFile;
};

FactCookies askFacts(const X11Display& display, xcb_window_t window) {
  xcb_connection_t* c = display.connection();
  const Atoms& atoms = display.atoms;
  return FactCookies{
      askProperty(c, window, XCB_ATOM_WM_CLASS),
      askProperty(c, window, atoms.netWMName),
      askProperty(c, window, XCB_ATOM_WM_NAME),
      askProperty(c, window, atoms.netWMPid),
      askProperty(c, window, XCB_ATOM_WM_CLIENT_MACHINE),
      askProperty(c, window, atoms.gtkApplicationID),
      askProperty(c, window, atoms.kdeDesktopFile),
  };
}

std::optional<std::string> decodeTitle(const X11Display& display,
                                       const std::optional<Property>& netWMName,
                                       const std::optional<Property>& wmName) {
  if (netWMName && netWMName->format == 8) {
    return validUTF8(untilNul(netWMName->bytes));
  }
  if (!wmName || wmName->format != 8) {
    return std::nullopt;
  }
  const std::string_view bytes = untilNul(wmName->bytes);
  if (wmName->type == display.atoms.utf8String) {
    return validUTF8(bytes);
  }
  if (wmName->type == display.atoms.compoundText) {
    return validUTF8(compoundTextToUTF8(bytes));
  }
  return latin1ToUTF8(bytes);
}

WindowFacts takeFacts(const X11Display& display, const FactCookies& cookies) {
  xcb_connection_t* c = display.connection();
  WindowFacts facts;
  if (auto wmClass = takeProperty(c, cookies.wmClass); wmClass && wmClass->format == 8) {
    const std::string_view bytes = wmClass->bytes;
    const auto nul = bytes.find('\0');
    facts.claims.wmInstance = validUTF8(bytes.substr(0, nul));
    if (nul != std::string_view::npos) {
      facts.claims.wmClass = validUTF8(untilNul(bytes.substr(nul + 1)));
    }
  }
  const auto netWMName = takeProperty(c, cookies.netWMName);
  const auto wmName = takeProperty(c, cookies.wmName);
  facts.title = decodeTitle(display, netWMName, wmName);
  if (auto pid = takeProperty(c, cookies.pid)) {
    facts.pid = pid->cardinal();
  }
  if (auto machine = takeProperty(c, cookies.machine); machine && machine->format == 8) {
    facts.machine = std::string(untilNul(machine->bytes));
  }
  if (auto gtkID = takeProperty(c, cookies.gtkID); gtkID && gtkID->format == 8) {
    facts.claims.gtkApplicationID = validUTF8(untilNul(gtkID->bytes));
  }
  if (auto kdeFile = takeProperty(c, cookies.kdeFile); kdeFile && kdeFile->format == 8) {
    facts.claims.kdeDesktopFile = validUTF8(untilNul(kdeFile->bytes));
  }
  return facts;
}

std::vector<WindowFacts> readFacts(const X11Display& display,
                                   std::span<const xcb_window_t> windows) {
  std::vector<FactCookies> cookies;
  cookies.reserve(windows.size());
  for (const xcb_window_t window : windows) {
    cookies.push_back(askFacts(display, window));
  }
  std::vector<WindowFacts> facts;
  facts.reserve(windows.size());
  for (const auto& cookie : cookies) {
    facts.push_back(takeFacts(display, cookie));
  }
  return facts;
}

// ---- The window tree.

std::vector<xcb_window_t> childrenOf(xcb_connection_t* c, xcb_query_tree_cookie_t cookie) {
  XcbReply<xcb_query_tree_reply_t> reply{xcb_query_tree_reply(c, cookie, nullptr)};
  if (!reply) {
    return {};
  }
  const xcb_window_t* children = xcb_query_tree_children(reply.get());
  return std::vector<xcb_window_t>(children,
                                   children + xcb_query_tree_children_length(reply.get()));
}

// For each window, the window at or below it that carries WM_STATE: the client window that a
// window manager's frame holds. XCB_NONE where there is none (as without a window manager).
std::vector<xcb_window_t> findClients(const X11Display& display,
                                      const std::vector<xcb_window_t>& windows) {
  xcb_connection_t* c = display.connection();
  std::vector<xcb_window_t> clients(windows.size(), XCB_NONE);
  struct Candidate {
    std::size_t owner;
    xcb_window_t window;
  };
  std::vector<Candidate> level;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    level.push_back({i, windows[i]});
  }
  for (int depth = 0; depth <= clientSearchDepth && !level.empty(); ++depth) {
    std::vector<xcb_get_property_cookie_t> states;
    for (const auto& candidate : level) {
      states.push_back(xcb_get_property(c, 0, candidate.window, display.atoms.wmState,
                                        XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
    }
    for (std::size_t i = 0; i < level.size(); ++i) {
      if (takeProperty(c, states[i]) && clients[level[i].owner] == XCB_NONE) {
        clients[level[i].owner] = level[i].window;
      }
    }
    if (depth == clientSearchDepth) {
      break;
    }
    std::vector<xcb_query_tree_cookie_t> trees;
    std::vector<std::size_t> owners;
    for (const auto& candidate : level) {
      if (clients[candidate.owner] == XCB_NONE) {
        trees.push_back(xcb_query_tree(c, candidate.window));
        owners.push_back(candidate.owner);
      }
    }
    std::vector<Candidate> next;
    for (std::size_t i = 0; i < trees.size(); ++i) {
      for (const xcb_window_t child : childrenOf(c, trees[i])) {
        next.push_back({owners[i], child});
      }
    }
    level = std::move(next);
  }
  return clients;
}

// A mapped child of the root window, with the window that speaks for it: its client, or itself
// when it holds none (override-redirect popups, windows without a window manager).
struct TopLevel {
  xcb_window_t window = XCB_NONE;
  xcb_window_t speaker = XCB_NONE;
  Rect bounds;
  bool opaque = true;
};

// The viewable top-level windows from bottom to top.
std::vector<TopLevel> viewableTopLevels(const X11Display& display) {
  xcb_connection_t* c = display.connection();
  const std::vector<xcb_window_t> children = childrenOf(c, xcb_query_tree(c, display.root));
  struct Cookies {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_get_property_cookie_t opacity;
  };
  std::vector<Cookies> cookies;
  cookies.reserve(children.size());
  for (const xcb_window_t child : children) {
    cookies.push_back({xcb_get_window_attributes(c, child), xcb_get_geometry(c, child),
                       askProperty(c, child, display.atoms.netWMWindowOpacity)});
  }
  std::vector<TopLevel> tops;
  for (std::size_t i = 0; i < children.size(); ++i) {
    XcbReply<xcb_get_window_attributes_reply_t> attributes{
        xcb_get_window_attributes_reply(c, cookies[i].attributes, nullptr)};
    XcbReply<xcb_get_geometry_reply_t> geometry{
        xcb_get_geometry_reply(c, cookies[i].geometry, nullptr)};
    const auto opacity = takeProperty(c, cookies[i].opacity);
    // Input-only windows draw nothing and so hide nothing.
    if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
        attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
      continue;
    }
    const int border = geometry->border_width;
    TopLevel top;
    top.window = children[i];
    top.bounds = Rect{geometry->x, geometry->y, geometry->width + 2 * border,
                      geometry->height + 2 * border};
    // A window with an alpha channel or reduced opacity may let what lies below show through.
    const auto opacityValue = opacity ? opacity->cardinal() : std::nullopt;
    top.opaque = geometry->depth != 32 && (!opacityValue || *opacityValue == 0xFFFFFFFFu);
    tops.push_back(top);
  }
  std::vector<xcb_window_t> windows;
  for (const auto& top : tops) {
    windows.push_back(top.window);
  }
  const std::vector<xcb_window_t> clients = findClients(display, windows);
  for (std::size_t i = 0; i < tops.size(); ++i) {
    tops[i].speaker = clients[i] != XCB_NONE ? clients[i] : tops[i].window;
  }
  return tops;
}

// The top-level window (child of the root) that holds `window`.
xcb_window_t topLevelOf(const X11Display& display, xcb_window_t window) {
  xcb_connection_t* c = display.connection();
  for (int depth = 0; depth < 64; ++depth) {
    XcbReply<xcb_query_tree_reply_t> tree{
        xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr)};
    if (!tree) {
      return XCB_NONE;
    }
    if (tree->parent == display.root || tree->parent == XCB_NONE) {
      return window;
    }
    window = tree->parent;
  }
  return XCB_NONE;
}

// ---- Screenshots.

// A System V shared-memory segment attached to the X server.
class SharedImageMemory {
 public:
  static std::unique_ptr<SharedImageMemory> create(xcb_connection_t* c, std::size_t size) {
    std::unique_ptr<SharedImageMemory> memory(new SharedImageMemory(c));
    memory->id_ = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (memory->id_ < 0) {
      return nullptr;
    }
    void* address = shmat(memory->id_, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
      return nullptr;
    }
    memory->address_ = address;
    const xcb_shm_seg_t segment = xcb_generate_id(c);
    XcbReply<xcb_generic_error_t> error{
        xcb_request_check(c, xcb_shm_attach_checked(c, segment, memory->id_, 0))};
    if (error) {
      return nullptr;
    }
    memory->segment_ = segment;
    // Removed now so that it cannot outlive us; it stays usable while attached.
    shmctl(memory->id_, IPC_RMID, nullptr);
    memory->id_ = -1;
    return memory;
  }

  ~SharedImageMemory() {
    if (segment_ != 0) {
      xcb_shm_detach(connection_, segment_);
      xcb_flush(connection_);
    }
    if (address_) {
      shmdt(address_);
    }
    if (id_ >= 0) {
      shmctl(id_, IPC_RMID, nullptr);
    }
  }

  xcb_shm_seg_t segment() const { return segment_; }
  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(address_); }

 private:
  explicit SharedImageMemory(xcb_connection_t* c) : connection_(c) {}

  xcb_connection_t* connection_;
  int id_ = -1;
  void* address_ = nullptr;
  xcb_shm_seg_t segment_ = 0;
};

// Holds the server still, so that no window can appear between reading the window list and
// taking the image.
class ServerGrab {
 public:
  explicit ServerGrab(xcb_connection_t* c) : connection_(c) { xcb_grab_server(c); }
  ~ServerGrab() {
    xcb_ungrab_server(connection_);
    xcb_flush(connection_);
  }
  ServerGrab(const ServerGrab&) = delete;
  ServerGrab& operator=(const ServerGrab&) = delete;

 private:
  xcb_connection_t* connection_;
};

// A screenshot as the server delivered it, four bytes a pixel, whatever the server's layout.
struct RawImage {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::array<int, 3> channelBytes{};
  std::vector<std::uint8_t> pixels;
};

int shiftOf(std::uint32_t mask) { return mask == 0 ? 0 : __builtin_ctz(mask); }

int widthOf(std::uint32_t mask) { return __builtin_popcount(mask); }

// Where red, green and blue sit as whole bytes in a 32-bit pixel; absent for other layouts.
std::optional<std::array<int, 3>> byteChannels(const PixelFormat& format) {
  if (format.bitsPerPixel != 32) {
    return std::nullopt;
  }
  std::array<int, 3> bytes{};
  const std::uint32_t masks[] = {format.redMask, format.greenMask, format.blueMask};
  for (int i = 0; i < 3; ++i) {
    const int shift = shiftOf(masks[i]);
    if (widthOf(masks[i]) != 8 || shift % 8 != 0) {
      return std::nullopt;
    }
    bytes[i] = format.mostSignificantFirst ? 3 - shift / 8 : shift / 8;
  }
  return bytes;
}

std::uint8_t expandChannel(std::uint32_t pixel, std::uint32_t mask) {
  const int bits = widthOf(mask);
  if (bits == 0) {
    return 0;
  }
  const std::uint32_t value = (pixel & mask) >> shiftOf(mask);
  return std::uint8_t(value * 255 / ((1u << bits) - 1));
}

// Turns 16- and 32-bit layouts with other masks into red, green, blue, unused bytes.
RawImage normalize(const std::uint8_t* data, int width, int height, const PixelFormat& format) {
  const int bytesPerPixel = format.bitsPerPixel / 8;
  const int pad = std::max(8, format.scanlinePad);
  const int sourceStride = ((width * format.bitsPerPixel + pad - 1) / pad) * pad / 8;
  RawImage image{width, height, width * 4, {0, 1, 2},
                 std::vector<std::uint8_t>(std::size_t(width) * 4 * height)};
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = data + std::size_t(sourceStride) * y;
    std::uint8_t* target = image.pixels.data() + std::size_t(image.stride) * y;
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* bytes = row + x * bytesPerPixel;
      std::uint32_t pixel = 0;
      for (int k = 0; k < bytesPerPixel; ++k) {
        const int significance = format.mostSignificantFirst ? bytesPerPixel - 1 - k : k;
        pixel |= std::uint32_t(bytes[k]) << (8 * significance);
      }
      target[4 * x + 0] = expandChannel(pixel, format.redMask);
      target[4 * x + 1] = expandChannel(pixel, format.greenMask);
      target[4 * x + 2] = expandChannel(pixel, format.blueMask);
      target[4 * x + 3] = 0;
    }
  }
  return image;
}

RawImage fromServerPixels(const std::uint8_t* data, std::size_t size, const Rect& area,
                          const PixelFormat& format) {
  const int pad = std::max(8, format.scanlinePad);
  const int stride = ((area.width * format.bitsPerPixel + pad - 1) / pad) * pad / 8;
  if (size < std::size_t(stride) * area.height) {
    throw X11Error("The X server sent a screenshot of the wrong size");
  }
  if (auto channels = byteChannels(format)) {
    return RawImage{area.width, area.height, stride, *channels,
                    std::vector<std::uint8_t>(data, data + std::size_t(stride) * area.height)};
  }
  return normalize(data, area.width, area.height, format);
}

std::optional<RawImage> grabThroughSharedMemory(X11Display& display, const Rect& area) {
  xcb_connection_t* c = display.connection();
  const std::size_t size = std::size_t(area.width) * area.height * 4;
  auto memory = SharedImageMemory::create(c, size);
  if (!memory) {
    return std::nullopt;
  }
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_shm_get_image_reply_t> reply{xcb_shm_get_image_reply(
      c,
      xcb_shm_get_image(c, display.root, std::int16_t(area.x), std::int16_t(area.y),
                        std::uint16_t(area.width), std::uint16_t(area.height), ~0u,
                        XCB_IMAGE_FORMAT_Z_PIXMAP, memory->segment(), 0),
      &rawError)};
  XcbReply<xcb_generic_error_t> error{rawError};
  if (!reply || reply->size > size) {
    return std::nullopt;
  }
  return fromServerPixels(memory->data(), reply->size, area, display.format);
}

RawImage grabThroughRequest(X11Display& display, const Rect& area) {
  xcb_connection_t* c = display.connection();
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_get_image_reply_t> reply{xcb_get_image_reply(
      c,
      xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display.root, std::int16_t(area.x),
                    std::int16_t(area.y), std::uint16_t(area.width), std::uint16_t(area.height),
                    ~0u),
      &rawError)};
  XcbReply<xcb_generic_error_t> error{rawError};
  if (!reply) {
    throw X11Error(error ? "The X server refused the screenshot (error " +
                               std::to_string(error->error_code) + ")"
                         : std::string("The connection to the X server was lost"));
  }
  return fromServerPixels(xcb_get_image_data(reply.get()),
                          std::size_t(xcb_get_image_data_length(reply.get())), area,
                          display.format);
}

RawImage grabRootArea(X11Display& display, const Rect& area) {
  // MIT-SHM saves copying the image through the socket; a remote display cannot share memory,
  // so after its first refusal the plain request is used.
  if (display.hasShm && display.shmWorks.load()) {
    if (auto image = grabThroughSharedMemory(display, area)) {
      return std::move(*image);
    }
    display.shmWorks = false;
  }
  return grabThroughRequest(display, area);
}

bool supported(const PixelFormat& format) {
  return (format.bitsPerPixel == 32 || format.bitsPerPixel == 16) && format.redMask != 0 &&
         format.greenMask != 0 && format.blueMask != 0;
}

}  // namespace

struct X11Probes::Impl {
  explicit Impl(Options options)
      : options(std::move(options)),
        entries(this->options.applicationFolders.empty()
                    ? DesktopEntries::standardFolders()
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
    const auto check =
        xcb_get_property(c, 0, display.root, display.atoms.netSupportingWMCheck,
                         XCB_ATOM_WINDOW, 0, 1);
    const auto active =
        xcb_get_property(c, 0, display.root, display.atoms.netActiveWindow, XCB_ATOM_WINDOW, 0, 1);
    const auto wmCheck = takeProperty(c, check);
    const auto activeWindow = takeProperty(c, active);
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
    const xcb_window_t top = topLevelOf(display, focus->focus);
    if (top == XCB_NONE) {
      return std::nullopt;
    }
    const xcb_window_t client = findClients(display, {top}).front();
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
    return std::nullopt;
  }
  const auto window = impl_->activeWindow(*display);
  if (!window) {
    return std::nullopt;
  }
  xcb_connection_t* c = display->connection();
  const auto attributesCookie = xcb_get_window_attributes(c, *window);
  const auto geometryCookie = xcb_get_geometry(c, *window);
  const auto positionCookie = xcb_translate_coordinates(c, *window, display->root, 0, 0);
  const FactCookies factCookies = askFacts(*display, *window);

  XcbReply<xcb_get_window_attributes_reply_t> attributes{
      xcb_get_window_attributes_reply(c, attributesCookie, nullptr)};
  XcbReply<xcb_get_geometry_reply_t> geometry{xcb_get_geometry_reply(c, geometryCookie, nullptr)};
  XcbReply<xcb_translate_coordinates_reply_t> position{
      xcb_translate_coordinates_reply(c, positionCookie, nullptr)};
  WindowFacts facts = takeFacts(*display, factCookies);
  if (!attributes) {
    return std::nullopt;
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
    front.center = Point{position->dst_x + geometry->width / 2.0,
                         position->dst_y + geometry->height / 2.0};
  }
  return front;
}

bool X11Probes::isScreenLockedOrAsleep() {
  if (const auto display = impl_->display()) {
    xcb_connection_t* c = display->connection();
    if (display->hasDPMS) {
      XcbReply<xcb_dpms_info_reply_t> info{xcb_dpms_info_reply(c, xcb_dpms_info(c), nullptr)};
      if (info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON) {
        return true;
      }
    }
    if (display->hasScreenSaver) {
      XcbReply<xcb_screensaver_query_info_reply_t> info{xcb_screensaver_query_info_reply(
          c, xcb_screensaver_query_info(c, display->root), nullptr)};
      if (info && info->state == XCB_SCREENSAVER_STATE_ON) {
        return true;
      }
    }
  }
  return impl_->sessionLock.isLocked();
}

double X11Probes::idleSeconds() {
  const auto display = impl_->display();
  if (!display || !display->hasScreenSaver) {
    return 0;
  }
  xcb_connection_t* c = display->connection();
  XcbReply<xcb_screensaver_query_info_reply_t> info{xcb_screensaver_query_info_reply(
      c, xcb_screensaver_query_info(c, display->root), nullptr)};
  return info ? info->ms_since_user_input / 1000.0 : 0;
}

bool X11Probes::isSecureInputOn() {
  const auto display = impl_->display();
  if (!display) {
    return false;
  }
  std::vector<xcb_window_t> windows;
  if (const auto active = impl_->activeWindow(*display)) {
    windows.push_back(*active);
  }
  // A prompt may grab the keyboard without the window manager making it active.
  xcb_connection_t* c = display->connection();
  XcbReply<xcb_get_input_focus_reply_t> focus{
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)};
  if (focus && focus->focus != XCB_NONE && focus->focus != XCB_INPUT_FOCUS_POINTER_ROOT &&
      focus->focus != display->root) {
    if (const xcb_window_t top = topLevelOf(*display, focus->focus); top != XCB_NONE) {
      const xcb_window_t client = findClients(*display, {top}).front();
      windows.push_back(client != XCB_NONE ? client : top);
    }
  }
  for (WindowFacts& facts : readFacts(*display, windows)) {
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
  return false;
}

bool X11Probes::hasScreenRecordingPermission() {
  const auto display = impl_->display();
  if (!display) {
    return false;
  }
  xcb_connection_t* c = display->connection();
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_get_image_reply_t> pixel{xcb_get_image_reply(
      c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display->root, 0, 0, 1, 1, ~0u),
      &rawError)};
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
    XcbReply<xcb_randr_get_monitors_reply_t> monitors{xcb_randr_get_monitors_reply(
        c, xcb_randr_get_monitors(c, display->root, 1), nullptr)};
    if (monitors) {
      for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem;
           xcb_randr_monitor_info_next(&it)) {
        const Rect area = intersection(
            Rect{it.data->x, it.data->y, it.data->width, it.data->height},
            Rect{0, 0, display->rootWidth, display->rootHeight});
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

CapturedImage X11Probes::captureScreen(const ExclusionRules& rules, std::optional<Point> center,
                                       int maxWidth) {
  const auto display = impl_->display();
  if (!display) {
    throw CaptureError(CaptureError::Code::noDisplay);
  }
  const std::vector<DisplayFrame> frames = displays();
  const auto chosen = chooseDisplay(frames, center);
  if (!chosen) {
    throw CaptureError(CaptureError::Code::noDisplay);
  }
  if (!supported(display->format)) {
    throw X11Error("This X display's pixel format cannot be captured");
  }
  const DisplayFrame& frame = frames[*chosen];
  const Rect area{frame.x, frame.y, frame.width, frame.height};

  std::lock_guard captureLock(display->captureMutex);
  std::vector<Rect> blackAreas;
  RawImage raw;
  {
    ServerGrab grab(display->connection());
    const std::vector<TopLevel> tops = viewableTopLevels(*display);
    std::vector<xcb_window_t> speakers;
    for (const auto& top : tops) {
      speakers.push_back(top.speaker);
    }
    const std::vector<WindowFacts> facts = readFacts(*display, speakers);
    for (std::size_t i = 0; i < tops.size(); ++i) {
      if (!impl_->isExcluded(rules, facts[i])) {
        continue;
      }
      std::vector<Rect> visible{intersection(tops[i].bounds, area)};
      for (std::size_t above = i + 1; above < tops.size() && !visible.empty(); ++above) {
        if (!tops[above].opaque) {
          continue;
        }
        std::vector<Rect> remaining;
        for (const Rect& part : visible) {
          subtract(part, tops[above].bounds, remaining);
        }
        visible = std::move(remaining);
      }
      for (const Rect& part : visible) {
        if (!part.empty()) {
          blackAreas.push_back(part);
        }
      }
    }
    raw = grabRootArea(*display, area);
  }

  for (const Rect& black : blackAreas) {
    for (int y = black.y; y < black.bottom(); ++y) {
      std::uint8_t* row = raw.pixels.data() + std::size_t(raw.stride) * (y - area.y);
      std::memset(row + std::size_t(black.x - area.x) * 4, 0, std::size_t(black.width) * 4);
    }
  }
  const PixelSize size = captureSize(raw.width, raw.height, maxWidth);
  return scaleToRGBX(raw.pixels.data(), raw.width, raw.height, raw.stride, raw.channelBytes,
                     size.width, size.height);
}

}  // namespace vistrel
