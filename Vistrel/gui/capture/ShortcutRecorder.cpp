#include "Vistrel/gui/capture/ShortcutRecorder.h"

#include <X11/keysym.h>

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Vistrel/gui/shell/ShortcutText.h"
#include "Vistrel/model/AppModel.h"
#include "Vistrel/platform/linux/X11KeyMap.h"

namespace vistrel {
namespace {

bool isModifierKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
      return true;
    default:
      return false;
  }
}

// Qt's key as the keysym the same key sends on X11. Printable Latin-1 keys share their codes
// with keysyms (capital letters included); the named keys are listed.
std::optional<xcb_keysym_t> keysymForQtKey(int key) {
  if (key >= 0x20 && key <= 0x7e)
    return xcb_keysym_t(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
    return xcb_keysym_t(XK_F1 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Escape:
      return XK_Escape;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return XK_Tab;
    case Qt::Key_Backspace:
      return XK_BackSpace;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return XK_Return;
    case Qt::Key_Delete:
      return XK_Delete;
    case Qt::Key_Home:
      return XK_Home;
    case Qt::Key_End:
      return XK_End;
    case Qt::Key_PageUp:
      return XK_Prior;
    case Qt::Key_PageDown:
      return XK_Next;
    case Qt::Key_Left:
      return XK_Left;
    case Qt::Key_Right:
      return XK_Right;
    case Qt::Key_Up:
      return XK_Up;
    case Qt::Key_Down:
      return XK_Down;
    default:
      return std::nullopt;
  }
}

Modifiers modifiersFromQt(Qt::KeyboardModifiers held) {
  Modifiers modifiers;
  if (held & Qt::ShiftModifier)
    modifiers = modifiers | Modifiers::shift;
  if (held & Qt::ControlModifier)
    modifiers = modifiers | Modifiers::control;
  if (held & Qt::AltModifier)
    modifiers = modifiers | Modifiers::option;
  // Qt calls the Super key Meta on X11.
  if (held & Qt::MetaModifier)
    modifiers = modifiers | Modifiers::command;
  return modifiers;
}

xcb_connection_t* x11Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

constexpr std::uint32_t escapeKeyCode = 53;

}  // namespace

RecordedKey recordedKey(const QKeyEvent& event) {
  RecordedKey recorded;
  recorded.modifierOnly = isModifierKey(event.key());
  if (event.nativeVirtualKey() != 0) {
    recorded.modifiers = modifiersFromX11State(std::uint16_t(event.nativeModifiers()));
    recorded.keyCode = keyCodeForKeysym(event.nativeVirtualKey());
    if (!recorded.keyCode)
      recorded.keyCode = keyCodeForX11Key(x11Connection(), xcb_keycode_t(event.nativeScanCode()));
    return recorded;
  }
  recorded.modifiers = modifiersFromQt(event.modifiers());
  if (const auto keysym = keysymForQtKey(event.key()))
    recorded.keyCode = keyCodeForKeysym(*keysym);
  return recorded;
}

ShortcutRecorder::ShortcutRecorder(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      button_(new QPushButton(this)),
      useDefault_(new QPushButton(this)),
      hintLabel_(new QLabel(this)) {
  QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  button_->setFont(mono);
  button_->setMinimumWidth(120);
  button_->setAutoFillBackground(true);
  button_->setAccessibleDescription(QStringLiteral("Click to record a new shortcut"));
  useDefault_->setFlat(true);
  useDefault_->setText(QStringLiteral("Use ") + shortcutText(Shortcut::defaultPause));
  useDefault_->setAccessibleName(useDefault_->text());
  QPalette hintPalette = hintLabel_->palette();
  hintPalette.setColor(QPalette::WindowText, QColor(0xd9, 0x6c, 0x00));
  hintLabel_->setPalette(hintPalette);
  QFont caption = hintLabel_->font();
  caption.setPointSizeF(caption.pointSizeF() * 0.85);
  hintLabel_->setFont(caption);

  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(button_);
  row->addWidget(useDefault_);
  row->addStretch(1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  column->addLayout(row);
  column->addWidget(hintLabel_);

  connect(button_, &QPushButton::clicked, this, [this] {
    if (recording_)
      stopRecording();
    else
      startRecording();
  });
  connect(useDefault_, &QPushButton::clicked, this,
          [this] { setShortcut(Shortcut::defaultPause); });
  connect(&model_, &AppModel::configChanged, this, &ShortcutRecorder::refresh);
  refresh();
}

ShortcutRecorder::~ShortcutRecorder() {
  stopRecording();
}

void ShortcutRecorder::startRecording() {
  if (recording_)
    return;
  recording_ = true;
  hint_.clear();
  model_.suspendShortcut();
  qApp->installEventFilter(this);
  refresh();
}

void ShortcutRecorder::stopRecording() {
  qApp->removeEventFilter(this);
  if (!recording_)
    return;
  recording_ = false;
  model_.resumeShortcut();
  refresh();
}

bool ShortcutRecorder::eventFilter(QObject* watched, QEvent* event) {
  if (!recording_)
    return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::ShortcutOverride:
      // Claimed, so that no menu shortcut fires: the press that follows is the recorder's.
      event->accept();
      return true;
    case QEvent::KeyPress:
      // Accepted, so that the application does not offer the same press to the parents.
      event->accept();
      takeKey(*static_cast<QKeyEvent*>(event));
      return true;
    case QEvent::KeyRelease:
      return true;
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void ShortcutRecorder::hideEvent(QHideEvent* event) {
  // Nobody can see what is being recorded any more; leaving it listening would keep the hot
  // key let go.
  stopRecording();
  QWidget::hideEvent(event);
}

void ShortcutRecorder::takeKey(const QKeyEvent& event) {
  const RecordedKey key = recordedKey(event);
  if (key.modifierOnly)
    return;
  if (key.keyCode == escapeKeyCode && key.modifiers.isEmpty()) {
    stopRecording();
    return;
  }
  if (!key.keyCode) {
    hint_ = QString::fromLatin1(unknownKeyHint);
    refresh();
    return;
  }
  const Shortcut pressed{*key.keyCode, key.modifiers};
  if (!pressed.isAcceptable()) {
    hint_ = QString::fromLatin1(acceptableHint);
    refresh();
    return;
  }
  setShortcut(pressed);
  stopRecording();
}

void ShortcutRecorder::setShortcut(Shortcut shortcut) {
  VistrelConfig config = model_.config();
  config.pauseShortcut = shortcut;
  model_.setConfig(std::move(config));
}

void ShortcutRecorder::refresh() {
  const Shortcut& shortcut = model_.config().pauseShortcut;
  QPalette palette = QApplication::palette(button_);
  if (recording_) {
    button_->setText(QStringLiteral("Type a shortcut\u2026"));
    button_->setAccessibleName(
        QStringLiteral("Recording a shortcut. Press keys now, Escape to cancel."));
    palette.setColor(QPalette::Button, palette.color(QPalette::Highlight));
    palette.setColor(QPalette::ButtonText, palette.color(QPalette::HighlightedText));
  } else {
    button_->setText(shortcutText(shortcut));
    button_->setAccessibleName(QStringLiteral("Shortcut: ") + spokenShortcutText(shortcut));
  }
  button_->setPalette(palette);
  useDefault_->setVisible(!recording_ && shortcut != Shortcut::defaultPause);
  hintLabel_->setText(hint_);
  hintLabel_->setAccessibleName(hint_);
  hintLabel_->setVisible(!hint_.isEmpty());
}

}  // namespace vistrel
