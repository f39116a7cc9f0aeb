#include "Vistrel/gui/common/Card.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Vistrel/gui/common/Tint.h"
#include "Vistrel/gui/shell/PaneCatalog.h"

namespace vistrel {

Card::Card(const QString& title, const QString& iconName, const QColor& tint, QWidget* parent)
    : QFrame(parent), iconName_(iconName), content_(new QVBoxLayout) {
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::AlternateBase);
  setAccessibleName(title);

  auto* heading = new QHBoxLayout;
  heading->setSpacing(8);
  if (!iconName.isEmpty()) {
    symbol_ = new QLabel(this);
    heading->addWidget(symbol_);
    setTint(tint);
  }
  auto* titleLabel = new QLabel(title, this);
  QFont bold = titleLabel->font();
  bold.setBold(true);
  titleLabel->setFont(bold);
  titleLabel->setAccessibleName(title);
  heading->addWidget(titleLabel, 1);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(14, 12, 14, 14);
  column->setSpacing(10);
  column->addLayout(heading);
  content_->setSpacing(8);
  column->addLayout(content_);
}

void Card::setTint(const QColor& tint) {
  if (symbol_)
    symbol_->setPixmap(tintedPixmap(themeIcon(iconName_), tint, 18));
}

QWidget* Card::titledRow(const QString& title, const QString& text, QWidget* parent) {
  auto* row = new QWidget(parent);
  auto* titleLabel = new QLabel(title, row);
  QFont semibold = titleLabel->font();
  semibold.setWeight(QFont::DemiBold);
  titleLabel->setFont(semibold);
  auto* textLabel = new QLabel(text, row);
  textLabel->setWordWrap(true);
  textLabel->setForegroundRole(QPalette::PlaceholderText);
  // One element for a screen reader: the row says both; its labels stay out of the way.
  row->setAccessibleName(title);
  row->setAccessibleDescription(text);
  titleLabel->setAccessibleName(title);
  textLabel->setAccessibleName(text);
  auto* column = new QVBoxLayout(row);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(1);
  column->addWidget(titleLabel);
  column->addWidget(textLabel);
  return row;
}

QLabel* Card::note(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setForegroundRole(QPalette::PlaceholderText);
  QFont small = label->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  label->setFont(small);
  label->setAccessibleName(text);
  return label;
}

}  // namespace vistrel
