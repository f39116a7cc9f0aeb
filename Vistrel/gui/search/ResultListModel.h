#pragma once

#include <QAbstractListModel>
#include <QImage>
#include <QSet>
#include <QThreadPool>
#include <vector>

#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/search/SearchQuery.h"

namespace vistrel {

class AppModel;

// The search hits as a list for the result grid: one row per `ResultCard` (the hit, the query
// that found it; opening is the grid's). Thumbnails come from the shared ThumbnailCache; one
// missing from it is decoded on a worker thread the first time a row's thumbnail is asked for,
// and the row changes when it arrives. Bytes that do not decode are not tried again for the same
// list of hits, and never cached.
class ResultListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  enum Role {
    frameIdRole = Qt::UserRole + 1,
    appNameRole,
    momentRole,
    thumbnailRole,  // QImage, null while decoding or when the bytes do not decode
    spansRole,      // QList<TextSpan> of the snippet (DisplayRole)
  };

  explicit ResultListModel(AppModel& model, QObject* parent = nullptr);
  ~ResultListModel() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  const FrameSummary& hit(int row) const { return hits_[std::size_t(row)]; }
  // Thumbnails decoded by this list so far (cache misses), for the tests and benchmarks.
  int decodeCount() const { return decodes_; }
  // Waits for the decoding under way; for the tests.
  void waitForDecoding() { decoder_.waitForDone(); }

 private:
  void reload();
  void requestThumbnail(int row) const;
  void thumbnailDecoded(std::int64_t id, QImage image);

  AppModel& model_;
  std::vector<FrameSummary> hits_;
  SearchQuery query_;
  mutable QSet<std::int64_t> pending_;
  mutable QSet<std::int64_t> undecodable_;
  mutable int decodes_ = 0;
  bool reloadPending_ = false;
  mutable QThreadPool decoder_;
};

}  // namespace vistrel
