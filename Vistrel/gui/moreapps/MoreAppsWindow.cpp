#include "Vistrel/gui/moreapps/MoreAppsWindow.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include "MoreAppsKit/network/MoreAppsBackgroundRefresh.h"
#include "MoreAppsKit/network/MoreAppsNetworkTransport.h"
#include "Vistrel/gui/moreapps/MoreAppsRow.h"

namespace vistrel {

QString moreAppsHelperText(bool isDirect) {
  if (!isDirect)
    return QStringLiteral("Each one opens on Flathub.");
  return QStringLiteral("Apps on Flathub open there; the others open on the maker\u2019s site.");
}

MoreAppsWindow::MoreAppsWindow(MoreAppsList list, QWidget* parent)
    : QMainWindow(parent),
      list_(std::move(list)),
      rows_(new QVBoxLayout),
      empty_(new QLabel(QStringLiteral("No other apps to show right now."))) {
  setObjectName(QStringLiteral("moreAppsWindow"));
  setWindowTitle(QStringLiteral("More Apps"));
  setAccessibleName(windowTitle());
  resize(440, 400);

  auto* page = new QWidget;
  auto* pageColumn = new QVBoxLayout(page);
  pageColumn->setContentsMargins(8, 8, 8, 8);
  rows_->setSpacing(2);
  pageColumn->addLayout(rows_);
  pageColumn->addStretch(1);
  auto* central = new QWidget(this);
  auto* scroll = new QScrollArea(central);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidget(page);

  empty_->setAlignment(Qt::AlignCenter);
  empty_->setForegroundRole(QPalette::PlaceholderText);
  empty_->setAccessibleName(empty_->text());
  const QString helperText = moreAppsHelperText(list_.config().isDirect);
  auto* helper = new QLabel(helperText, central);
  helper->setWordWrap(true);
  helper->setForegroundRole(QPalette::PlaceholderText);
  helper->setAccessibleName(helperText);

  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(12, 12, 12, 12);
  column->addWidget(scroll, 1);
  column->addWidget(empty_);
  column->addWidget(helper);
  setCentralWidget(central);
  refreshRows();
}

std::unique_ptr<MoreAppsWindow> MoreAppsWindow::forVistrel() {
  return std::make_unique<MoreAppsWindow>(
      MoreAppsList(MoreAppsConfig::vistrel(), moreAppsProductLoader()));
}

void MoreAppsWindow::present() {
  if (!placed_) {
    placed_ = true;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - rect().center());
  }
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void MoreAppsWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // One refresh at a time: the loader's cache folder takes no concurrent refreshes, and a window
  // shown again while one runs gets its answer all the same.
  if (event->spontaneous() || !list_.config().allowsNetwork || refreshing_)
    return;
  refreshing_ = true;
  refreshInBackground(list_.loader(), this, [this](std::optional<MoreAppsFeed> feed) {
    refreshing_ = false;
    if (!feed)
      return;
    list_.showNetworkCopy(std::move(*feed));
    refreshRows();
  });
}

void MoreAppsWindow::refreshRows() {
  while (QLayoutItem* item = rows_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const QString language = QLocale().name().section(QLatin1Char('_'), 0, 0);
  for (const MoreAppsEntry& entry : list_.apps())
    rows_->addWidget(new MoreAppsRow(entry, list_.config(), language));
  empty_->setVisible(list_.apps().empty());
}

}  // namespace vistrel
