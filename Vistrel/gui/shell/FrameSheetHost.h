#pragma once

#include <QObject>

class QDialog;
class QWidget;

namespace vistrel {

class AppModel;
class FrameDetailView;

// Shows the frame sheet (a window-modal dialog holding the frame view) over the main window
// while the model has an open frame, and clears the open frame when the user closes the sheet
// ("Done" or Escape). When the model clears it (a deletion, Show in Timeline) the sheet goes.
class FrameSheetHost : public QObject {
  Q_OBJECT

 public:
  FrameSheetHost(AppModel& model, QWidget* window);

  QDialog* sheet() const { return sheet_; }
  FrameDetailView* view() const { return view_; }

 private:
  void refresh();

  AppModel& model_;
  QWidget* window_;
  QDialog* sheet_ = nullptr;
  FrameDetailView* view_ = nullptr;
};

}  // namespace vistrel
