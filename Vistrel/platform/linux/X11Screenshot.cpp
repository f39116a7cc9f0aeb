#include "Vistrel/platform/linux/X11Screenshot.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <optional>
#include <string>

#include "Vistrel/platform/linux/X11Probes.h"

namespace vistrel::x11 {
namespace {

int shiftOf(std::uint32_t mask) {
  return mask == 0 ? 0 : __builtin_ctz(mask);
}

int widthOf(std::uint32_t mask) {
  return __builtin_popcount(mask);
}

int strideOf(int width, const PixelFormat& format) {
  const int pad = std::max(8, format.scanlinePad);
  return ((width * format.bitsPerPixel + pad - 1) / pad) * pad / 8;
}

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

// Turns 16-bit layouts and 32-bit ones with unusual masks into red, green, blue, unused.
RawImage normalize(const std::uint8_t* data, int width, int height, const PixelFormat& format) {
  const int bytesPerPixel = format.bitsPerPixel / 8;
  const int sourceStride = strideOf(width, format);
  auto pixels = std::make_shared<std::vector<std::uint8_t>>(std::size_t(width) * 4 * height);
  RawImage image{width, height, width * 4, {0, 1, 2}, pixels->data(), pixels};
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = data + std::size_t(sourceStride) * y;
    std::uint8_t* target = image.pixels + std::size_t(image.stride) * y;
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

// Wraps what the server sent; `storage` keeps `data` alive.
RawImage fromServerPixels(std::uint8_t* data, std::size_t size, std::shared_ptr<void> storage,
                          const ScreenRect& area, const PixelFormat& format) {
  const int stride = strideOf(area.width, format);
  if (size < std::size_t(stride) * area.height) {
    throw X11Error("The X server sent a screenshot of the wrong size");
  }
  if (auto channels = byteChannels(format)) {
    return RawImage{area.width, area.height, stride, *channels, data, std::move(storage)};
  }
  return normalize(data, area.width, area.height, format);
}

std::optional<RawImage> grabThroughSharedMemory(X11Display& display, const ScreenRect& area) {
  xcb_connection_t* c = display.connection();
  const std::size_t size = std::size_t(strideOf(area.width, display.format)) * area.height;
  // The segment is kept for the next screenshot: a fresh one costs page faults on both sides.
  if (!display.shmSegment || display.shmSegment->size() < size) {
    display.shmSegment.reset();
    display.shmSegment = SharedImageMemory::create(c, size);
    if (!display.shmSegment) {
      return std::nullopt;
    }
  }
  SharedImageMemory& memory = *display.shmSegment;
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_shm_get_image_reply_t> reply{xcb_shm_get_image_reply(
      c,
      xcb_shm_get_image(c, display.root, std::int16_t(area.x), std::int16_t(area.y),
                        std::uint16_t(area.width), std::uint16_t(area.height), ~0u,
                        XCB_IMAGE_FORMAT_Z_PIXMAP, memory.segment(), 0),
      &rawError)};
  XcbReply<xcb_generic_error_t> error{rawError};
  if (!reply || reply->size > memory.size()) {
    display.shmSegment.reset();
    return std::nullopt;
  }
  return fromServerPixels(memory.data(), reply->size, nullptr, area, display.format);
}

RawImage grabThroughRequest(X11Display& display, const ScreenRect& area) {
  xcb_connection_t* c = display.connection();
  xcb_generic_error_t* rawError = nullptr;
  std::shared_ptr<xcb_get_image_reply_t> reply(
      xcb_get_image_reply(c,
                          xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, display.root,
                                        std::int16_t(area.x), std::int16_t(area.y),
                                        std::uint16_t(area.width), std::uint16_t(area.height), ~0u),
                          &rawError),
      XcbFreeDeleter());
  XcbReply<xcb_generic_error_t> error{rawError};
  if (!reply) {
    throw X11Error(error ? "The X server refused the screenshot (error " +
                               std::to_string(error->error_code) + ")"
                         : std::string("The connection to the X server was lost"));
  }
  std::uint8_t* data = xcb_get_image_data(reply.get());
  const auto size = std::size_t(xcb_get_image_data_length(reply.get()));
  return fromServerPixels(data, size, reply, area, display.format);
}

}  // namespace

std::unique_ptr<SharedImageMemory> SharedImageMemory::create(xcb_connection_t* c,
                                                             std::size_t size) {
  std::unique_ptr<SharedImageMemory> memory(new SharedImageMemory(c, size));
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
  // Marked for removal at once so that it cannot outlive us; it stays usable while attached.
  shmctl(memory->id_, IPC_RMID, nullptr);
  memory->id_ = -1;
  return memory;
}

SharedImageMemory::~SharedImageMemory() {
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

ServerGrab::ServerGrab(xcb_connection_t* c) : connection_(c) {
  xcb_grab_server(c);
}

ServerGrab::~ServerGrab() {
  xcb_ungrab_server(connection_);
  xcb_flush(connection_);
}

bool isCapturable(const PixelFormat& format) {
  return (format.bitsPerPixel == 32 || format.bitsPerPixel == 16) && format.redMask != 0 &&
         format.greenMask != 0 && format.blueMask != 0;
}

RawImage grabRootArea(X11Display& display, const ScreenRect& area) {
  // MIT-SHM saves copying the image through the socket; a remote display cannot share memory,
  // so after its first refusal the plain request is used.
  if (display.hasShm && display.shmWorks) {
    if (auto image = grabThroughSharedMemory(display, area)) {
      return std::move(*image);
    }
    display.shmWorks = false;
  }
  return grabThroughRequest(display, area);
}

}  // namespace vistrel::x11
