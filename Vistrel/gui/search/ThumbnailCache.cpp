#include "Vistrel/gui/search/ThumbnailCache.h"

namespace vistrel {

ThumbnailCache& ThumbnailCache::shared() {
  static ThumbnailCache cache;
  return cache;
}

std::optional<QImage> ThumbnailCache::find(std::int64_t id) const {
  const auto found = images_.constFind(id);
  if (found == images_.constEnd())
    return std::nullopt;
  return *found;
}

void ThumbnailCache::insert(std::int64_t id, QImage image) {
  if (image.isNull())
    return;
  if (!images_.contains(id) && images_.size() >= emptiedAt)
    images_.clear();
  images_.insert(id, std::move(image));
}

QImage decodeThumbnail(const Bytes& jpeg) {
  if (jpeg.empty())
    return {};
  QImage image =
      QImage::fromData(reinterpret_cast<const uchar*>(jpeg.data()), qsizetype(jpeg.size()), "JPEG");
  // Three bytes a pixel instead of four: a full cache of 601 thumbnails 360 pixels wide stays
  // under 150 MB.
  if (!image.isNull() && image.format() != QImage::Format_Grayscale8)
    image.convertTo(QImage::Format_RGB888);
  return image;
}

}  // namespace vistrel
