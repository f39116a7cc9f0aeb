#include "Vistrel/gui/timeline/FrameView.h"

#include <QPainter>
#include <QResizeEvent>

namespace vistrel {

FrameView::FrameView(QWidget* parent) : QAbstractButton(parent), progress_(new QProgressBar(this)) {
  setCursor(Qt::PointingHandCursor);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  progress_->setRange(0, 0);
  progress_->setTextVisible(false);
  progress_->setFixedWidth(120);
  progress_->setAccessibleName(QStringLiteral("Loading the frame"));
}

QImage FrameView::toQImage(const Image& image) {
  if (image.empty())
    return {};
  const QImage::Format format =
      image.format() == PixelFormat::rgbx ? QImage::Format_RGBX8888 : QImage::Format_Grayscale8;
  auto* keep = new Image(image);
  return QImage(
      image.row(0), image.width(), image.height(), qsizetype(image.stride()), format,
      [](void* info) { delete static_cast<Image*>(info); }, keep);
}

void FrameView::setImage(const std::optional<Image>& image) {
  image_ = image ? toQImage(*image) : QImage();
  scaled_ = QPixmap();
  progress_->setVisible(image_.isNull());
  update();
}

QSize FrameView::sizeHint() const {
  return {640, 400};
}

QSize FrameView::minimumSizeHint() const {
  return {160, 100};
}

QRect FrameView::imageRect() const {
  if (image_.isNull())
    return {};
  const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void FrameView::resizeEvent(QResizeEvent* event) {
  QAbstractButton::resizeEvent(event);
  progress_->move((width() - progress_->width()) / 2, (height() - progress_->height()) / 2);
}

void FrameView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (image_.isNull())
    return;
  const QRect target = imageRect();
  if (scaled_.size() != target.size())
    scaled_ = QPixmap::fromImage(
        image_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  painter.drawPixmap(target.topLeft(), scaled_);
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawRect(target.adjusted(1, 1, -1, -1));
  }
}

}  // namespace vistrel
