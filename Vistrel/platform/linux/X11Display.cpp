#include "Vistrel/platform/linux/X11Display.h"

#include <xcb/dpms.h>
#include <xcb/randr.h>
#include <xcb/screensaver.h>
#include <xcb/shm.h>

#include <algorithm>
#include <cstring>

#include "Vistrel/platform/linux/X11Screenshot.h"

namespace vistrel::x11 {
namespace {

// Longest property value read, in 32-bit units: titles beyond 16 KiB are cut.
constexpr std::uint32_t longestProperty = 4096;
// How deep below a top-level window its client window is looked for.
constexpr int clientSearchDepth = 3;

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

std::string_view untilNul(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
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

std::vector<xcb_window_t> childrenOf(xcb_connection_t* c, xcb_query_tree_cookie_t cookie) {
  XcbReply<xcb_query_tree_reply_t> reply{xcb_query_tree_reply(c, cookie, nullptr)};
  if (!reply) {
    return {};
  }
  const xcb_window_t* children = xcb_query_tree_children(reply.get());
  return std::vector<xcb_window_t>(children,
                                   children + xcb_query_tree_children_length(reply.get()));
}

}  // namespace

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
    if (length == 0 || i + length > bytes.size()) {
      text += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    bool valid = true;
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

ScreenRect intersection(const ScreenRect& a, const ScreenRect& b) {
  const int x = std::max(a.x, b.x);
  const int y = std::max(a.y, b.y);
  return ScreenRect{x, y, std::min(a.right(), b.right()) - x, std::min(a.bottom(), b.bottom()) - y};
}

void subtract(const ScreenRect& area, const ScreenRect& cut, std::vector<ScreenRect>& out) {
  const ScreenRect overlap = intersection(area, cut);
  if (overlap.empty()) {
    out.push_back(area);
    return;
  }
  const ScreenRect pieces[] = {
      {area.x, area.y, area.width, overlap.y - area.y},
      {area.x, overlap.bottom(), area.width, area.bottom() - overlap.bottom()},
      {area.x, overlap.y, overlap.x - area.x, overlap.height},
      {overlap.right(), overlap.y, area.right() - overlap.right(), overlap.height},
  };
  for (const ScreenRect& piece : pieces) {
    if (!piece.empty()) {
      out.push_back(piece);
    }
  }
}

X11Display::X11Display(XcbConnection connection) : connection_(std::move(connection)) {}

X11Display::~X11Display() {
  // Detaching the segment needs the connection, which as the last member would go first.
  shmSegment.reset();
}

void X11Display::dropQueuedEvents() const {
  while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_queued_event(connection())}) {
  }
}

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
    hasRandrMonitors = version && (version->major_version > 1 ||
                                   (version->major_version == 1 && version->minor_version >= 5));
  }
}

std::optional<std::uint32_t> Property::cardinal() const {
  if (format != 32 || bytes.size() < 4) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

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
    top.bounds = ScreenRect{geometry->x, geometry->y, geometry->width + 2 * border,
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
  std::vector<std::pair<xcb_get_geometry_cookie_t, xcb_translate_coordinates_cookie_t>> places;
  for (std::size_t i = 0; i < tops.size(); ++i) {
    tops[i].speaker = clients[i] != XCB_NONE ? clients[i] : tops[i].window;
    tops[i].content = tops[i].bounds;
    places.emplace_back(xcb_get_geometry(c, tops[i].speaker),
                        xcb_translate_coordinates(c, tops[i].speaker, display.root, 0, 0));
  }
  for (std::size_t i = 0; i < tops.size(); ++i) {
    XcbReply<xcb_get_geometry_reply_t> geometry{
        xcb_get_geometry_reply(c, places[i].first, nullptr)};
    XcbReply<xcb_translate_coordinates_reply_t> position{
        xcb_translate_coordinates_reply(c, places[i].second, nullptr)};
    if (geometry && position) {
      tops[i].content = intersection(
          ScreenRect{position->dst_x, position->dst_y, geometry->width, geometry->height},
          tops[i].bounds);
    }
  }
  return tops;
}

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

}  // namespace vistrel::x11
