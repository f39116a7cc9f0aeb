#include <gtest/gtest.h>

#include <set>
#include <string>

#include "VistrelKit/settings/Shortcut.h"

namespace vistrel {
namespace {

const Modifiers allFour =
    Modifiers::control | Modifiers::option | Modifiers::shift | Modifiers::command;

TEST(ShortcutTest, DefaultPauseIsControlOptionCommandP) {
  EXPECT_EQ(Shortcut::defaultPause.keyCode, 35u);
  EXPECT_EQ(Shortcut::defaultPause.modifiers.rawValue, 14);
  EXPECT_EQ(Shortcut::defaultPause.display(), "\u2303\u2325\u2318P");
  EXPECT_EQ(Shortcut::defaultPause.spokenDescription(), "Control Option Command P");
}

TEST(ShortcutTest, ModifierRawBits) {
  EXPECT_EQ(Modifiers::shift.rawValue, 1);
  EXPECT_EQ(Modifiers::control.rawValue, 2);
  EXPECT_EQ(Modifiers::option.rawValue, 4);
  EXPECT_EQ(Modifiers::command.rawValue, 8);
  EXPECT_TRUE(allFour.contains(Modifiers::shift | Modifiers::command));
  EXPECT_FALSE(Modifiers::option.contains(Modifiers::command));
}

struct DisplayCase {
  std::uint32_t keyCode;
  Modifiers modifiers;
  std::string display;
  std::string spoken;
};

TEST(ShortcutTest, DisplayAndSpokenDescription) {
  const DisplayCase cases[] = {
      {49, allFour, "\u2303\u2325\u21E7\u2318Space", "Control Option Shift Command Space"},
      {200, Modifiers::command, "\u2318Key 200", "Command Key 200"},
      {36, Modifiers::option, "\u2325\u21A9", "Option Return"},
      {48, Modifiers::shift | Modifiers::control, "\u2303\u21E7\u21E5", "Control Shift Tab"},
      {51, Modifiers::command, "\u2318\u232B", "Command Delete"},
      {53, Modifiers::control, "\u2303\u238B", "Control Escape"},
      {123, Modifiers::option, "\u2325\u2190", "Option Left Arrow"},
      {124, Modifiers::option, "\u2325\u2192", "Option Right Arrow"},
      {125, Modifiers::option, "\u2325\u2193", "Option Down Arrow"},
      {126, Modifiers::option, "\u2325\u2191", "Option Up Arrow"},
      {117, Modifiers::command, "\u2318\u2326", "Command \u2326"},
      {50, Modifiers::command, "\u2318`", "Command `"},
      {42, Modifiers::control, "\u2303\\", "Control \\"},
      {39, Modifiers::control, "\u2303'", "Control '"},
      {111, {}, "F12", "F12"},
      {10, Modifiers::command, "\u2318Key 10", "Command Key 10"},
      {52, Modifiers::command, "\u2318Key 52", "Command Key 52"},
  };
  for (const auto& c : cases) {
    const Shortcut shortcut{c.keyCode, c.modifiers};
    EXPECT_EQ(shortcut.display(), c.display) << c.keyCode;
    EXPECT_EQ(shortcut.spokenDescription(), c.spoken) << c.keyCode;
  }
}

TEST(ShortcutTest, KeyNameTableHasSeventyThreeNamedKeys) {
  std::set<std::string> names;
  int named = 0;
  for (std::uint32_t code = 0; code < 256; ++code) {
    const auto name = Shortcut::keyName(code);
    if (name != "Key " + std::to_string(code)) {
      ++named;
      names.insert(name);
    }
  }
  EXPECT_EQ(named, 73);
  EXPECT_EQ(names.size(), 73u);
  EXPECT_EQ(Shortcut::keyName(0), "A");
  EXPECT_EQ(Shortcut::keyName(22), "6");
  EXPECT_EQ(Shortcut::keyName(23), "5");
  EXPECT_EQ(Shortcut::keyName(122), "F1");
  EXPECT_EQ(Shortcut::keyName(99), "F3");
  EXPECT_EQ(Shortcut::keyName(115), "\u2196");
  EXPECT_EQ(Shortcut::keyName(121), "\u21DF");
  EXPECT_EQ(Shortcut::keyName(4294967295u), "Key 4294967295");
}

TEST(ShortcutTest, IsAcceptableNeedsControlOptionOrCommand) {
  EXPECT_FALSE((Shortcut{35, {}}).isAcceptable());
  EXPECT_FALSE((Shortcut{35, Modifiers::shift}).isAcceptable());
  EXPECT_TRUE((Shortcut{35, Modifiers::option}).isAcceptable());
  EXPECT_TRUE((Shortcut{35, Modifiers::control}).isAcceptable());
  EXPECT_TRUE((Shortcut{35, Modifiers::command | Modifiers::shift}).isAcceptable());
}

TEST(ShortcutTest, WellKnownNoteOnlyForCommandAlone) {
  EXPECT_EQ((Shortcut{12, Modifiers::command}).wellKnownNote(), "\u2318Q quits the app in front.");
  EXPECT_EQ((Shortcut{49, Modifiers::command}).wellKnownNote(), "\u2318Space opens Spotlight.");
  EXPECT_EQ((Shortcut{35, Modifiers::command}).wellKnownNote(), "\u2318P is Print in most apps.");
  EXPECT_EQ((Shortcut{12, Modifiers::command | Modifiers::shift}).wellKnownNote(), std::nullopt);
  EXPECT_EQ((Shortcut{12, Modifiers::control}).wellKnownNote(), std::nullopt);
  EXPECT_EQ((Shortcut{13, Modifiers::command}).wellKnownNote(), std::nullopt);
  EXPECT_EQ(Shortcut::defaultPause.wellKnownNote(), std::nullopt);
}

TEST(ShortcutTest, EqualityComparesBothFields) {
  EXPECT_EQ((Shortcut{35, Modifiers{14}}), Shortcut::defaultPause);
  EXPECT_NE((Shortcut{35, Modifiers{6}}), Shortcut::defaultPause);
  EXPECT_NE((Shortcut{34, Modifiers{14}}), Shortcut::defaultPause);
}

}  // namespace
}  // namespace vistrel
