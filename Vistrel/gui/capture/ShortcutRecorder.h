#pragma once

#include <QString>
#include <QWidget>
#include <optional>

#include "VistrelKit/settings/Shortcut.h"

class QKeyEvent;
class QLabel;
class QPushButton;

namespace vistrel {

class AppModel;

// What one key press means to the recorder: the stored key code of the key (absent for a key
// without one) and the modifiers held; modifier keys pressed on their own count for nothing.
struct RecordedKey {
  std::optional<std::uint32_t> keyCode;
  Modifiers modifiers;
  bool modifierOnly = false;
};

// Reads a key event as X11 delivered it (its keysym and keycode), or from Qt's key alone where
// the event carries no native codes (offscreen, synthetic events).
RecordedKey recordedKey(const QKeyEvent& event);

// The control with which the user picks the pause shortcut: a button showing the shortcut that,
// once clicked, takes the next acceptable key combination pressed anywhere in the application.
// While it listens the global hot key is let go, so that pressing the current shortcut reaches
// the control instead of pausing capture; it is grabbed again when listening stops. Writes the
// shortcut through the model's settings.
class ShortcutRecorder : public QWidget {
  Q_OBJECT

 public:
  static constexpr const char* acceptableHint = "Add Ctrl, Alt or Super";
  static constexpr const char* unknownKeyHint = "Vistrel can't use that key. Pick another.";

  explicit ShortcutRecorder(AppModel& model, QWidget* parent = nullptr);
  ~ShortcutRecorder() override;

  bool isRecording() const { return recording_; }
  // Shown under the control in orange until the next recording starts; empty for none.
  const QString& hint() const { return hint_; }
  QPushButton* button() const { return button_; }
  QPushButton* useDefaultButton() const { return useDefault_; }

  void startRecording();
  void stopRecording();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void takeKey(const QKeyEvent& event);
  void setShortcut(Shortcut shortcut);
  void refresh();

  AppModel& model_;
  QPushButton* button_;
  QPushButton* useDefault_;
  QLabel* hintLabel_;
  bool recording_ = false;
  QString hint_;
};

}  // namespace vistrel
