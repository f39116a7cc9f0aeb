#include "Vistrel/gui/search/ResultGrid.h"

#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>

#include "Vistrel/gui/search/ResultCardDelegate.h"

namespace vistrel {
namespace {

constexpr int cardSpacing = ResultCardDelegate::spacing;
constexpr int margin = ResultGrid::padding - cardSpacing / 2;

}  // namespace

ResultGrid::ResultGrid(QWidget* parent)
    : QListView(parent), delegate_(new ResultCardDelegate(this)) {
  setViewMode(QListView::IconMode);
  setMovement(QListView::Static);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setResizeMode(QListView::Adjust);
  setUniformItemSizes(true);
  setSpacing(0);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFrameShape(QFrame::NoFrame);
  setMouseTracking(true);
  setItemDelegate(delegate_);
  // The cards are inset by half the spacing; the rest of the padding is the view's margin.
  setViewportMargins(margin, margin, margin, margin);
  viewport()->setAutoFillBackground(false);
  setAccessibleName(QStringLiteral("Results"));
  connect(this, &QListView::clicked, this, [this](const QModelIndex& index) {
    if (index.isValid())
      Q_EMIT opened(index.row());
  });
  connect(this, &QListView::activated, this, [this](const QModelIndex& index) {
    if (index.isValid())
      Q_EMIT opened(index.row());
  });
  verticalScrollBar()->setSingleStep(24);
}

int ResultGrid::cardWidth(int width) {
  const int available = width - 2 * padding;
  const int columns = std::max(1, (available + cardSpacing) / (minimumCardWidth + cardSpacing));
  const int card = (available - (columns - 1) * cardSpacing) / columns;
  return std::clamp(card, minimumCardWidth, maximumCardWidth);
}

void ResultGrid::layoutCards() {
  // A row of cells exactly as wide as the viewport wraps its last cell; one pixel spare keeps it.
  const int width = viewport()->width() + margin * 2 - 1;
  const QSize cell = ResultCardDelegate::cellSize(cardWidth(width), font());
  if (cell == gridSize())
    return;
  delegate_->setCellSize(cell);
  setGridSize(cell);
}

void ResultGrid::resizeEvent(QResizeEvent* event) {
  QListView::resizeEvent(event);
  layoutCards();
}

void ResultGrid::focusInEvent(QFocusEvent* event) {
  QListView::focusInEvent(event);
  if (model() && !currentIndex().isValid() && model()->rowCount() > 0)
    setCurrentIndex(model()->index(0, 0));
}

}  // namespace vistrel
