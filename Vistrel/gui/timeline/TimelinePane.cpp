#include "Vistrel/gui/timeline/TimelinePane.h"

#include <QHBoxLayout>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "Vistrel/gui/common/AppIcon.h"
#include "Vistrel/gui/shell/PaneCatalog.h"

namespace vistrel {

namespace {

QToolButton* iconButton(const QString& iconName, const QString& name, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setIcon(themeIcon(iconName));
  button->setToolTip(name);
  button->setAccessibleName(name);
  button->setAutoRaise(true);
  return button;
}

QLabel* secondaryLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

}  // namespace

TimelinePane::TimelinePane(AppModel& model, QWidget* parent)
    : TimelinePane(model, FrameLoader::fromModel(model), parent) {}

TimelinePane::TimelinePane(AppModel& model, FrameLoader::Sources sources, QWidget* parent)
    : QWidget(parent),
      model_(model),
      time_(model.calendar()),
      loader_(model.clock(), std::move(sources), this) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 16, 20, 16);
  layout->setSpacing(12);
  layout->addWidget(makeHeader());
  body_ = new QStackedWidget(this);
  emptyPage_ = makeEmptyPage();
  dayPage_ = makeDayPage();
  body_->addWidget(emptyPage_);
  body_->addWidget(dayPage_);
  layout->addWidget(body_, 1);
  bindKeys();

  connect(&model_, &AppModel::timelineDayChanged, this, [this] {
    showDay();
    model_.loadTimeline(false);
  });
  connect(&model_, &AppModel::timelineStampsChanged, this, &TimelinePane::showFrames);
  connect(&model_, &AppModel::timelineIndexChanged, this, &TimelinePane::showFrames);
  connect(&model_, &AppModel::libraryChanged, this, &TimelinePane::showFrames);
  connect(&model_, &AppModel::calendarChanged, this, [this] {
    time_ = TimelineTime(model_.calendar());
    strip_->setTime(time_);
    showDay();
    showFrames();
  });
  connect(&loader_, &FrameLoader::summaryChanged, this, &TimelinePane::showSummary);
  connect(&loader_, &FrameLoader::imageChanged, this,
          [this] { frameView_->setImage(loader_.image()); });
  showDay();
  showFrames();
  showSummary();
}

QWidget* TimelinePane::makeHeader() {
  auto* header = new QWidget(this);
  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(0, 0, 0, 0);
  previousDay_ = iconButton(QStringLiteral("go-previous"), QStringLiteral("Previous day"), header);
  datePicker_ = new QDateEdit(header);
  datePicker_->setCalendarPopup(true);
  datePicker_->setDisplayFormat(QLocale::system().dateFormat(QLocale::ShortFormat));
  datePicker_->setAccessibleName(QStringLiteral("Day"));
  nextDay_ = iconButton(QStringLiteral("go-next"), QStringLiteral("Next day"), header);
  today_ = new QPushButton(QStringLiteral("Today"), header);
  auto* titles = new QVBoxLayout;
  dateLabel_ = new QLabel(header);
  QFont bold = dateLabel_->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.15);
  dateLabel_->setFont(bold);
  countLabel_ = secondaryLabel(header);
  titles->addWidget(dateLabel_);
  titles->addWidget(countLabel_);
  row->addWidget(previousDay_);
  row->addWidget(datePicker_);
  row->addWidget(nextDay_);
  row->addWidget(today_);
  row->addSpacing(12);
  row->addLayout(titles);
  row->addStretch(1);

  connect(previousDay_, &QToolButton::clicked, this, [this] { moveDay(-1); });
  connect(nextDay_, &QToolButton::clicked, this, [this] { moveDay(1); });
  connect(today_, &QPushButton::clicked, this,
          [this] { model_.setTimelineDay(model_.clock()->now()); });
  connect(datePicker_, &QDateEdit::dateChanged, this, &TimelinePane::pickDate);
  return header;
}

QWidget* TimelinePane::makeEmptyPage() {
  auto* page = new QWidget(this);
  auto* column = new QVBoxLayout(page);
  column->addStretch(1);
  auto* icon = new QLabel(page);
  icon->setPixmap(themeIcon(QStringLiteral("x-office-calendar")).pixmap(48, 48));
  icon->setAlignment(Qt::AlignCenter);
  auto* title = new QLabel(QStringLiteral("No frames on this day"), page);
  QFont bold = title->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  title->setFont(bold);
  title->setAlignment(Qt::AlignCenter);
  emptyLine_ = secondaryLabel(page);
  emptyLine_->setAlignment(Qt::AlignCenter);
  emptyLine_->setWordWrap(true);
  column->addWidget(icon);
  column->addWidget(title);
  column->addWidget(emptyLine_);
  column->addStretch(1);
  return page;
}

