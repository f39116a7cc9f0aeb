#include "Vistrel/gui/help/MoreAppsFooter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vistrel {

MoreAppsFooter::MoreAppsFooter(QWidget* parent) : QWidget(parent) {
  const QString text = QStringLiteral(
      "Vistrel is made by Tevrin77, who also makes other small apps for your "
      "computer.");
  auto* caption = new QLabel(text, this);
  caption->setWordWrap(true);
  caption->setForegroundRole(QPalette::PlaceholderText);
  QFont small = caption->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  caption->setFont(small);
  caption->setAccessibleName(text);
  auto* more = new QPushButton(QStringLiteral("More Apps\u2026"), this);
  more->setAccessibleName(more->text());
  more->setFont(small);
  connect(more, &QPushButton::clicked, this, &MoreAppsFooter::moreAppsRequested);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(caption, 1);
  row->addWidget(more);
}

}  // namespace vistrel
