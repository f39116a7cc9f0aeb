#include "Vistrel/model/Hotkeys.h"

namespace vistrel {

Hotkeys::Hotkeys(std::unique_ptr<HotkeyGrabber> grabber, QObject* parent)
    : QObject(parent), grabber_(std::move(grabber)) {}

Hotkeys::~Hotkeys() {
  unregisterHotkey();
}

bool Hotkeys::registerHotkey(std::uint32_t keyCode, Modifiers modifiers,
                             std::function<void()> action) {
  unregisterHotkey();
  const Shortcut shortcut{keyCode, modifiers};
  const auto result = grabber_->grab(shortcut, [this] { schedulePressed(); });
  lastResult_ = result;
  if (result != HotkeyGrabber::Result::grabbed) {
    if (result == HotkeyGrabber::Result::taken) {
      Q_EMIT refused(shortcut);
    }
    return false;
  }
  ref_ = shortcut;
  handler_ = std::move(action);
  return true;
}

void Hotkeys::unregisterHotkey() {
  if (ref_) {
    grabber_->release();
  }
  ref_.reset();
  handler_ = nullptr;
}

void Hotkeys::schedulePressed() {
  if (!handler_) {
    return;
  }
  QMetaObject::invokeMethod(this, handler_, Qt::QueuedConnection);
}

}  // namespace vistrel
