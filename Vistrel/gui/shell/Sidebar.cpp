#include "Vistrel/gui/shell/Sidebar.h"

#include <QPainter>
#include <QStyledItemDelegate>

#include "Vistrel/gui/shell/PaneCatalog.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {
namespace {

constexpr int badgeRole = Qt::UserRole + 1;

class BadgeDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    const int badge = index.data(badgeRole).toInt();
    if (badge == 0)
      return;
    const QString text = QString::number(badge);
    const int height = option.fontMetrics.height();
    const int width = std::max(height, option.fontMetrics.horizontalAdvance(text) + 8);
    const QRect pill(option.rect.right() - width - 8, option.rect.center().y() - height / 2, width,
                     height);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor(0xd9, 0x2d, 0x20));
    painter->drawRoundedRect(pill, height / 2.0, height / 2.0);
    painter->setPen(Qt::white);
    painter->drawText(pill, Qt::AlignCenter, text);
    painter->restore();
  }
};

}  // namespace

Sidebar::Sidebar(AppModel& model, QWidget* parent) : QListWidget(parent), model_(model) {
  setObjectName(QStringLiteral("sidebar"));
  setAccessibleName(QStringLiteral("Sections"));
  setItemDelegate(new BadgeDelegate(this));
  setMinimumWidth(170);
  setIconSize(QSize(18, 18));
  setFrameShape(QFrame::NoFrame);
  for (const PaneInfo& info : paneCatalog()) {
    auto* item = new QListWidgetItem(themeIcon(info.iconName), info.title, this);
    item->setData(Qt::AccessibleTextRole, info.title);
    item->setSizeHint(QSize(0, 30));
  }
  setCurrentRow(static_cast<int>(model_.pane()));
  connect(this, &QListWidget::currentRowChanged, this, &Sidebar::showPane);
  connect(&model_, &AppModel::paneChanged, this,
          [this] { setCurrentRow(static_cast<int>(model_.pane())); });
  for (const auto signal : {&AppModel::configChanged, &AppModel::screenRecordingChanged,
                            &AppModel::libraryProblemChanged})
    connect(&model_, signal, this, &Sidebar::refreshBadges);
  refreshBadges();
}

int Sidebar::badge(int row) const {
  return item(row)->data(badgeRole).toInt();
}

void Sidebar::showPane() {
  const int row = currentRow();
  if (row >= 0 && row < static_cast<int>(paneCatalog().size()))
    model_.setPane(paneCatalog()[row].pane);
}

void Sidebar::refreshBadges() {
  for (int row = 0; row < count(); ++row) {
    const int badge = paneBadge(model_, paneCatalog()[row].pane);
    if (item(row)->data(badgeRole).toInt() == badge)
      continue;
    item(row)->setData(badgeRole, badge);
    item(row)->setData(Qt::AccessibleDescriptionRole,
                       badge == 0 ? QString() : QStringLiteral("%1 to look at").arg(badge));
  }
}

}  // namespace vistrel
