#include "Vistrel/gui/common/QtImages.h"

#include <memory>

namespace vistrel {

QImage toQImage(const Image& image) {
  if (image.empty())
    return {};
  const QImage::Format format =
      image.format() == PixelFormat::rgbx ? QImage::Format_RGBX8888 : QImage::Format_Grayscale8;
  // The copy of the image held by the cleanup keeps the shared pixel buffer alive.
  auto* owner = new Image(image);
  return QImage(
      owner->row(0), owner->width(), owner->height(), qsizetype(owner->stride()), format,
      [](void* held) { delete static_cast<Image*>(held); }, owner);
}

}  // namespace vistrel
