#include "Vistrel/gui/common/PaneHeader.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vistrel {

PaneHeader::PaneHeader(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent) {
  auto* titleLabel = new QLabel(title, this);
  QFont large = titleLabel->font();
  large.setPointSizeF(large.pointSizeF() * 1.7);
  large.setBold(true);
  titleLabel->setFont(large);
  titleLabel->setAccessibleName(title);
  auto* subtitleLabel = new QLabel(subtitle, this);
  subtitleLabel->setWordWrap(true);
  subtitleLabel->setForegroundRole(QPalette::PlaceholderText);
  subtitleLabel->setAccessibleName(subtitle);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 4);
  column->setSpacing(2);
  column->addWidget(titleLabel);
  column->addWidget(subtitleLabel);
}

}  // namespace vistrel
