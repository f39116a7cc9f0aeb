#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

#include "Vistrel/model/Hotkeys.h"
#include "Vistrel/platform/linux/X11Hotkeys.h"
#include "Vistrel/platform/linux/X11KeyMap.h"
#include "tests/support/XvfbSession.h"

namespace vistrel {
namespace {

using testing::XvfbSession;

constexpr std::uint32_t keyP = 35;
constexpr std::uint32_t keyO = 31;
const Modifiers controlOptionCommand = Modifiers::control | Modifiers::option | Modifiers::command;

TEST(X11KeyMap, EveryNamedKeyHasAKeysymAndBack) {
  const std::uint32_t codes[] = {
      0,   1,   2,   3,   4,   5,   6,  7,   8,  9,  11, 12,  13,  14,  15,  16,  17,  18,  19,
      20,  21,  22,  23,  24,  25,  26, 27,  28, 29, 30, 31,  32,  33,  34,  35,  36,  37,  38,
      39,  40,  41,  42,  43,  44,  45, 46,  47, 48, 49, 50,  51,  53,  117, 115, 119, 116, 121,
      123, 124, 125, 126, 122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
  ASSERT_EQ(std::size(codes), 73u);
  for (const std::uint32_t code : codes) {
    const auto keysym = keysymForKeyCode(code);
    ASSERT_TRUE(keysym) << code;
    EXPECT_EQ(keyCodeForKeysym(*keysym), code);
  }
  EXPECT_EQ(keysymForKeyCode(35), xcb_keysym_t(XK_p));
  EXPECT_EQ(keysymForKeyCode(36), xcb_keysym_t(XK_Return));
  EXPECT_EQ(keysymForKeyCode(122), xcb_keysym_t(XK_F1));
  EXPECT_EQ(keyCodeForKeysym(XK_P), 35u) << "a capital letter is its key";
  EXPECT_EQ(keyCodeForKeysym(XK_ISO_Left_Tab), 48u);
  EXPECT_EQ(keysymForKeyCode(10), std::nullopt);
  EXPECT_EQ(keysymForKeyCode(200), std::nullopt);
  EXPECT_EQ(keyCodeForKeysym(XK_exclam), std::nullopt);
}

TEST(X11KeyMap, ModifiersMapToShiftControlAltAndSuper) {
  EXPECT_EQ(x11ModifierMask(Modifiers::shift), XCB_MOD_MASK_SHIFT);
  EXPECT_EQ(x11ModifierMask(Modifiers::control), XCB_MOD_MASK_CONTROL);
  EXPECT_EQ(x11ModifierMask(Modifiers::option), XCB_MOD_MASK_1);
  EXPECT_EQ(x11ModifierMask(Modifiers::command), XCB_MOD_MASK_4);
  EXPECT_EQ(x11ModifierMask(controlOptionCommand),
            XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4);
  EXPECT_EQ(modifiersFromX11State(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4 |
                                  XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2 | XCB_BUTTON_MASK_1),
            controlOptionCommand);
  EXPECT_EQ(modifiersFromX11State(XCB_MOD_MASK_SHIFT), Modifiers::shift);
}

TEST(X11KeyMap, AKeyIsReadAtItsFirstLevel) {
  XvfbSession session({.windowManager = false});
  int screen = 0;
  const XcbConnection connection = connectToDisplay(session.display(), &screen);
  ASSERT_TRUE(connection);
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection.get());
  const auto keycodeOf = [&](xcb_keysym_t keysym) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    free(codes);
    return code;
  };
  // Shift+1 sends "!", which names no key; its key is still the 1 key.
  EXPECT_EQ(keyCodeForX11Key(connection.get(), keycodeOf(XK_exclam)), 18u);
  EXPECT_EQ(keyCodeForX11Key(connection.get(), keycodeOf(XK_k)), 40u);
  EXPECT_EQ(keyCodeForX11Key(connection.get(), keycodeOf(XK_Print)), std::nullopt);
  EXPECT_EQ(keyCodeForX11Key(connection.get(), 0), std::nullopt);
  EXPECT_EQ(keyCodeForX11Key(nullptr, keycodeOf(XK_k)), std::nullopt);
  xcb_key_symbols_free(symbols);
}

class HotkeysTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::qtApplication();
    session_ = new XvfbSession({.windowManager = false});
  }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }

  static std::unique_ptr<HotkeyGrabber> grabber() {
    return std::make_unique<X11Hotkeys>(session_->display());
  }

  static void press(const std::string& keys) {
    ASSERT_EQ(testing::run({"xdotool", "key", keys}), 0) << keys;
  }

  // Lets the event loop run a little longer, for events that should not have any effect.
  static void settle() {
    testing::waitUntil([] { return false; }, std::chrono::milliseconds(200));
  }

  static XvfbSession* session_;
};

XvfbSession* HotkeysTest::session_ = nullptr;

