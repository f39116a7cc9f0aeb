#pragma once

#include <QListView>

namespace vistrel {

class ResultCardDelegate;

// The result cards in a grid of flexible columns, each card between 250 and 380 pixels wide,
// 14 apart, with 12 pixels of padding round the grid. One click, or Return on the focused card,
// emits `opened` with the card's row; the arrow keys move between cards, and Tab into the grid
// focuses its first card.
class ResultGrid : public QListView {
  Q_OBJECT

 public:
  static constexpr int minimumCardWidth = 250;
  static constexpr int maximumCardWidth = 380;
  static constexpr int padding = 12;

  explicit ResultGrid(QWidget* parent = nullptr);

  // The card width for a grid `width` pixels wide (padding included).
  static int cardWidth(int width);

 Q_SIGNALS:
  void opened(int row);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  void layoutCards();

  ResultCardDelegate* delegate_;
};

}  // namespace vistrel
