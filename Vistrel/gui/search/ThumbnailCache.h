#pragma once

#include <QHash>
#include <QImage>
#include <cstdint>
#include <optional>

#include "VistrelKit/base/Bytes.h"

namespace vistrel {

// Decoded thumbnails by frame identifier, shared by every list of frames in the process. It is
// bounded by emptying: adding to a cache that already holds `emptiedAt` images first drops them
// all, so it never holds more than that and needs no eviction order. Main thread only.
class ThumbnailCache {
 public:
  static constexpr int emptiedAt = 601;

  static ThumbnailCache& shared();

  std::optional<QImage> find(std::int64_t id) const;
  // A null image is never kept.
  void insert(std::int64_t id, QImage image);
  int size() const { return int(images_.size()); }
  void clear() { images_.clear(); }

 private:
  QHash<std::int64_t, QImage> images_;
};

// The thumbnail's JPEG bytes decoded; a null image when they do not decode. Safe on any thread.
QImage decodeThumbnail(const Bytes& jpeg);

}  // namespace vistrel
