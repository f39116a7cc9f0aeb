#include "Vistrel/gui/shell/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "Vistrel/gui/shell/FrameSheetHost.h"
#include "Vistrel/gui/shell/NoticeBar.h"
#include "Vistrel/gui/shell/PaneCatalog.h"
#include "Vistrel/gui/shell/PaneFactory.h"
#include "Vistrel/gui/shell/Sidebar.h"
#include "Vistrel/gui/shell/StatusBadge.h"

namespace vistrel {
namespace {

const QString aboutText = QStringLiteral(
    "<p>A private, searchable history of your screen.</p>"
    "<p>Your history stays on this computer: frames and their text are encrypted with a key in "
    "your keyring and never sent anywhere.</p>"
    "<p>The only network requests are the update checks and the list of other apps.</p>"
    "<p>Support: support@tevrin77.com</p>");

}  // namespace

MainWindow::MainWindow(AppModel& model, bool offersUpdateCheck, QWidget* parent)
    : QMainWindow(parent),
      model_(model),
      sidebar_(new Sidebar(model, this)),
      statusBadge_(new StatusBadge(model, this)),
      detail_(new QStackedWidget(this)),
      noticeBar_(new NoticeBar(model, this)),
      frameSheet_(new FrameSheetHost(model, this)) {
  setObjectName(QStringLiteral("main"));
  setWindowTitle(QStringLiteral("Vistrel"));
  setAccessibleName(QStringLiteral("Vistrel"));
  resize(900, 600);

  auto* sideColumn = new QWidget(this);
  sideColumn->setMaximumWidth(230);
  auto* side = new QVBoxLayout(sideColumn);
  side->setContentsMargins(0, 0, 0, 0);
  side->addWidget(sidebar_, 1);
  side->addWidget(statusBadge_);

  auto* detailColumn = new QWidget(this);
  auto* detail = new QVBoxLayout(detailColumn);
  detail->setContentsMargins(0, 0, 0, 0);
  detail->addWidget(detail_, 1);
  auto* noticeMargin = new QVBoxLayout;
  noticeMargin->setContentsMargins(10, 10, 10, 10);
  noticeMargin->addWidget(noticeBar_);
  detail->addLayout(noticeMargin);

  auto* central = new QWidget(this);
  auto* columns = new QHBoxLayout(central);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(0);
  columns->addWidget(sideColumn);
  columns->addWidget(detailColumn, 1);
  setCentralWidget(central);

  for (const PaneInfo& info : paneCatalog())
    setPaneWidget(info.pane, createPane(info.pane, model_, this));
  connect(&model_, &AppModel::paneChanged, this, &MainWindow::showCurrentPane);
  showCurrentPane();
  buildMenus(offersUpdateCheck);
}

void MainWindow::setPaneWidget(Pane pane, QWidget* widget) {
  if (QWidget* old = panes_[pane]) {
    detail_->removeWidget(old);
    old->deleteLater();
  }
  panes_[pane] = widget;
  detail_->addWidget(widget);
  showCurrentPane();
}

QWidget* MainWindow::paneWidget(Pane pane) const {
  const auto found = panes_.find(pane);
  return found == panes_.end() ? nullptr : found->second;
}

void MainWindow::showCurrentPane() {
  if (QWidget* widget = paneWidget(model_.pane()))
    detail_->setCurrentWidget(widget);
}

void MainWindow::present() {
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (hidesToTray_) {
    event->accept();
    return;
  }
  // No tray to come back through: keep the window, out of the way.
  event->ignore();
  showMinimized();
}

void MainWindow::buildMenus(bool offersUpdateCheck) {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* quit = file->addAction(QStringLiteral("Quit Vistrel"));
  quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
  connect(quit, &QAction::triggered, this, &MainWindow::quitRequested);

  QMenu* go = menuBar()->addMenu(QStringLiteral("&Go"));
  int number = 1;
  for (const PaneInfo& info : paneCatalog()) {
    QAction* entry = go->addAction(themeIcon(info.iconName), info.title);
    entry->setShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(number++)));
    connect(entry, &QAction::triggered, this,
            [this, pane = info.pane] { model_.showMainWindow(pane); });
  }

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* howTo =
      help->addAction(themeIcon(QStringLiteral("help-browser")), QStringLiteral("How to Use"));
  howTo->setShortcut(QKeySequence(Qt::Key_F1));
  connect(howTo, &QAction::triggered, this, [this] { model_.showMainWindow(Pane::help); });
  help->addSeparator();
  if (offersUpdateCheck) {
    connect(help->addAction(QStringLiteral("Check for Updates\u2026")), &QAction::triggered, this,
            &MainWindow::checkForUpdatesRequested);
  }
  connect(help->addAction(QStringLiteral("More Apps\u2026")), &QAction::triggered, this,
          &MainWindow::moreAppsRequested);
  help->addSeparator();
  connect(help->addAction(QStringLiteral("About Vistrel")), &QAction::triggered, this,
          &MainWindow::showAbout);
}

void MainWindow::showAbout() {
  QMessageBox::about(
      this, QStringLiteral("About Vistrel"),
      QStringLiteral("<h3>Vistrel %1</h3>").arg(QCoreApplication::applicationVersion()) +
          aboutText);
}

}  // namespace vistrel
