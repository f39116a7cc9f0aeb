#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

class QSystemTrayIcon;

namespace vistrel {

class AppModel;
class MainWindow;
class MoreAppsWindow;
class TrayMenu;
class UpdateChecker;

// The desktop face of the application: the tray icon and its menu, the main window, the update
// check and the other-apps window. It opens the main window for the model (the model's
// showMainWindow reaches it once start has run), and on a first launch, or on a desktop
// without a tray, opens the window on start.
class DesktopShell : public QObject {
  Q_OBJECT

 public:
  explicit DesktopShell(AppModel& model, QObject* parent = nullptr);
  ~DesktopShell() override;

  void start();
  // A second start of Vistrel asked for the window.
  void activate();

  MainWindow* mainWindow() const { return window_.get(); }
  QSystemTrayIcon* tray() const { return tray_; }

 Q_SIGNALS:
  void quitRequested();

 private:
  void refreshTray();
  void openMainWindow();
  void showMoreApps();

  AppModel& model_;
  UpdateChecker* updater_ = nullptr;
  std::unique_ptr<TrayMenu> menu_;
  QSystemTrayIcon* tray_ = nullptr;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<MoreAppsWindow> moreApps_;
};

}  // namespace vistrel
