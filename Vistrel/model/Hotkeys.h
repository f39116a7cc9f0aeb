#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <optional>

#include "VistrelKit/settings/Shortcut.h"

namespace vistrel {

// The desktop's global key grab, behind which each platform sits.
class HotkeyGrabber {
 public:
  enum class Result {
    grabbed,
    taken,        // another application holds the combination
    unavailable,  // no display, or no key on this keyboard produces the key
  };

  virtual ~HotkeyGrabber() = default;

  // Grabs the combination everywhere on the desktop, releasing any earlier grab first.
  // `pressed` runs on the thread that created the grabber, from its Qt event loop.
  virtual Result grab(Shortcut shortcut, std::function<void()> pressed) = 0;
  virtual void release() = 0;
};

// The one global hot key of the program: the pause shortcut. Lives on the main thread; the
// action runs there too, queued after the key press that triggered it.
class Hotkeys : public QObject {
  Q_OBJECT

 public:
  explicit Hotkeys(std::unique_ptr<HotkeyGrabber> grabber, QObject* parent = nullptr);
  ~Hotkeys() override;

  // Replaces the hot key with `keyCode` and `modifiers`; true when the desktop accepted it.
  // After a failure no hot key is registered (the previous one is gone too).
  bool registerHotkey(std::uint32_t keyCode, Modifiers modifiers, std::function<void()> action);
  // Removes the hot key and forgets the action.
  void unregisterHotkey();

  // The registered combination, or none.
  const std::optional<Shortcut>& registered() const { return ref_; }
  // What the desktop answered to the last registration.
  HotkeyGrabber::Result lastResult() const { return lastResult_; }

 Q_SIGNALS:
  // Another application already holds the combination that was to be registered.
  void refused(vistrel::Shortcut shortcut);

 private:
  void schedulePressed();

  std::unique_ptr<HotkeyGrabber> grabber_;
  std::optional<Shortcut> ref_;
  HotkeyGrabber::Result lastResult_ = HotkeyGrabber::Result::grabbed;
  std::function<void()> handler_;
};

}  // namespace vistrel