TEST_F(HotkeysTest, RegisteredHotKeyRunsItsActionOnTheEventLoop) {
  Hotkeys hotkeys(grabber());
  int presses = 0;
  ASSERT_TRUE(hotkeys.registerHotkey(keyP, controlOptionCommand, [&] { ++presses; }));
  EXPECT_EQ(hotkeys.registered(), (Shortcut{keyP, controlOptionCommand}));

  press("ctrl+alt+p");  // command missing
  press("ctrl+alt+super+p");
  ASSERT_TRUE(testing::waitUntil([&] { return presses >= 1; }));
  settle();
  EXPECT_EQ(presses, 1);

  // Caps Lock and Num Lock do not get in the way.
  press("Caps_Lock");
  press("ctrl+alt+super+p");
  press("Caps_Lock");
  ASSERT_TRUE(testing::waitUntil([&] { return presses >= 2; }));
  press("Num_Lock");
  press("ctrl+alt+super+p");
  press("Num_Lock");
  ASSERT_TRUE(testing::waitUntil([&] { return presses >= 3; }));
  settle();
  EXPECT_EQ(presses, 3);
}

TEST_F(HotkeysTest, ACombinationAnotherClientHoldsIsRefused) {
  Hotkeys holder(grabber());
  Hotkeys latecomer(grabber());
  std::vector<Shortcut> refusals;
  QObject::connect(&latecomer, &Hotkeys::refused, &latecomer,
                   [&](Shortcut shortcut) { refusals.push_back(shortcut); });
  int holderPresses = 0;
  int latecomerPresses = 0;
  ASSERT_TRUE(holder.registerHotkey(keyP, controlOptionCommand, [&] { ++holderPresses; }));

  EXPECT_FALSE(latecomer.registerHotkey(keyP, controlOptionCommand, [&] { ++latecomerPresses; }));
  EXPECT_EQ(refusals, (std::vector<Shortcut>{{keyP, controlOptionCommand}}));
  EXPECT_EQ(latecomer.registered(), std::nullopt);

  press("ctrl+alt+super+p");
  ASSERT_TRUE(testing::waitUntil([&] { return holderPresses == 1; }));
  settle();
  EXPECT_EQ(latecomerPresses, 0);

  // Once released, the combination is free for the other client.
  holder.unregisterHotkey();
  EXPECT_EQ(holder.registered(), std::nullopt);
  ASSERT_TRUE(latecomer.registerHotkey(keyP, controlOptionCommand, [&] { ++latecomerPresses; }));
  press("ctrl+alt+super+p");
  ASSERT_TRUE(testing::waitUntil([&] { return latecomerPresses == 1; }));
  settle();
  EXPECT_EQ(holderPresses, 1);
  EXPECT_EQ(refusals.size(), 1u);
}

TEST_F(HotkeysTest, RegisteringAnotherCombinationReplacesTheFirst) {
  Hotkeys hotkeys(grabber());
  Hotkeys other(grabber());
  int pPresses = 0;
  int oPresses = 0;
  ASSERT_TRUE(hotkeys.registerHotkey(keyP, controlOptionCommand, [&] { ++pPresses; }));
  ASSERT_TRUE(hotkeys.registerHotkey(keyO, controlOptionCommand, [&] { ++oPresses; }));
  // The first combination was given back: another client may take it.
  EXPECT_TRUE(other.registerHotkey(keyP, controlOptionCommand, [] {}));
  other.unregisterHotkey();

  press("ctrl+alt+super+p");
  press("ctrl+alt+super+o");
  ASSERT_TRUE(testing::waitUntil([&] { return oPresses == 1; }));
  settle();
  EXPECT_EQ(pPresses, 0);
}

TEST_F(HotkeysTest, UnregisterForgetsTheAction) {
  Hotkeys hotkeys(grabber());
  int presses = 0;
  ASSERT_TRUE(
      hotkeys.registerHotkey(keyP, Modifiers::control | Modifiers::shift, [&] { ++presses; }));
  hotkeys.unregisterHotkey();
  press("ctrl+shift+p");
  settle();
  EXPECT_EQ(presses, 0);
}

TEST_F(HotkeysTest, KeysWithoutAKeysymCannotBeRegistered) {
  Hotkeys hotkeys(grabber());
  int refusals = 0;
  QObject::connect(&hotkeys, &Hotkeys::refused, &hotkeys, [&] { ++refusals; });
  EXPECT_FALSE(hotkeys.registerHotkey(200, controlOptionCommand, [] {}));
  EXPECT_EQ(refusals, 0) << "nobody else holds it";
}

TEST(HotkeysWithoutDisplay, RegisterFailsWithoutClaimingARefusal) {
  testing::qtApplication();
  Hotkeys hotkeys(std::make_unique<X11Hotkeys>(":9999"));
  int refusals = 0;
  QObject::connect(&hotkeys, &Hotkeys::refused, &hotkeys, [&] { ++refusals; });
  EXPECT_FALSE(hotkeys.registerHotkey(keyP, controlOptionCommand, [] {}));
  EXPECT_EQ(hotkeys.registered(), std::nullopt);
  EXPECT_EQ(refusals, 0);
  hotkeys.unregisterHotkey();
}

}  // namespace
}  // namespace vistrel
