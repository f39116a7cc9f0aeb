#include "Vistrel/platform/linux/X11Hotkeys.h"

#include <X11/keysym.h>
#include <xcb/xcb_keysyms.h>

#include <QSocketNotifier>
#include <vector>

#include "Vistrel/platform/linux/X11KeyMap.h"
#include "Vistrel/platform/linux/XcbHandles.h"

namespace vistrel {
namespace {

constexpr std::uint8_t badAccess = 10;
// The key modifiers a grab compares; the lock modifiers are grabbed in every combination.
constexpr std::uint16_t keyModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK |
                                       XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2 |
                                       XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

struct KeySymbolsDeleter {
  void operator()(xcb_key_symbols_t* symbols) const { xcb_key_symbols_free(symbols); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

}  // namespace

struct X11Hotkeys::Impl {
  struct Grab {
    Shortcut shortcut;
    std::vector<xcb_keycode_t> keycodes;
    std::uint16_t mask = 0;
    std::vector<std::uint16_t> lockVariants;
  };

  explicit Impl(const std::string& display) {
    int screenNumber = 0;
    connection = connectToDisplay(display, &screenNumber);
    if (!connection) {
      return;
    }
    const xcb_screen_t* screen = screenOfDisplay(connection.get(), screenNumber);
    if (!screen) {
      connection.reset();
      return;
    }
    root = screen->root;
    symbols.reset(xcb_key_symbols_alloc(connection.get()));
    notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection.get()),
                                                 QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(),
                     [this] { readEvents(); });
  }

