#include "Vistrel/gui/shell/NoticeBar.h"

#include <QHBoxLayout>
#include <QLabel>

#include "Vistrel/gui/shell/PaneCatalog.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {

NoticeBar::NoticeBar(AppModel& model, QWidget* parent)
    : QFrame(parent), model_(model), text_(new QLabel(this)) {
  setObjectName(QStringLiteral("noticeBar"));
  setFrameShape(QFrame::StyledPanel);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::AlternateBase);
  auto* mark = new QLabel(this);
  mark->setPixmap(themeIcon(QStringLiteral("emblem-ok")).pixmap(16, 16));
  mark->setAccessibleName(QStringLiteral("Done"));
  text_->setWordWrap(true);
  text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(10, 6, 10, 6);
  row->addWidget(mark);
  row->addWidget(text_, 1);
  connect(&model_, &AppModel::lastNoticeChanged, this, &NoticeBar::refresh);
  refresh();
}

QString NoticeBar::text() const {
  return text_->text();
}

void NoticeBar::refresh() {
  const auto& notice = model_.lastNotice();
  const QString text = notice ? QString::fromStdString(*notice) : QString();
  text_->setText(text);
  // Read as one element: the bar carries the notice as its own name.
  setAccessibleName(notice ? text : QStringLiteral("Notice"));
  setVisible(notice.has_value());
}

}  // namespace vistrel
