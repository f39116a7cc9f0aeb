#include "Vistrel/gui/search/ResultListModel.h"

#include <QMetaObject>

#include "Vistrel/gui/common/AppIcon.h"
#include "Vistrel/gui/common/Highlights.h"
#include "Vistrel/gui/common/MomentLabel.h"
#include "Vistrel/gui/search/ThumbnailCache.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {

ResultListModel::ResultListModel(AppModel& model, QObject* parent)
    : QAbstractListModel(parent), model_(model) {
  decoder_.setMaxThreadCount(1);
  // A search changes the hits and the query together: the list is rebuilt once for both.
  for (auto signal : {&AppModel::hitsChanged, &AppModel::searchedQueryChanged}) {
    connect(&model_, signal, this, [this] {
      if (!reloadPending_) {
        reloadPending_ = true;
        QMetaObject::invokeMethod(this, &ResultListModel::reload, Qt::QueuedConnection);
      }
    });
  }
  reload();
}

ResultListModel::~ResultListModel() {
  decoder_.clear();
  decoder_.waitForDone();
}

void ResultListModel::reload() {
  reloadPending_ = false;
  beginResetModel();
  hits_ = model_.hits();
  query_ = model_.searchedQuery();
  undecodable_.clear();
  endResetModel();
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(hits_.size());
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount())
    return {};
  const FrameSummary& frame = hits_[std::size_t(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(frame.snippet());
    case Qt::AccessibleTextRole:
      return QString::fromStdString(frame.meta.appName) + QStringLiteral(", ") +
             momentLabel(frame.date) + QStringLiteral(": ") +
             QString::fromStdString(frame.snippet());
    case Qt::AccessibleDescriptionRole:
    case Qt::ToolTipRole:
      return QStringLiteral("Opens the frame full size");
    case Qt::DecorationRole:
      return appIcon(QString::fromStdString(frame.meta.bundleID.value_or(std::string())));
    case frameIdRole:
      return qint64(frame.id);
    case appNameRole:
      return QString::fromStdString(frame.meta.appName);
    case momentRole:
      return momentLabel(frame.date);
    case spansRole:
      return QVariant::fromValue(highlightSpans(frame.snippet(), query_));
    case thumbnailRole: {
      if (const std::optional<QImage> cached = ThumbnailCache::shared().find(frame.id))
        return *cached;
      requestThumbnail(index.row());
      return QImage();
    }
    default:
      return {};
  }
}

void ResultListModel::requestThumbnail(int row) const {
  const FrameSummary& frame = hits_[std::size_t(row)];
  if (pending_.contains(frame.id) || undecodable_.contains(frame.id))
    return;
  pending_.insert(frame.id);
  ++decodes_;
  // The destructor waits for the decoder, so the list outlives every decoding; a result queued
  // to a list destroyed meanwhile is dropped with it.
  auto* self = const_cast<ResultListModel*>(this);
  decoder_.start([self, id = frame.id, bytes = frame.thumbnail] {
    QImage image = decodeThumbnail(bytes);
    QMetaObject::invokeMethod(
        self, [self, id, image = std::move(image)]() mutable { self->thumbnailDecoded(id, image); },
        Qt::QueuedConnection);
  });
}

void ResultListModel::thumbnailDecoded(std::int64_t id, QImage image) {
  pending_.remove(id);
  if (image.isNull())
    undecodable_.insert(id);
  else
    ThumbnailCache::shared().insert(id, std::move(image));
  for (std::size_t row = 0; row < hits_.size(); ++row) {
    if (hits_[row].id == id) {
      const QModelIndex changed = index(int(row));
      Q_EMIT dataChanged(changed, changed, {thumbnailRole});
    }
  }
}

}  // namespace vistrel
