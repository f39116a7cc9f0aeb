#pragma once

#include <QScrollArea>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;
class QSpinBox;

namespace vistrel {

class AppModel;
class Card;
class PaneHeader;
class ShortcutRecorder;

// The Capture pane: what state capture is in, whether the screen can be read here, every capture
// setting, and what is never saved; on first run also the way out of the walkthrough. Each
// control writes straight into the model's settings, and every value shown is read back from the
// model whenever it changes.
class CapturePane : public QScrollArea {
  Q_OBJECT

 public:
  explicit CapturePane(AppModel& model, QWidget* parent = nullptr);

  // The header's title for the model's state: off, paused, no screen access, recording.
  static QString titleFor(const AppModel& model);
  // "N seconds": the interval as the capture loop uses it, in whole seconds.
  static QString intervalText(double interval);

  PaneHeader* header() const { return header_; }
  QLabel* screenAccessState() const { return accessState_; }
  QLabel* screenAccessText() const { return accessText_; }
  QCheckBox* captureSwitch() const { return captureSwitch_; }
  QSlider* intervalSlider() const { return intervalSlider_; }
  QLabel* intervalLabel() const { return intervalLabel_; }
  // The warning under the shortcut: taken by another app, or no global shortcut here at all.
  QLabel* shortcutWarning() const { return refusal_; }
  QCheckBox* openAtLoginSwitch() const { return openAtLogin_; }
  ShortcutRecorder* shortcutRecorder() const { return recorder_; }
  QPushButton* notNowButton() const { return notNow_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* buildScreenAccessCard();
  QWidget* buildCaptureCard();
  QWidget* buildNeverSavedCard();
  template <typename Change>
  void change(Change&& change);
  void refresh();
  void refreshScreenAccess();
  void refreshOpenAtLogin();

  AppModel& model_;
  PaneHeader* header_ = nullptr;
  Card* accessCard_ = nullptr;
  QLabel* accessState_ = nullptr;
  QLabel* accessText_ = nullptr;
  QList<QLabel*> accessSteps_;
  QStringList stepTexts_;
  Card* captureCard_ = nullptr;
  QCheckBox* captureSwitch_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QPushButton* resume_ = nullptr;
  QList<QPushButton*> pauseButtons_;
  QSlider* intervalSlider_ = nullptr;
  QLabel* intervalLabel_ = nullptr;
  QCheckBox* stopWhenIdle_ = nullptr;
  QSpinBox* idleMinutes_ = nullptr;
  ShortcutRecorder* recorder_ = nullptr;
  QLabel* refusal_ = nullptr;
  QCheckBox* openAtLogin_ = nullptr;
  QPushButton* notNow_ = nullptr;
};

}  // namespace vistrel
