#pragma once

#include <QSize>
#include <QStyledItemDelegate>

namespace vistrel {

// Paints one `ResultCard` of a ResultListModel row: the thumbnail in a rounded frame (or a grey
// placeholder), a header row with the application's icon, name and moment, and the snippet with
// the query's spans highlighted, on a faint card with a thin border. Each row fills one grid
// cell; the card is inset by half the spacing between cards.
class ResultCardDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  static constexpr int spacing = 14;
  static constexpr int snippetLines = 3;

  using QStyledItemDelegate::QStyledItemDelegate;

  // The grid cell for a card `cardWidth` wide.
  static QSize cellSize(int cardWidth, const QFont& font);
  void setCellSize(QSize size) { cell_ = size; }

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  QSize cell_{264, 280};
};

}  // namespace vistrel