QWidget* TimelinePane::makeDayPage() {
  auto* page = new QWidget(this);
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);

  strip_ = new ActivityStrip(time_, page);
  strip_->jump = [this](int hour) { jump(hour); };
  column->addWidget(strip_);

  auto* scrubber = new QHBoxLayout;
  previousFrame_ =
      iconButton(QStringLiteral("media-skip-backward"), QStringLiteral("Previous frame"), page);
  slider_ = new QSlider(Qt::Horizontal, page);
  slider_->setAccessibleName(QStringLiteral("Scrub through the day"));
  slider_->setFocusPolicy(Qt::ClickFocus);
  nextFrame_ = iconButton(QStringLiteral("media-skip-forward"), QStringLiteral("Next frame"), page);
  scrubber->addWidget(previousFrame_);
  scrubber->addWidget(slider_, 1);
  scrubber->addWidget(nextFrame_);
  column->addLayout(scrubber);
  connect(previousFrame_, &QToolButton::clicked, this, [this] { step(-1); });
  connect(nextFrame_, &QToolButton::clicked, this, [this] { step(1); });
  connect(slider_, &QSlider::valueChanged, this, [this](int value) {
    if (!model_.timelineStamps().empty())
      model_.setTimelineIndex(value);
  });

  frameView_ = new FrameView(page);
  column->addWidget(frameView_, 1);
  const auto openFullSize = [this] {
    if (const std::optional<FrameStamp> stamp = currentStamp())
      model_.setOpenFrame(OpenFrame{stamp->id, SearchQuery{}});
  };
  connect(frameView_, &FrameView::clicked, this, openFullSize);

  auto* info = new QHBoxLayout;
  timeLabel_ = new QLabel(page);
  QFont large = timeLabel_->font();
  large.setPointSizeF(large.pointSizeF() * 1.5);
  large.setWeight(QFont::DemiBold);
  timeLabel_->setFont(large);
  appIcon_ = new QLabel(page);
  appName_ = new QLabel(page);
  title_ = secondaryLabel(page);
  title_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  copyText_ = new QPushButton(QStringLiteral("Copy Text"), page);
  openFullSize_ = new QPushButton(QStringLiteral("Open Full Size"), page);
  openFullSize_->setDefault(true);
  info->addWidget(timeLabel_);
  info->addSpacing(12);
  info->addWidget(appIcon_);
  info->addWidget(appName_);
  info->addWidget(title_, 1);
  info->addWidget(copyText_);
  info->addWidget(openFullSize_);
  column->addLayout(info);
  connect(copyText_, &QPushButton::clicked, this, [this] {
    if (loader_.summary())
      model_.copyText(*loader_.summary());
  });
  connect(openFullSize_, &QPushButton::clicked, this, openFullSize);
  return page;
}

void TimelinePane::bindKeys() {
  // The whole window while this pane shows, so that the arrows scrub wherever the focus is,
  // except in controls that use the keys themselves (the date picker).
  const auto bind = [this](QKeySequence key, auto action) {
    auto* shortcut = new QShortcut(key, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, action);
  };
  bind(QKeySequence(Qt::Key_Left), [this] { step(-1); });
  bind(QKeySequence(Qt::Key_Right), [this] { step(1); });
  bind(QKeySequence(Qt::Key_Home), [this] {
    if (!model_.timelineStamps().empty())
      model_.setTimelineIndex(0);
  });
  bind(QKeySequence(Qt::Key_End), [this] {
    if (!model_.timelineStamps().empty())
      model_.setTimelineIndex(int(model_.timelineStamps().size()) - 1);
  });
  bind(QKeySequence(Qt::Key_PageUp), [this] { moveDay(-1); });
  bind(QKeySequence(Qt::Key_PageDown), [this] {
    if (canMoveForward())
      moveDay(1);
  });
}

void TimelinePane::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  showDay();
  // Leaving the pane stopped the loader; start it again for the frame that is up.
  loaderStarted_ = false;
  showFrames();
  model_.loadTimeline(false);
}

