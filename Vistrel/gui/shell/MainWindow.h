#pragma once

#include <QMainWindow>
#include <map>

#include "Vistrel/model/AppModel.h"

class QStackedWidget;

namespace vistrel {

class FrameSheetHost;
class NoticeBar;
class Sidebar;
class StatusBadge;

// The main window "main": the sidebar of panes with the capture status at its foot, the
// selected pane with the notice bar under it, the frame sheet, and the Go and Help menus.
// Closing hides it to the tray when there is one; without a tray it only minimises, so the
// user can always get back to it.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  MainWindow(AppModel& model, bool offersUpdateCheck, QWidget* parent = nullptr);

  // Whether closing may hide the window (a tray icon leads back to it).
  void setHidesToTray(bool hides) { hidesToTray_ = hides; }
  // Shows the window, restored and in front.
  void present();
  // The detail area's widget for a pane.
  void setPaneWidget(Pane pane, QWidget* widget);
  QWidget* paneWidget(Pane pane) const;

  Sidebar* sidebar() const { return sidebar_; }
  StatusBadge* statusBadge() const { return statusBadge_; }
  NoticeBar* noticeBar() const { return noticeBar_; }

 Q_SIGNALS:
  void checkForUpdatesRequested();
  void moreAppsRequested();
  void quitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus(bool offersUpdateCheck);
  void showAbout();
  void showCurrentPane();

  AppModel& model_;
  Sidebar* sidebar_;
  StatusBadge* statusBadge_;
  QStackedWidget* detail_;
  NoticeBar* noticeBar_;
  FrameSheetHost* frameSheet_;
  std::map<Pane, QWidget*> panes_;
  bool hidesToTray_ = true;
};

}  // namespace vistrel
