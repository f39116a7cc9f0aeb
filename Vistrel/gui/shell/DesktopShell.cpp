#include "Vistrel/gui/shell/DesktopShell.h"

#include <QApplication>
#include <QSystemTrayIcon>

#include "Vistrel/gui/moreapps/MoreAppsWindow.h"
#include "Vistrel/gui/shell/MainWindow.h"
#include "Vistrel/gui/shell/TrayIcons.h"
#include "Vistrel/gui/shell/TrayMenu.h"
#include "Vistrel/gui/update/UpdateChecker.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {
namespace {

#ifdef VISTREL_UPDATE_CHECK
constexpr bool offersUpdateCheck = true;
#else
constexpr bool offersUpdateCheck = false;
#endif

}  // namespace

DesktopShell::DesktopShell(AppModel& model, QObject* parent) : QObject(parent), model_(model) {
  if (offersUpdateCheck) {
    updater_ = new UpdateChecker(UpdateChecker::configuredFeed(),
                                 QGuiApplication::applicationDisplayName(),
                                 QCoreApplication::applicationVersion(), this);
  }
  menu_ = std::make_unique<TrayMenu>(model_, offersUpdateCheck);
  window_ = std::make_unique<MainWindow>(model_, offersUpdateCheck);
  if (updater_) {
    connect(menu_.get(), &TrayMenu::checkForUpdatesRequested, updater_,
            &UpdateChecker::checkForUpdates);
    connect(window_.get(), &MainWindow::checkForUpdatesRequested, updater_,
            &UpdateChecker::checkForUpdates);
  }
  connect(menu_.get(), &TrayMenu::moreAppsRequested, this, &DesktopShell::showMoreApps);
  connect(window_.get(), &MainWindow::moreAppsRequested, this, &DesktopShell::showMoreApps);
  connect(menu_.get(), &TrayMenu::quitRequested, this, &DesktopShell::quitRequested);
  connect(window_.get(), &MainWindow::quitRequested, this, &DesktopShell::quitRequested);
}

DesktopShell::~DesktopShell() {
  AppModel::installOpenMainWindow({});
  // The icon goes before the menu it shows.
  delete tray_;
}

void DesktopShell::start() {
  const bool hasTray = QSystemTrayIcon::isSystemTrayAvailable();
  window_->setHidesToTray(hasTray);
  if (hasTray) {
    tray_ = new QSystemTrayIcon(this);
    tray_->setContextMenu(menu_.get());
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
              if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                model_.showMainWindow(model_.pane());
            });
    connect(&model_, &AppModel::menuBarSymbolChanged, this, &DesktopShell::refreshTray);
    connect(&model_, &AppModel::statusLineChanged, this, &DesktopShell::refreshTray);
    refreshTray();
    tray_->show();
  }
  AppModel::installOpenMainWindow([this] { openMainWindow(); });
  if (!model_.config().onboardingDone)
    model_.showMainWindow(Pane::capture);
  else if (!hasTray)
    model_.showMainWindow(model_.pane());
}

void DesktopShell::activate() {
  model_.showMainWindow(model_.pane());
}

void DesktopShell::refreshTray() {
  tray_->setIcon(trayIcon(model_.menuBarSymbol()));
  tray_->setToolTip(QStringLiteral("Vistrel: ") + QString::fromStdString(model_.statusLine()));
}

void DesktopShell::openMainWindow() {
  window_->present();
}

void DesktopShell::showMoreApps() {
  if (!moreApps_)
    moreApps_ = MoreAppsWindow::forVistrel();
  moreApps_->present();
}

}  // namespace vistrel
