#pragma once

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace vistrel {

struct XcbConnectionDeleter {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// An open connection to an X server; closed when the pointer goes.
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbConnectionDeleter>;

struct XcbFreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

// A reply, error or other block that xcb hands over with malloc.
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFreeDeleter>;

// Opens a connection to `display` ($DISPLAY when empty); null when no server answers.
inline XcbConnection connectToDisplay(const std::string& display, int* screenNumber) {
  XcbConnection connection(xcb_connect(display.empty() ? nullptr : display.c_str(), screenNumber));
  if (xcb_connection_has_error(connection.get())) {
    return nullptr;
  }
  return connection;
}

// The screen `number` of the connection, or null.
inline xcb_screen_t* screenOfDisplay(xcb_connection_t* connection, int number) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (; it.rem; --number, xcb_screen_next(&it)) {
    if (number == 0) {
      return it.data;
    }
  }
  return nullptr;
}

}  // namespace vistrel
