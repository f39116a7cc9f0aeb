#include "Vistrel/gui/privacy/FlowLayout.h"

#include <QWidget>
#include <algorithm>

namespace vistrel {

FlowLayout::FlowLayout(QWidget* parent, int spacing) : QLayout(parent), gap_(spacing) {
  setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
  while (QLayoutItem* item = takeAt(0))
    delete item;
}

void FlowLayout::addItem(QLayoutItem* item) {
  items_.append(item);
}

int FlowLayout::count() const {
  return int(items_.size());
}

QLayoutItem* FlowLayout::itemAt(int index) const {
  return items_.value(index);
}

QLayoutItem* FlowLayout::takeAt(int index) {
  return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

Qt::Orientations FlowLayout::expandingDirections() const {
  return {};
}

bool FlowLayout::hasHeightForWidth() const {
  return true;
}

int FlowLayout::heightForWidth(int width) const {
  return arrange(QRect(0, 0, width, 0), false);
}

QSize FlowLayout::minimumSize() const {
  QSize size;
  for (const QLayoutItem* item : items_)
    size = size.expandedTo(item->minimumSize());
  const QMargins margins = contentsMargins();
  return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

QSize FlowLayout::sizeHint() const {
  return minimumSize();
}

void FlowLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool place) const {
  const QRect area = rect.marginsRemoved(contentsMargins());
  int x = area.x();
  int y = area.y();
  int lineHeight = 0;
  for (QLayoutItem* item : items_) {
    if (item->widget() && item->widget()->isHidden())
      continue;
    const QSize hint = item->sizeHint();
    // A chip wider than the whole line still gets a line of its own.
    if (x > area.x() && x + hint.width() > area.right() + 1) {
      x = area.x();
      y += lineHeight + gap_;
      lineHeight = 0;
    }
    if (place)
      item->setGeometry(QRect(QPoint(x, y), hint));
    x += hint.width() + gap_;
    lineHeight = std::max(lineHeight, hint.height());
  }
  return y + lineHeight - rect.y() + contentsMargins().bottom();
}

}  // namespace vistrel
