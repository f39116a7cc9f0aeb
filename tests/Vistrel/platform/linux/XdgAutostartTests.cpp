#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "Vistrel/platform/linux/XdgAutostart.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(XdgAutostart, WritesAndRemovesTheEntryInTheConfigHome) {
  testing::TemporaryFolder home;
  const std::string configHome = (home.path() / "config").string();
  ScopedEnvironment environment("XDG_CONFIG_HOME", configHome.c_str());
  const auto file = home.path() / "config" / "autostart" / "com.tevrin77.Vistrel.desktop";
  EXPECT_EQ(XdgAutostart::defaultFile(), file);

  XdgAutostart item("/opt/Vistrel/bin/vistrel");
  EXPECT_FALSE(item.isEnabled());
  item.setEnabled(true);
  EXPECT_TRUE(item.isEnabled());
  const std::string text = contents(file);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=/opt/Vistrel/bin/vistrel\n"), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat((home.path() / "config" / "autostart").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  item.setEnabled(true);
  EXPECT_TRUE(item.isEnabled());
  item.setEnabled(false);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_NO_THROW(item.setEnabled(false)) << "removing a missing entry is no error";
}

TEST(XdgAutostart, RelativeConfigHomeFallsBackToTheHomeFolder) {
  ScopedEnvironment environment("XDG_CONFIG_HOME", "relative/config");
  const auto file = XdgAutostart::defaultFile();
  EXPECT_TRUE(file.is_absolute()) << file;
  EXPECT_EQ(file.filename(), "com.tevrin77.Vistrel.desktop");
  EXPECT_EQ(file.parent_path().parent_path().filename(), ".config");
}

TEST(XdgAutostart, QuotesAndEscapesTheExecutable) {
  EXPECT_NE(XdgAutostart::entryText("/home/a b/vistrel").find("\nExec=\"/home/a b/vistrel\"\n"),
            std::string::npos);
  // Inside quotes "$" gets a backslash, and every backslash is doubled again for the value.
  EXPECT_NE(XdgAutostart::entryText("/x/$HOME/v").find("\nExec=\"/x/\\\\$HOME/v\"\n"),
            std::string::npos);
  EXPECT_NE(XdgAutostart::entryText("/x/100%/v").find("\nExec=/x/100%%/v\n"), std::string::npos);
}

TEST(XdgAutostart, HiddenEntryCountsAsOff) {
  testing::TemporaryFolder folder;
  const auto file = folder.path() / "entry.desktop";
  std::ofstream(file) << "[Desktop Entry]\nType=Application\nExec=vistrel\nHidden=true\n";
  EXPECT_FALSE(XdgAutostart("/usr/bin/vistrel", file).isEnabled());
}

TEST(XdgAutostart, FailureCarriesTheSystemMessage) {
  testing::TemporaryFolder folder;
  // A plain file where the autostart folder should be.
  std::ofstream(folder.path() / "autostart") << "x";
  XdgAutostart item("/usr/bin/vistrel", folder.path() / "autostart" / "vistrel.desktop");
  try {
    item.setEnabled(true);
    FAIL() << "no error";
  } catch (const LoginItemError& error) {
    EXPECT_FALSE(std::string(error.what()).empty());
  }
}

}  // namespace
}  // namespace vistrel