  // The modifier bit that Num Lock sets on this keyboard; 0 when no modifier carries it.
  std::uint16_t numLockMask() {
    xcb_connection_t* c = connection.get();
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping{
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr)};
    if (!mapping) {
      return 0;
    }
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
      for (int k = 0; k < perModifier; ++k) {
        const xcb_keycode_t keycode = keycodes[modifier * perModifier + k];
        if (keycode != 0 && xcb_key_symbols_get_keysym(symbols.get(), keycode, 0) == XK_Num_Lock) {
          return std::uint16_t(1u << modifier);
        }
      }
    }
    return 0;
  }

  Result grab(Shortcut shortcut) {
    if (!connection || xcb_connection_has_error(connection.get())) {
      return Result::unavailable;
    }
    const auto keysym = keysymForKeyCode(shortcut.keyCode);
    if (!keysym) {
      return Result::unavailable;
    }
    Grab wanted{shortcut, {}, x11ModifierMask(shortcut.modifiers), {}};
    if (XcbReply<xcb_keycode_t> keycodes{xcb_key_symbols_get_keycode(symbols.get(), *keysym)}) {
      for (const xcb_keycode_t* k = keycodes.get(); *k != XCB_NO_SYMBOL; ++k) {
        wanted.keycodes.push_back(*k);
      }
    }
    if (wanted.keycodes.empty()) {
      return Result::unavailable;
    }
    const std::uint16_t numLock = numLockMask();
    wanted.lockVariants = {0, XCB_MOD_MASK_LOCK};
    if (numLock != 0) {
      wanted.lockVariants.push_back(numLock);
      wanted.lockVariants.push_back(std::uint16_t(numLock | XCB_MOD_MASK_LOCK));
    }

    xcb_connection_t* c = connection.get();
    struct Attempt {
      xcb_keycode_t keycode;
      std::uint16_t modifiers;
      xcb_void_cookie_t cookie;
    };
    std::vector<Attempt> attempts;
    for (const xcb_keycode_t keycode : wanted.keycodes) {
      for (const std::uint16_t variant : wanted.lockVariants) {
        const std::uint16_t modifiers = wanted.mask | variant;
        attempts.push_back({keycode, modifiers,
                            xcb_grab_key_checked(c, 1, root, modifiers, keycode,
                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
      }
    }
    Result result = Result::grabbed;
    std::vector<const Attempt*> held;
    for (const Attempt& attempt : attempts) {
      XcbReply<xcb_generic_error_t> error{xcb_request_check(c, attempt.cookie)};
      if (!error) {
        held.push_back(&attempt);
      } else if (error->error_code == badAccess) {
        result = Result::taken;
      } else if (result == Result::grabbed) {
        result = Result::unavailable;
      }
    }
    if (result != Result::grabbed) {
      for (const Attempt* attempt : held) {
        xcb_ungrab_key(c, attempt->keycode, root, attempt->modifiers);
      }
      xcb_flush(c);
      return result;
    }
    current = std::move(wanted);
    readQueuedEvents();
    return result;
  }

  void release() {
    if (!current) {
      return;
    }
    if (connection && !xcb_connection_has_error(connection.get())) {
      for (const xcb_keycode_t keycode : current->keycodes) {
        for (const std::uint16_t variant : current->lockVariants) {
          xcb_ungrab_key(connection.get(), keycode, root, current->mask | variant);
        }
      }
      xcb_flush(connection.get());
    }
    current.reset();
  }

  void handle(xcb_generic_event_t& event) {
    switch (event.response_type & 0x7F) {
      case XCB_KEY_PRESS: {
        const auto& press = reinterpret_cast<const xcb_key_press_event_t&>(event);
        // The server's auto-repeat sends a release and a press with one timestamp: a key held
        // down toggles once.
        const bool repeat = press.detail == lastReleasedKey && press.time == lastReleaseTime;
        if (!repeat && isOurs(press.detail, press.state) && pressed) {
          pressed();
        }
        break;
      }
      case XCB_KEY_RELEASE: {
        const auto& release = reinterpret_cast<const xcb_key_release_event_t&>(event);
        lastReleasedKey = release.detail;
        lastReleaseTime = release.time;
        break;
      }
      case XCB_MAPPING_NOTIFY: {
        auto& mapping = reinterpret_cast<xcb_mapping_notify_event_t&>(event);
        xcb_refresh_keyboard_mapping(symbols.get(), &mapping);
        if (current && mapping.request != XCB_MAPPING_POINTER) {
          // Keys moved: grab the same combination at its new place.
          const Shortcut shortcut = current->shortcut;
          release();
          grab(shortcut);
        }
        break;
      }
      default:
        break;
    }
  }

  bool isOurs(xcb_keycode_t keycode, std::uint16_t state) const {
    if (!current) {
      return false;
    }
    bool known = false;
    for (const xcb_keycode_t k : current->keycodes) {
      known = known || k == keycode;
    }
    std::uint16_t locks = 0;
    for (const std::uint16_t variant : current->lockVariants) {
      locks |= variant;
    }
    return known && (state & keyModifiers & ~locks) == current->mask;
  }

  void readEvents() {
    if (!connection) {
      return;
    }
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection.get())}) {
      handle(*event);
    }
    if (xcb_connection_has_error(connection.get())) {
      notifier->setEnabled(false);
    }
  }

  // Events that arrived while waiting for a reply sit in xcb's queue, out of the notifier's
  // sight.
  void readQueuedEvents() {
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_queued_event(connection.get())}) {
      handle(*event);
    }
  }

  XcbConnection connection;
  xcb_window_t root = XCB_NONE;
  KeySymbols symbols;
  std::unique_ptr<QSocketNotifier> notifier;
  std::optional<Grab> current;
  std::function<void()> pressed;
  xcb_keycode_t lastReleasedKey = 0;
  xcb_timestamp_t lastReleaseTime = 0;
};

X11Hotkeys::X11Hotkeys(const std::string& display) : impl_(std::make_unique<Impl>(display)) {}

X11Hotkeys::~X11Hotkeys() {
  impl_->release();
  // The notifier goes before the connection whose descriptor it watches.
  impl_->notifier.reset();
}

HotkeyGrabber::Result X11Hotkeys::grab(Shortcut shortcut, std::function<void()> pressed) {
  impl_->release();
  impl_->pressed = nullptr;
  const Result result = impl_->grab(shortcut);
  if (result == Result::grabbed) {
    impl_->pressed = std::move(pressed);
  }
  return result;
}

void X11Hotkeys::release() {
  impl_->release();
  impl_->pressed = nullptr;
}

}  // namespace vistrel