void TimelinePane::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  loader_.cancel();
}

void TimelinePane::step(int delta) {
  const auto& stamps = model_.timelineStamps();
  if (stamps.empty())
    return;
  const int index = std::clamp(model_.timelineIndex() + delta, 0, int(stamps.size()) - 1);
  if (index != model_.timelineIndex())
    model_.setTimelineIndex(index);
}

void TimelinePane::jump(int hour) {
  const auto& stamps = model_.timelineStamps();
  const auto found = std::find_if(stamps.begin(), stamps.end(), [&](const FrameStamp& stamp) {
    return time_.hour(stamp.date) >= hour;
  });
  if (found != stamps.end())
    model_.setTimelineIndex(int(found - stamps.begin()));
}

void TimelinePane::moveDay(int days) {
  if (const std::optional<Date> day = model_.calendar().addingDays(model_.timelineDay(), days))
    model_.setTimelineDay(*day);
}

bool TimelinePane::showsToday() const {
  const Calendar& calendar = model_.calendar();
  return calendar.day(model_.timelineDay()) == calendar.day(model_.clock()->now());
}

bool TimelinePane::canMoveForward() const {
  // Not past today: the day after a future day (the picker allows tomorrow) lies beyond what the
  // picker can show, and nothing has been recorded there.
  return time_.day(model_.timelineDay()) < time_.day(model_.clock()->now());
}

bool TimelinePane::showsEmptyDay() const {
  return body_->currentWidget() == emptyPage_;
}

void TimelinePane::pickDate(QDate date) {
  const qint64 days = time_.day(model_.timelineDay()).daysTo(date);
  if (days != 0)
    moveDay(int(days));
}

std::optional<FrameStamp> TimelinePane::currentStamp() const {
  const auto& stamps = model_.timelineStamps();
  const int index = model_.timelineIndex();
  if (index < 0 || std::size_t(index) >= stamps.size())
    return std::nullopt;
  return stamps[std::size_t(index)];
}

void TimelinePane::showDay() {
  const Date day = model_.timelineDay();
  dateLabel_->setText(time_.fullDate(day));
  {
    const QSignalBlocker quiet(datePicker_);
    datePicker_->setMaximumDate(time_.day(model_.clock()->now() + Seconds(24 * 3600)));
    datePicker_->setDate(time_.day(day));
  }
  nextDay_->setEnabled(canMoveForward());
  today_->setEnabled(!showsToday());
}

void TimelinePane::showFrames() {
  const auto& stamps = model_.timelineStamps();
  countLabel_->setText(QStringLiteral("%1 frames").arg(stamps.size()));
  emptyLine_->setText(
      model_.isLibraryOpen()
          ? QStringLiteral("Pick another day, or check that capture was on.")
          : QStringLiteral("Turn capture on in Capture; frames show up here as you work."));
  body_->setCurrentWidget(stamps.empty() ? emptyPage_ : dayPage_);

  const std::optional<FrameStamp> current = currentStamp();
  strip_->show(stamps, model_.timelineDay(), current ? std::optional(current->date) : std::nullopt);
  {
    const QSignalBlocker quiet(slider_);
    slider_->setRange(0, std::max<int>(int(stamps.size()), 2) - 1);
    slider_->setValue(model_.timelineIndex());
  }
  const QString time = current ? time_.standardTime(current->date) : QString();
  timeLabel_->setText(time);
  frameView_->setAccessibleName(QStringLiteral("Frame at %1").arg(time));

  const std::optional<std::int64_t> id = current ? std::optional(current->id) : std::nullopt;
  if (loaderStarted_ && id == loadedID_)
    return;
  if (!isVisible() && id)
    return;  // a hidden pane loads nothing; showing it starts the loader
  loaderStarted_ = true;
  loadedID_ = id;
  loader_.restart(id);
}

void TimelinePane::showSummary() {
  const std::optional<FrameSummary>& summary = loader_.summary();
  copyText_->setEnabled(summary.has_value());
  if (!summary) {
    appIcon_->clear();
    appName_->clear();
    title_->clear();
    return;
  }
  const QString bundleID = QString::fromStdString(summary->meta.bundleID.value_or(""));
  appIcon_->setPixmap(appIcon(bundleID).pixmap(20, 20));
  appName_->setText(QString::fromStdString(summary->meta.appName));
  title_->setText(QString::fromStdString(summary->meta.title.value_or("")));
}

}  // namespace vistrel
