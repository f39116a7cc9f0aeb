#pragma once

#include <xcb/shm.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "Vistrel/platform/linux/X11Display.h"

namespace vistrel::x11 {

// A System V shared-memory segment attached to the X server, for MIT-SHM screenshots.
class SharedImageMemory {
 public:
  // Null when the segment cannot be made or the server cannot attach it.
  static std::unique_ptr<SharedImageMemory> create(xcb_connection_t* c, std::size_t size);
  ~SharedImageMemory();
  SharedImageMemory(const SharedImageMemory&) = delete;
  SharedImageMemory& operator=(const SharedImageMemory&) = delete;

  xcb_shm_seg_t segment() const { return segment_; }
  std::uint8_t* data() const { return static_cast<std::uint8_t*>(address_); }
  std::size_t size() const { return size_; }

 private:
  SharedImageMemory(xcb_connection_t* c, std::size_t size) : connection_(c), size_(size) {}

  xcb_connection_t* connection_;
  std::size_t size_;
  int id_ = -1;
  void* address_ = nullptr;
  xcb_shm_seg_t segment_ = 0;
};

// Holds the server still, so that no window can change between reading the window list and
// taking the image.
class ServerGrab {
 public:
  explicit ServerGrab(xcb_connection_t* c);
  ~ServerGrab();
  ServerGrab(const ServerGrab&) = delete;
  ServerGrab& operator=(const ServerGrab&) = delete;

 private:
  xcb_connection_t* connection_;
};

// A screenshot as the server delivered it: four bytes a pixel, red, green and blue at
// `channelBytes`. The pixels may live in the display's shared segment: use them while holding
// the display's captureMutex.
struct RawImage {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::array<int, 3> channelBytes{};
  std::uint8_t* pixels = nullptr;
  std::shared_ptr<void> storage;  // owns `pixels` unless they are the shared segment's
};

// Whether screenshots of this pixel layout can be taken.
bool isCapturable(const PixelFormat& format);

// The pixels of `area` of the root window. REQUIRES: display.captureMutex held.
// Throws X11Error when the server refuses.
RawImage grabRootArea(X11Display& display, const ScreenRect& area);

}  // namespace vistrel::x11
