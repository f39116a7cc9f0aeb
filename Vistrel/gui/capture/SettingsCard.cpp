#include "Vistrel/gui/capture/SettingsCard.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "Vistrel/gui/shell/PaneCatalog.h"

namespace vistrel {
namespace {

// The icon as a silhouette in the tint, the way a symbol takes its colour.
QPixmap tinted(const QIcon& icon, QColor tint, int size) {
  QPixmap pixmap = icon.pixmap(size, size);
  if (pixmap.isNull())
    return pixmap;
  QPainter painter(&pixmap);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(pixmap.rect(), tint);
  return pixmap;
}

}  // namespace

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 0.9);
  label->setFont(font);
  label->setForegroundRole(QPalette::PlaceholderText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

SettingsHeader::SettingsHeader(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent),
      icon_(new QLabel(this)),
      title_(new QLabel(title, this)),
      subtitle_(secondaryLabel(subtitle, this)) {
  QFont titleFont = title_->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.7);
  titleFont.setBold(true);
  title_->setFont(titleFont);
  title_->setWordWrap(true);
  icon_->hide();

  auto* texts = new QVBoxLayout;
  texts->setSpacing(4);
  texts->addWidget(title_);
  texts->addWidget(subtitle_);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(12);
  row->addWidget(icon_, 0, Qt::AlignTop);
  row->addLayout(texts, 1);
}

void SettingsHeader::setTitle(const QString& title) {
  title_->setText(title);
}

void SettingsHeader::setIcon(const QIcon& icon) {
  icon_->setPixmap(icon.pixmap(48, 48));
  icon_->setVisible(!icon.isNull());
}

SettingsCard::SettingsCard(const QString& title, const QString& symbol, QColor tint,
                           QWidget* parent)
    : QFrame(parent), symbol_(symbol), symbolLabel_(new QLabel(this)), content_(new QVBoxLayout) {
  setFrameShape(QFrame::StyledPanel);
  setAccessibleName(title);
  auto* titleLabel = new QLabel(title, this);
  QFont titleFont = titleLabel->font();
  titleFont.setWeight(QFont::DemiBold);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.1);
  titleLabel->setFont(titleFont);

  auto* heading = new QHBoxLayout;
  heading->setSpacing(6);
  heading->addWidget(symbolLabel_);
  heading->addWidget(titleLabel, 1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(14, 12, 14, 14);
  column->setSpacing(10);
  column->addLayout(heading);
  column->addLayout(content_);
  content_->setSpacing(8);
  setTint(tint);
}

void SettingsCard::setTint(QColor tint) {
  const QPixmap pixmap = symbol_.isEmpty() ? QPixmap() : tinted(themeIcon(symbol_), tint, 18);
  symbolLabel_->setPixmap(pixmap);
  symbolLabel_->setVisible(!pixmap.isNull());
}

}  // namespace vistrel
