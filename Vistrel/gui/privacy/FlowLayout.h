#pragma once

#include <QLayout>
#include <QList>

namespace vistrel {

// Lays its items out left to right and starts a new line when the next one does not fit the
// width, like words in a paragraph.
class FlowLayout : public QLayout {
 public:
  explicit FlowLayout(QWidget* parent = nullptr, int spacing = 6);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  Qt::Orientations expandingDirections() const override;
  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;
  QSize minimumSize() const override;
  QSize sizeHint() const override;
  void setGeometry(const QRect& rect) override;

 private:
  // Places the items in `rect` (only measures when `place` is false); answers the height used.
  int arrange(const QRect& rect, bool place) const;

  QList<QLayoutItem*> items_;
  int gap_;
};

}  // namespace vistrel
