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
  return QImage::fromData(reinterpret_cast<const uchar*>(jpeg.data()), qsizetype(jpeg.size()),
                          "JPEG");
}

}  // namespace vistrel
