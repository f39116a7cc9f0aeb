#pragma once

#include <QWidget>

#include "Vistrel/model/AppModel.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace vistrel {

class ResultGrid;
class ResultListModel;

// The Search pane: the search field, the App and When filters, the summary line and tip, and
// the result area (the history can't be opened, nothing saved yet, no frames, or the grid of
// result cards). The search runs in the model; this screen decides when: at once on Return and
// on a filter change, after the model's short wait while typing, and when the pane is shown
// without hits. Ctrl+F anywhere in the window brings the pane and focuses the field.
class SearchPane : public QWidget {
  Q_OBJECT

 public:
  explicit SearchPane(AppModel& model, QWidget* parent = nullptr);

  QLineEdit* field() const { return field_; }
  QAction* clearAction() const { return clear_; }
  QComboBox* appPicker() const { return apps_; }
  QComboBox* rangePicker() const { return range_; }
  QLabel* summary() const { return summary_; }
  ResultGrid* grid() const { return grid_; }
  ResultListModel* results() const { return results_; }
  // The title of the message shown instead of the grid; empty while the grid shows.
  QString messageTitle() const;
  QPushButton* messageButton() const { return messageButton_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildMessagePage();
  void typed(const QString& text);
  void refreshField();
  void refreshApps();
  void refreshRange();
  void refreshResults();
  void showMessage(const QString& iconName, const QString& title, const QString& text,
                   const QString& button = {}, Pane target = Pane::search, bool accent = false);
  void openCard(int row);
  void focusField();

  AppModel& model_;
  QLineEdit* field_;
  QAction* clear_;
  QComboBox* apps_;
  QComboBox* range_;
  QLabel* summary_;
  QLabel* tip_;
  QStackedWidget* area_;
  QWidget* messagePage_;
  QLabel* messageIcon_;
  QLabel* messageTitle_;
  QLabel* messageText_;
  QPushButton* messageButton_;
  Pane messageTarget_ = Pane::search;
  ResultGrid* grid_;
  ResultListModel* results_;
};

}  // namespace vistrel
