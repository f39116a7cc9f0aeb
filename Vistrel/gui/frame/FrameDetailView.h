#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>

#include "Vistrel/model/AppModel.h"

class QLabel;
class QMessageBox;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace vistrel {

class FrameCanvas;

// One stored frame full size: a header (icon, application, window title, capture time, "Actual
// Size", "Done"), the canvas with the matches of the query that led here, and a column with the
// frame's text (matching spans highlighted, matching lines tinted) and its actions: copy the
// text, copy the image, show it in the timeline, delete it after a confirmation. The summary and
// image load in the background when the view opens; what has not arrived leaves its busy
// indicator and makes its actions do nothing.
class FrameDetailView : public QWidget {
  Q_OBJECT

 public:
  FrameDetailView(AppModel& model, OpenFrame open, std::function<void()> dismiss,
                  QWidget* parent = nullptr);

  // Shows another frame: everything starts fresh.
  void setOpenFrame(OpenFrame open);

  FrameCanvas* canvas() const { return canvas_; }
  QScrollArea* canvasScroll() const { return canvasScroll_; }
  QPushButton* actualSizeButton() const { return actualSize_; }
  QPushButton* copyTextButton() const { return copyText_; }
  QPushButton* copyImageButton() const { return copyImage_; }
  QPushButton* timelineButton() const { return timeline_; }
  QPushButton* deleteButton() const { return delete_; }
  // The text panel's rows (one label per line), in order.
  QList<QLabel*> textRows() const { return rows_; }
  // Whether a row is tinted as a matching line.
  static bool isTinted(const QLabel* row);
  const std::optional<FrameSummary>& summary() const { return summary_; }
  QMessageBox* deleteConfirmation() const { return confirmation_; }

 Q_SIGNALS:
  // The summary or the image arrived (for the tests and benchmarks).
  void summaryLoaded();
  void imageLoaded();

 private:
  QWidget* buildHeader();
  QWidget* buildSideColumn();
  void load();
  void showSummary();
  void clearRows();
  void confirmDelete();

  AppModel& model_;
  OpenFrame open_;
  std::function<void()> dismiss_;
  std::optional<FrameSummary> summary_;
  std::optional<Image> image_;
  // Numbers the loads, so that an answer for a frame no longer shown is dropped.

  QLabel* icon_;
  QLabel* appName_;
  QLabel* title_;
  QLabel* date_;
  QPushButton* actualSize_;
  QPushButton* done_;
  FrameCanvas* canvas_;
  QScrollArea* canvasScroll_;
  QWidget* textBusy_;
  QLabel* noText_;
  QVBoxLayout* rowsLayout_;
  QList<QLabel*> rows_;
  QPushButton* copyText_;
  QPushButton* copyImage_;
  QPushButton* timeline_;
  QPushButton* delete_;
  QMessageBox* confirmation_ = nullptr;
};

}  // namespace vistrel
