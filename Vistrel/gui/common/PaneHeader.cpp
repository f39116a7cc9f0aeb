#include "Vistrel/gui/common/PaneHeader.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vistrel {

PaneHeader::PaneHeader(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), title_(new QLabel(title, this)) {
  QLabel* titleLabel = title_;
  QFont large = titleLabel->font();
  large.setPointSizeF(large.pointSizeF() * 1.7);
  large.setBold(true);
  titleLabel->setFont(large);
  titleLabel->setAccessibleName(title);
  auto* subtitleLabel = new QLabel(subtitle, this);
  subtitleLabel->setWordWrap(true);
  subtitleLabel->setForegroundRole(QPalette::PlaceholderText);
  subtitleLabel->setAccessibleName(subtitle);
  icon_->hide();
  auto* column = new QVBoxLayout;
  column->setSpacing(2);
  column->addWidget(titleLabel);
  column->addWidget(subtitleLabel);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 4);
  row->setSpacing(12);
  row->addWidget(icon_, 0, Qt::AlignTop);
  row->addLayout(column, 1);
}

void PaneHeader::setTitle(const QString& title) {
  title_->setText(title);
  title_->setAccessibleName(title);
}

void PaneHeader::setIcon(const QIcon& icon) {
  icon_->setPixmap(icon.pixmap(48, 48));
  icon_->setVisible(!icon.isNull());
}

}  // namespace vistrel
