#include "Vistrel/gui/timeline/ActivityStrip.h"

#include <QGridLayout>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace vistrel {

HourBar::HourBar(int hour, QWidget* parent) : QAbstractButton(parent), hour_(hour) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setFixedHeight(ActivityStrip::bandHeight);
  setCount(0, 1, false);
}

void HourBar::setCount(int count, int scale, bool current) {
  const int height = ActivityStrip::barHeight(count, scale);
  // Called for every bar at every step; a screen reader hears of a change only when there is one.
  if (count == count_ && height == barHeight_ && current == current_ && !accessibleName().isEmpty())
    return;
  count_ = count;
  barHeight_ = height;
  current_ = current;
  setAccessibleName(QStringLiteral("%1:00, %2 frames").arg(hour_).arg(count_));
  update();
}

QColor HourBar::barColour() const {
  QColor accent = palette().color(QPalette::Highlight);
  if (!current_)
    accent.setAlphaF(count_ > 0 ? 0.4f : 0.08f);
  return accent;
}

QSize HourBar::sizeHint() const {
  return {12, ActivityStrip::bandHeight};
}

QSize HourBar::minimumSizeHint() const {
  return {3, ActivityStrip::bandHeight};
}

void HourBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(barColour());
  const QRectF bar(0, height() - barHeight_, width(), barHeight_);
  painter.drawRoundedRect(bar, 3, 3);
}

ActivityStrip::ActivityStrip(TimelineTime time, QWidget* parent)
    : QWidget(parent), time_(std::move(time)) {
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setHorizontalSpacing(spacing);
  grid->setVerticalSpacing(2);
  for (int hour = 0; hour < 24; ++hour) {
    auto* bar = new HourBar(hour, this);
    connect(bar, &QAbstractButton::clicked, this, [this, hour] {
      if (jump)
        jump(hour);
    });
    bars_[std::size_t(hour)] = bar;
    grid->addWidget(bar, 0, hour, Qt::AlignBottom);
    grid->setColumnStretch(hour, 1);
  }
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  for (int i = 0; i < 4; ++i) {
    auto* label = new QLabel(this);
    label->setFont(small);
    label->setForegroundRole(QPalette::PlaceholderText);
    labels_[std::size_t(i)] = label;
    grid->addWidget(label, 1, i * 6, 1, 6, Qt::AlignLeft);
  }
}

void ActivityStrip::setTime(TimelineTime time) {
  time_ = std::move(time);
  // The same stamps fall into other hours now.
  countedStamps_.clear();
  counts_ = {};
}

void ActivityStrip::show(const std::vector<FrameStamp>& stamps, Date day,
                         std::optional<Date> current) {
  // Stepping through a day changes only the current hour; the counts of a long day are read
  // through the time zone once, not at every step.
  if (stamps != countedStamps_) {
    counts_ = hourCounts(stamps, time_);
    countedStamps_ = stamps;
  }
  const std::array<int, 24>& counts = counts_;
  const int top = scale(counts);
  const int currentHour = current ? time_.hour(*current) : -1;
  for (int hour = 0; hour < 24; ++hour)
    bars_[std::size_t(hour)]->setCount(counts[std::size_t(hour)], top, currentHour == hour);
  const QDate shownDay = time_.day(day);
  for (int i = 0; i < 4; ++i)
    labels_[std::size_t(i)]->setText(time_.shortTime(time_.atHour(shownDay, i * 6)));
}

std::array<int, 24> ActivityStrip::hourCounts(const std::vector<FrameStamp>& stamps,
                                              const TimelineTime& time) {
  std::array<int, 24> counts{};
  for (const FrameStamp& stamp : stamps)
    ++counts[std::size_t(std::clamp(time.hour(stamp.date), 0, 23))];
  return counts;
}

int ActivityStrip::scale(const std::array<int, 24>& counts) {
  return std::max(1, *std::max_element(counts.begin(), counts.end()));
}

int ActivityStrip::barHeight(int count, int scale) {
  return std::max(int(std::lround(count * double(tallest) / std::max(scale, 1))), stub);
}

}  // namespace vistrel
