#pragma once

#include <QObject>

class QDialog;
class QWidget;

namespace vistrel {

class AppModel;

// Shows the frame sheet over the main window while the model has an open frame, and clears
// the open frame when the user closes the sheet. Until the frame view exists the sheet says so.
class FrameSheetHost : public QObject {
  Q_OBJECT

 public:
  FrameSheetHost(AppModel& model, QWidget* window);

  QDialog* sheet() const { return sheet_; }

 private:
  void refresh();

  AppModel& model_;
  QWidget* window_;
  QDialog* sheet_ = nullptr;
};

}  // namespace vistrel
