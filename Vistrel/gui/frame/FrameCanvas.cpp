#include "Vistrel/gui/frame/FrameCanvas.h"

#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>

namespace vistrel {

FrameCanvas::FrameCanvas(QWidget* parent) : QWidget(parent), busy_(new QProgressBar(this)) {
  setAccessibleName(QStringLiteral("The saved frame"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  busy_->setRange(0, 0);
  busy_->setTextVisible(false);
  busy_->setFixedWidth(160);
  busy_->setAccessibleName(QStringLiteral("Loading the frame"));
}

void FrameCanvas::setImage(QImage image) {
  image_ = std::move(image);
  scaled_ = QPixmap();
  busy_->setVisible(image_.isNull());
  updateGeometry();
  update();
}

void FrameCanvas::setLines(std::vector<TextLine> lines) {
  lines_ = std::move(lines);
  refreshBoxes();
}

void FrameCanvas::setQuery(SearchQuery query) {
  query_ = std::move(query);
  refreshBoxes();
}

void FrameCanvas::setActualSize(bool actualSize) {
  actualSize_ = actualSize;
  updateGeometry();
  update();
}

void FrameCanvas::refreshBoxes() {
  boxes_ = query_.isEmpty() ? std::vector<Highlighter::Box>{}
                            : Highlighter::highlightBoxes(lines_, query_);
  update();
}

QSize FrameCanvas::sizeHint() const {
  if (actualSize_ && !image_.isNull())
    return image_.size();
  return {640, 400};
}

QRectF FrameCanvas::imageRect() const {
  if (image_.isNull())
    return {};
  if (actualSize_)
    return QRectF(QPointF(0, 0), QSizeF(image_.size()));
  const QSizeF shown = QSizeF(image_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
  QRectF area(QPointF(0, 0), shown);
  area.moveCenter(QRectF(rect()).center());
  return area;
}

QList<QRectF> FrameCanvas::outlines() const {
  QList<QRectF> drawn;
  const QRectF shown = imageRect();
  if (shown.isEmpty())
    return drawn;
  for (const Highlighter::Box& box : boxes_) {
    const QSizeF size(box.w * shown.width() + outlineMargin,
                      box.h * shown.height() + outlineMargin);
    const QPointF centre(shown.left() + (box.x + box.w / 2) * shown.width(),
                         shown.top() + (box.y + box.h / 2) * shown.height());
    QRectF outline(QPointF(0, 0), size);
    outline.moveCenter(centre);
    drawn.append(outline);
  }
  return drawn;
}

void FrameCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(0, 0, 0, 20));
  if (image_.isNull())
    return;
  const QRectF shown = imageRect();
  if (actualSize_) {
    painter.drawImage(shown.topLeft(), image_);
  } else {
    // Smooth scaling of a full screen takes tens of milliseconds: done once per size.
    const QSize size = shown.size().toSize();
    if (scaled_.size() != size)
      scaled_ =
          QPixmap::fromImage(image_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    painter.drawPixmap(shown.topLeft(), scaled_);
  }
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill(255, 214, 10);
  fill.setAlphaF(0.28f);
  painter.setPen(QPen(QColor(255, 149, 0), outlineWidth));
  painter.setBrush(fill);
  for (const QRectF& outline : outlines())
    painter.drawRoundedRect(outline, outlineRadius, outlineRadius);
}

void FrameCanvas::resizeEvent(QResizeEvent*) {
  busy_->move((width() - busy_->width()) / 2, (height() - busy_->height()) / 2);
}

}  // namespace vistrel
