#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "Vistrel/gui/timeline/TimelineTime.h"
#include "VistrelKit/library/FrameRecords.h"

namespace vistrel {

// One hour of the strip: a rounded bar standing on the bottom of its column, and a button that
// jumps to that hour.
class HourBar : public QAbstractButton {
  Q_OBJECT

 public:
  HourBar(int hour, QWidget* parent);

  void setCount(int count, int scale, bool current);
  int hour() const { return hour_; }
  int count() const { return count_; }
  int barHeight() const { return barHeight_; }
  QColor barColour() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int hour_;
  int count_ = 0;
  int barHeight_ = 4;
  bool current_ = false;
};

// How many frames each hour of a day holds, as 24 bars under which four hours are labelled.
// Shows what it is given and holds no state of its own; a click on a bar calls `jump` with its
// hour.
class ActivityStrip : public QWidget {
  Q_OBJECT

 public:
  static constexpr int bandHeight = 42;
  static constexpr int spacing = 3;
  static constexpr int tallest = 40;
  static constexpr int stub = 4;

  explicit ActivityStrip(TimelineTime time, QWidget* parent = nullptr);

  // The day's stamps (oldest first), a moment of the shown day, and the current frame's time.
  void show(const std::vector<FrameStamp>& stamps, Date day, std::optional<Date> current);
  // Reads hours in another zone from the next show on.
  void setTime(TimelineTime time);

  std::function<void(int hour)> jump;

  static std::array<int, 24> hourCounts(const std::vector<FrameStamp>& stamps,
                                        const TimelineTime& time);
  // The busiest hour's count, never below 1.
  static int scale(const std::array<int, 24>& counts);
  static int barHeight(int count, int scale);

  const std::array<HourBar*, 24>& bars() const { return bars_; }
  const std::array<QLabel*, 4>& hourLabels() const { return labels_; }

 private:
  TimelineTime time_;
  std::vector<FrameStamp> countedStamps_;
  std::array<int, 24> counts_{};
  std::array<HourBar*, 24> bars_{};
  std::array<QLabel*, 4> labels_{};
};

}  // namespace vistrel
