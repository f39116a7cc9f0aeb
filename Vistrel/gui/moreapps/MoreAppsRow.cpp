#include "Vistrel/gui/moreapps/MoreAppsRow.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyleOption>
#include <QUrl>
#include <QVBoxLayout>

#include "MoreAppsKit/MoreAppsLinks.h"
#include "MoreAppsKit/MoreAppsSite.h"
#include "Vistrel/gui/common/Tint.h"
#include "Vistrel/gui/shell/PaneCatalog.h"

namespace vistrel {

QIcon moreAppsIcon(const QString& symbol) {
  QIcon icon = themeIcon(symbol);
  if (icon.isNull())
    icon = themeIcon(QStringLiteral("application-x-executable"));
  return icon;
}

MoreAppsRow::MoreAppsRow(const MoreAppsEntry& entry, const MoreAppsConfig& config,
                         const QString& language, QWidget* parent)
    : QAbstractButton(parent), link_(QString::fromStdString(entryLink(entry, config))) {
  const std::string code = language.toStdString();
  const QString name = QString::fromStdString(entry.displayName(code));
  const QString detail = QString::fromStdString(entry.displayDetail(code));
  const QString host = QUrl(link_).host().toLower();
  const QString store = QString::fromStdString(moreAppsSite().storeHost);
  const bool inStore = host == store || host.endsWith(QLatin1Char('.') + store);

  auto* icon = new QLabel(this);
  icon->setPixmap(
      tintedPixmap(moreAppsIcon(QString::fromStdString(entry.symbol)), tintColor(entry.tint), 28));
  auto* nameLabel = new QLabel(name, this);
  QFont semibold = nameLabel->font();
  semibold.setWeight(QFont::DemiBold);
  nameLabel->setFont(semibold);
  auto* detailLabel = new QLabel(detail, this);
  detailLabel->setWordWrap(true);
  detailLabel->setForegroundRole(QPalette::PlaceholderText);
  for (QLabel* label : {icon, nameLabel, detailLabel})
    label->setAttribute(Qt::WA_TransparentForMouseEvents);

  auto* texts = new QVBoxLayout;
  texts->setSpacing(1);
  texts->addWidget(nameLabel);
  texts->addWidget(detailLabel);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(8, 6, 8, 6);
  row->setSpacing(10);
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addLayout(texts, 1);

  setCursor(Qt::PointingHandCursor);
  setAccessibleName(name);
  setAccessibleDescription(detail + (inStore
                                         ? QStringLiteral(" Opens the app on Flathub.")
                                         : QStringLiteral(" Opens the app on the maker's site.")));
  setToolTip(link_);
  connect(this, &QAbstractButton::clicked, this,
          [this] { QDesktopServices::openUrl(QUrl(link_)); });
}

QSize MoreAppsRow::sizeHint() const {
  return layout()->sizeHint();
}

void MoreAppsRow::paintEvent(QPaintEvent*) {
  if (!underMouse() && !hasFocus() && !isDown())
    return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  QColor highlight = palette().color(QPalette::Highlight);
  highlight.setAlpha(isDown() ? 70 : 35);
  painter.setBrush(highlight);
  painter.drawRoundedRect(rect().adjusted(1, 1, -1, -1), 6, 6);
}

}  // namespace vistrel
