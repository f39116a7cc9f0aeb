#pragma once

#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QWidget>
#include <optional>

#include "Vistrel/gui/timeline/ActivityStrip.h"
#include "Vistrel/gui/timeline/FrameLoader.h"
#include "Vistrel/gui/timeline/FrameView.h"
#include "Vistrel/gui/timeline/TimelineTime.h"
#include "Vistrel/model/AppModel.h"

namespace vistrel {

// The Timeline pane: pick a day, see in which hours frames were kept, and step through them.
// Reads the day, its stamps and the current position from the model and writes only those;
// the current frame's summary and image come from a FrameLoader.
class TimelinePane : public QWidget {
  Q_OBJECT

 public:
  explicit TimelinePane(AppModel& model, QWidget* parent = nullptr);
  // With other sources for the frame loader (a test counts what is loaded).
  TimelinePane(AppModel& model, FrameLoader::Sources sources, QWidget* parent = nullptr);

  // Moves the current frame by `delta`, staying inside the day.
  void step(int delta);
  // Selects the first frame at or after `hour`; nothing when the day has none that late.
  void jump(int hour);
  // Moves the shown day by whole calendar days.
  void moveDay(int days);
  bool showsToday() const;
  // Whether a later day may be shown: only while the shown day lies before today.
  bool canMoveForward() const;

  // The controls, for the tests.
  QToolButton* previousDayButton() const { return previousDay_; }
  QDateEdit* datePicker() const { return datePicker_; }
  QToolButton* nextDayButton() const { return nextDay_; }
  QPushButton* todayButton() const { return today_; }
  QLabel* dateLabel() const { return dateLabel_; }
  QLabel* countLabel() const { return countLabel_; }
  bool showsEmptyDay() const;
  QLabel* emptyLine() const { return emptyLine_; }
  ActivityStrip* strip() const { return strip_; }
  QSlider* slider() const { return slider_; }
  FrameView* frameView() const { return frameView_; }
  QLabel* timeLabel() const { return timeLabel_; }
  QLabel* appLabel() const { return appName_; }
  QLabel* titleLabel() const { return title_; }
  QPushButton* copyTextButton() const { return copyText_; }
  QPushButton* openFullSizeButton() const { return openFullSize_; }
  FrameLoader& loader() { return loader_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QWidget* makeHeader();
  QWidget* makeEmptyPage();
  QWidget* makeDayPage();
  void bindKeys();

  void showDay();
  void showFrames();
  void showSummary();
  void pickDate(QDate date);
  std::optional<FrameStamp> currentStamp() const;

  AppModel& model_;
  TimelineTime time_;
  FrameLoader loader_;
  // The frame the loader was last started for; a reload that keeps it does not restart it.
  std::optional<std::int64_t> loadedID_;
  bool loaderStarted_ = false;

  QToolButton* previousDay_ = nullptr;
  QDateEdit* datePicker_ = nullptr;
  QToolButton* nextDay_ = nullptr;
  QPushButton* today_ = nullptr;
  QLabel* dateLabel_ = nullptr;
  QLabel* countLabel_ = nullptr;
  QStackedWidget* body_ = nullptr;
  QWidget* emptyPage_ = nullptr;
  QLabel* emptyLine_ = nullptr;
  QWidget* dayPage_ = nullptr;
  ActivityStrip* strip_ = nullptr;
  QToolButton* previousFrame_ = nullptr;
  QSlider* slider_ = nullptr;
  QToolButton* nextFrame_ = nullptr;
  FrameView* frameView_ = nullptr;
  QLabel* timeLabel_ = nullptr;
  QLabel* appIcon_ = nullptr;
  QLabel* appName_ = nullptr;
  QLabel* title_ = nullptr;
  QPushButton* copyText_ = nullptr;
  QPushButton* openFullSize_ = nullptr;
};

}  // namespace vistrel
