#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QScrollArea>

class QComboBox;
class QLabel;

class QPushButton;

namespace vistrel {

class AppModel;
class Card;
class FolderRow;

// The Storage pane: what the history costs (frames, bytes, today, oldest), how long it lives
// (retention and disk cap), the deletions, and how it is kept. Everything is read from the model
// and redrawn when it changes; the pickers write the settings, the buttons call its actions.
class StoragePane : public QScrollArea {
  Q_OBJECT

 public:
  explicit StoragePane(AppModel& model, QWidget* parent = nullptr);

  QComboBox* retentionPicker() const { return retention_; }
  QComboBox* capPicker() const { return cap_; }
  // The delete-everything confirmation while it is shown.
  QMessageBox* confirmation() const { return confirmation_; }
  bool confirmAll() const { return confirmAll_; }
  // Asks "Delete the whole history?" (what "Delete Everything…" does).
  void askToDeleteEverything();

 private:
  QWidget* buildFigures(QWidget* parent);
  Card* buildLimits(QWidget* parent);
  Card* buildDelete(QWidget* parent);
  Card* buildKept(QWidget* parent);
  void refreshKeyPlace();
  void refreshProblem();
  void refreshFigures();
  void refreshLimits();

  AppModel& model_;
  Card* problemCard_ = nullptr;
  QLabel* problemText_ = nullptr;
  QWidget* framesFigure_ = nullptr;
  QWidget* bytesFigure_ = nullptr;
  QWidget* todayFigure_ = nullptr;
  QWidget* oldestFigure_ = nullptr;
  QComboBox* retention_ = nullptr;
  QComboBox* cap_ = nullptr;
  QLabel* deleteText_ = nullptr;
  QLabel* keptText_ = nullptr;
  bool confirmAll_ = false;
  QPointer<QMessageBox> confirmation_;
};

}  // namespace vistrel
