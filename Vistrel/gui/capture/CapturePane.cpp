#include "Vistrel/gui/capture/CapturePane.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "Vistrel/gui/capture/ShortcutRecorder.h"
#include "Vistrel/gui/common/Card.h"
#include "Vistrel/gui/common/PaneHeader.h"
#include "Vistrel/gui/common/PanePage.h"
#include "Vistrel/gui/shell/ShortcutText.h"
#include "Vistrel/model/AppModel.h"
#include "VistrelKit/base/Texts.h"

namespace vistrel {
namespace {

const QColor green(0x2e, 0x9e, 0x44);
const QColor orange(0xd9, 0x6c, 0x00);
const QColor red(0xd9, 0x2d, 0x20);

QString text(std::string_view linuxText) {
  return QString::fromUtf8(linuxText.data(), qsizetype(linuxText.size()));
}

void colour(QLabel* label, QColor colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

// A label whose text is also what a screen reader reads.
QLabel* namedLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAccessibleName(text);
  label->setWordWrap(true);
  return label;
}

QHBoxLayout* row(std::initializer_list<QWidget*> widgets) {
  auto* layout = new QHBoxLayout;
  layout->setContentsMargins(0, 0, 0, 0);
  for (QWidget* widget : widgets)
    layout->addWidget(widget);
  layout->addStretch(1);
  return layout;
}

}  // namespace

QString CapturePane::titleFor(const AppModel& model) {
  if (!model.config().captureEnabled)
    return QStringLiteral("Vistrel is off");
  if (model.isPaused())
    return QStringLiteral("Vistrel is paused");
  if (!model.screenRecording())
    return QStringLiteral("One step left");
  return QStringLiteral("Vistrel is recording");
}

QString CapturePane::intervalText(double interval) {
  // The capture loop's own clamp; a damaged value reads as the shortest interval.
  const double clamped = std::isfinite(interval) ? std::clamp(interval, 2.0, 60.0) : 2.0;
  return QStringLiteral("%1 seconds").arg(static_cast<int>(clamped));
}

CapturePane::CapturePane(AppModel& model, QWidget* parent) : QScrollArea(parent), model_(model) {
  QVBoxLayout* column = setUpPanePage(this, QStringLiteral("capturePane"));
  QWidget* page = column->parentWidget();

  header_ = new PaneHeader(QString(), text(texts::captureSubtitle), page);
  header_->setIcon(QApplication::windowIcon());
  column->addWidget(header_);
  column->addWidget(buildScreenAccessCard());
  column->addWidget(buildCaptureCard());
  column->addWidget(buildNeverSavedCard());
  notNow_ = new QPushButton(QStringLiteral("Not Now"), page);
  connect(notNow_, &QPushButton::clicked, this,
          [this] { change([](VistrelConfig& config) { config.onboardingDone = true; }); });
  column->addLayout(row({notNow_}));
  column->addStretch(1);
  setWidget(page);

  for (const auto signal :
       {&AppModel::configChanged, &AppModel::statusLineChanged, &AppModel::screenRecordingChanged,
        &AppModel::screenAccessProblemChanged, &AppModel::skipChanged,
        &AppModel::shortcutRefusedChanged, &AppModel::hotkeysUnavailableChanged,
        &AppModel::isRecordingChanged})
    connect(&model_, signal, this, &CapturePane::refresh);
  refresh();
}

QWidget* CapturePane::buildScreenAccessCard() {
  accessCard_ = new Card(QStringLiteral("Screen Access"), QStringLiteral("video-display"), orange);
  accessState_ = new QLabel(accessCard_);
  QFont bold = accessState_->font();
  bold.setWeight(QFont::DemiBold);
  accessState_->setFont(bold);
  accessText_ = namedLabel(QString(), accessCard_);
  accessCard_->content()->addWidget(accessState_);
  accessCard_->content()->addWidget(accessText_);
  for (const auto step : {texts::screenAccessStepX11, texts::screenAccessStepNoPermission,
                          texts::screenAccessStepCapture}) {
    auto* label = namedLabel(QString(), accessCard_);
    label->setTextFormat(Qt::PlainText);
    stepTexts_ << text(step);
    accessSteps_ << label;
    accessCard_->content()->addWidget(label);
  }
  return accessCard_;
}

QWidget* CapturePane::buildCaptureCard() {
  captureCard_ = new Card(QStringLiteral("Capture"), QStringLiteral("media-record"),
                          palette().color(QPalette::Highlight));
  QVBoxLayout* content = captureCard_->content();

  captureSwitch_ = new QCheckBox(QStringLiteral("Save what's on my screen"), captureCard_);
  connect(captureSwitch_, &QCheckBox::toggled, this,
          [this](bool on) { change([on](VistrelConfig& config) { config.captureEnabled = on; }); });
  statusLine_ = Card::note(QString(), captureCard_);
  content->addWidget(captureSwitch_);
  content->addWidget(statusLine_);

  resume_ = new QPushButton(QStringLiteral("Resume"), captureCard_);
  resume_->setDefault(true);
  connect(resume_, &QPushButton::clicked, this, [this] { model_.resume(); });
  const std::pair<const char*, std::optional<double>> pauses[] = {
      {"Pause for 15 Minutes", 15.0}, {"Pause for an Hour", 60.0}, {"Pause Until Resumed", {}}};
  auto* pauseRow = row({resume_});
  for (const auto& [label, minutes] : pauses) {
    auto* button = new QPushButton(QString::fromLatin1(label), captureCard_);
    connect(button, &QPushButton::clicked, this, [this, minutes] { model_.pause(minutes); });
    pauseButtons_ << button;
    pauseRow->insertWidget(pauseRow->count() - 1, button);
  }
  content->addLayout(pauseRow);

  auto* intervalTitle = new QLabel(QStringLiteral("Look at the screen every"), captureCard_);
  intervalSlider_ = new QSlider(Qt::Horizontal, captureCard_);
  intervalSlider_->setRange(2, 30);
  intervalSlider_->setSingleStep(1);
  intervalSlider_->setPageStep(1);
  intervalSlider_->setFixedWidth(220);
  intervalSlider_->setAccessibleName(intervalTitle->text());
  intervalLabel_ = new QLabel(captureCard_);
  intervalLabel_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  connect(intervalSlider_, &QSlider::valueChanged, this, [this](int seconds) {
    change([seconds](VistrelConfig& config) { config.interval = seconds; });
  });
  content->addLayout(row({intervalTitle, intervalSlider_, intervalLabel_}));

  stopWhenIdle_ = new QCheckBox(text(texts::idleCheckBox), captureCard_);
  connect(stopWhenIdle_, &QCheckBox::toggled, this,
          [this](bool on) { change([on](VistrelConfig& config) { config.stopWhenIdle = on; }); });
  idleMinutes_ = new QSpinBox(captureCard_);
  idleMinutes_->setRange(1, 30);
  idleMinutes_->setSuffix(QStringLiteral(" min"));
  idleMinutes_->setAccessibleName(QStringLiteral("Minutes"));
  connect(idleMinutes_, &QSpinBox::valueChanged, this, [this](int minutes) {
    change([minutes](VistrelConfig& config) { config.idleMinutes = minutes; });
  });
  content->addLayout(row({stopWhenIdle_, idleMinutes_}));

  auto* shortcutTitle = new QLabel(QStringLiteral("Pause or resume from anywhere"), captureCard_);
  recorder_ = new ShortcutRecorder(model_, captureCard_);
  content->addLayout(row({shortcutTitle, recorder_}));
  refusal_ = new QLabel(captureCard_);
  refusal_->setWordWrap(true);
  colour(refusal_, orange);
  content->addWidget(refusal_);

  openAtLogin_ = new QCheckBox(QStringLiteral("Open at Login"), captureCard_);
  connect(openAtLogin_, &QCheckBox::toggled, this, [this](bool on) {
    model_.setOpenAtLogin(on);
    // A failed change leaves the desktop as it was; show what it really is.
    refreshOpenAtLogin();
  });
  content->addWidget(openAtLogin_);
  content->addWidget(Card::note(
      QStringLiteral("A frame is kept only when something changed, so a still screen costs "
                     "nothing but a quick look."),
      captureCard_));
  return captureCard_;
}

QWidget* CapturePane::buildNeverSavedCard() {
  auto* card = new Card(QStringLiteral("What's never saved"), QStringLiteral("view-conceal"),
                        palette().color(QPalette::Text));
  const QString lines[] = {
      text(texts::neverSavedApps),
      QStringLiteral("Private and incognito browser windows (Firefox, Chrome, Edge, Brave), and "
                     "windows whose titles mention banking."),
      text(texts::neverSavedSecureInput),
      QStringLiteral("Vistrel's own window, so searching your history is never recorded."),
      QStringLiteral("Audio, keystrokes and the pointer: only still images and the text in them."),
  };
  for (const QString& line : lines)
    card->content()->addWidget(namedLabel(QStringLiteral("\u2022 ") + line, card));
  return card;
}

template <typename Change>
void CapturePane::change(Change&& change) {
  VistrelConfig config = model_.config();
  change(config);
  model_.setConfig(std::move(config));
}

void CapturePane::showEvent(QShowEvent* event) {
  // Open at Login belongs to the desktop, where anything may have changed it meanwhile.
  refreshOpenAtLogin();
  QScrollArea::showEvent(event);
}

void CapturePane::refresh() {
  const VistrelConfig& config = model_.config();
  header_->setTitle(titleFor(model_));
  refreshScreenAccess();

  captureCard_->setTint(model_.isRecording() ? red : palette().color(QPalette::Highlight));
  {
    const QSignalBlocker blockSwitch(captureSwitch_);
    captureSwitch_->setChecked(config.captureEnabled);
    const QSignalBlocker blockSlider(intervalSlider_);
    intervalSlider_->setValue(
        std::isfinite(config.interval) ? static_cast<int>(std::lround(config.interval)) : 2);
    const QSignalBlocker blockIdle(stopWhenIdle_);
    stopWhenIdle_->setChecked(config.stopWhenIdle);
    const QSignalBlocker blockMinutes(idleMinutes_);
    idleMinutes_->setValue(
        std::isfinite(config.idleMinutes) ? static_cast<int>(std::lround(config.idleMinutes)) : 1);
  }
  const QString status = QString::fromStdString(model_.statusLine());
  statusLine_->setText(status);
  statusLine_->setAccessibleName(status);

  const bool paused = model_.isPaused();
  resume_->setVisible(paused);
  for (QPushButton* button : pauseButtons_)
    button->setVisible(!paused);

  intervalLabel_->setText(intervalText(config.interval));
  intervalLabel_->setAccessibleName(intervalLabel_->text());

  // Without any global shortcut on this desktop the recorder still keeps the choice for a
  // desktop that has them; the user needs to know the tray is the way to pause meanwhile.
  const QString refusal =
      model_.shortcutRefused()
          ? QStringLiteral("Another app already uses ") + shortcutText(config.pauseShortcut) +
                QStringLiteral(". Pick a different shortcut.")
      : model_.hotkeysUnavailable()
          ? QStringLiteral(
                "This desktop gives apps no global shortcuts, so the shortcut does "
                "nothing here. Pause from the tray menu instead.")
          : QString();
  refusal_->setText(refusal.isEmpty() ? refusal : QStringLiteral("\u26a0 ") + refusal);
  refusal_->setAccessibleName(refusal);
  refusal_->setVisible(!refusal.isEmpty());

  notNow_->setVisible(!config.onboardingDone);
}

void CapturePane::refreshScreenAccess() {
  const bool granted = model_.screenRecording();
  const auto& problem = model_.screenAccessProblem();
  accessCard_->setTint(granted ? green : orange);
  QString state = granted ? QStringLiteral("Allowed") : QStringLiteral("Not allowed yet");
  if (!granted && problem)
    state = QStringLiteral("Not supported yet");
  accessState_->setText(granted ? QStringLiteral("\u2713 ") + state : state);
  accessState_->setAccessibleName(state);
  colour(accessState_, granted ? green : orange);
  const QString explanation =
      !granted && problem ? QString::fromStdString(*problem) : text(texts::screenAccessExplanation);
  accessText_->setText(explanation);
  accessText_->setAccessibleName(explanation);
  const bool done[] = {granted, granted, granted && model_.config().captureEnabled};
  for (int i = 0; i < accessSteps_.size(); ++i) {
    const QString step = QStringLiteral("Step %1: ").arg(i + 1) + stepTexts_[i];
    accessSteps_[i]->setText((done[i] ? QStringLiteral("\u2713 ") : QStringLiteral("\u25cc ")) +
                             step);
    accessSteps_[i]->setAccessibleName(step + (done[i] ? QStringLiteral(" (done)") : QString()));
    colour(accessSteps_[i], done[i] ? green : palette().color(QPalette::WindowText));
  }
}

void CapturePane::refreshOpenAtLogin() {
  const QSignalBlocker block(openAtLogin_);
  openAtLogin_->setChecked(model_.isOpenAtLogin());
}

}  // namespace vistrel
