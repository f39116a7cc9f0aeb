#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "Vistrel/platform/linux/ApplicationIdentity.h"
#include "Vistrel/platform/linux/DesktopEntries.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;

TEST(ParseDesktopEntry, ReadsNameAndWindowClassOfApplications) {
  const char* text =
      "# a comment\n"
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name = Text\\sEditor\n"
      "Name[de]=Texteditor\n"
      "Name[de_CH]=Texteditor (Schweiz)\n"
      "Name[fr]=Éditeur de texte\n"
      "StartupWMClass=gedit\n"
      "Icon=org.gnome.gedit\n"
      "[Desktop Action new-window]\n"
      "Name=New Window\n"
      "Icon=window-new\n";
  EXPECT_EQ(parseDesktopEntry(text, "org.gnome.gedit", "C"),
            (DesktopEntry{"org.gnome.gedit", "Text Editor", "gedit", "org.gnome.gedit"}));
  EXPECT_EQ(parseDesktopEntry(text, "x", "de_DE.UTF-8")->name, "Texteditor");
  EXPECT_EQ(parseDesktopEntry(text, "x", "de_CH.UTF-8@euro")->name, "Texteditor (Schweiz)");
  EXPECT_EQ(parseDesktopEntry(text, "x", "fr_FR")->name, "Éditeur de texte");
  EXPECT_EQ(parseDesktopEntry(text, "x", "ja_JP.UTF-8")->name, "Text Editor");
}

TEST(ParseDesktopEntry, RefusesWhatIsNoVisibleApplication) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"[Desktop Entry]\nType=Link\nName=Web\nURL=https://example.com\n", "a link"},
      {"[Desktop Entry]\nType=Application\nName=Old\nHidden=true\n", "hidden"},
      {"[Desktop Entry]\nType=Application\n", "no name"},
      {"[Other Group]\nType=Application\nName=Wrong\n", "no main group"},
      {"Type=Application\nName=Outside\n", "keys outside any group"},
      {"", "empty"},
      {"\x01\x02garbage\xff\n[Desktop Entry\nName", "garbage"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parseDesktopEntry(c.text, "x", "C"), std::nullopt) << c.why;
  }
}

TEST(SandboxAppID, ReadsFlatpakAndSnapUnits) {
  const struct {
    const char* cgroup;
    std::optional<std::string> expected;
  } cases[] = {
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-flatpak-org.mozilla.firefox-2231.scope\n",
       "org.mozilla.firefox"},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "app-flatpak-com.example.my-app-77.scope\n",
       "com.example.my-app"},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "snap.firefox.firefox.0e4d7c6e-3d6b-4c39-9d8a-0123456789ab.scope\n",
       "firefox_firefox"},
      {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
       "snap.code.code-0e4d7c6e-3d6b-4c39-9d8a-0123456789ab.scope\n",
       "code_code"},
      {"12:pids:/user.slice\n1:name=systemd:/user.slice/user-1000.slice/"
       "app-flatpak-org.gnome.Maps-5.scope\n0::/user.slice\n",
       "org.gnome.Maps"},
      {"0::/user.slice/user-1000.slice/session-2.scope\n", std::nullopt},
      {"0::/user.slice/app-gnome-firefox-1234.scope\n", std::nullopt},
      {"0::/app-flatpak-.scope\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sandboxAppIDFromCgroup(c.cgroup), c.expected) << c.cgroup;
  }
}

class DesktopFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("vistrel-desktop-" + std::to_string(getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(user());
    fs::create_directories(system() / "kde4");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path user() const { return root_ / "user"; }
  fs::path system() const { return root_ / "system"; }

  static void write(const fs::path& path, const std::string& name,
                    const std::string& startupWMClass = {}) {
    std::ofstream(path) << "[Desktop Entry]\nType=Application\nName=" << name << "\n"
                        << (startupWMClass.empty() ? ""
                                                   : "StartupWMClass=" + startupWMClass + "\n");
  }

  DesktopEntries entries() { return DesktopEntries({user(), system()}, "C"); }

  fs::path root_;
};

TEST_F(DesktopFolder, FirstFolderWinsAndSubfoldersJoinTheID) {
  write(system() / "org.example.Viewer.desktop", "System Viewer");
  write(user() / "org.example.Viewer.desktop", "My Viewer");
  write(system() / "kde4" / "kate.desktop", "Kate");
  auto list = entries();
  EXPECT_EQ(list.find("org.example.Viewer")->name, "My Viewer");
  EXPECT_EQ(list.find("kde4-kate")->name, "Kate");
  EXPECT_EQ(list.find("kate"), std::nullopt);
}

TEST_F(DesktopFolder, AllListsEachVisibleApplicationOnce) {
  write(system() / "org.example.Viewer.desktop", "System Viewer");
  write(user() / "org.example.Viewer.desktop", "My Viewer");
  write(system() / "org.example.Tool.desktop", "Tool");
  std::ofstream(user() / "org.example.Tool.desktop")
      << "[Desktop Entry]\nType=Application\nName=Tool\nHidden=true\n";
  write(system() / "kde4" / "kate.desktop", "Kate");
  std::vector<std::pair<std::string, std::string>> listed;
  for (const DesktopEntry& entry : entries().all())
    listed.emplace_back(entry.id, entry.name);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::pair<std::string, std::string>>{
                        {"kde4-kate", "Kate"}, {"org.example.Viewer", "My Viewer"}}));
}

TEST_F(DesktopFolder, AHiddenUserEntryHidesTheSystemOne) {
  write(system() / "org.example.Tool.desktop", "Tool");
  std::ofstream(user() / "org.example.Tool.desktop")
      << "[Desktop Entry]\nType=Application\nName=Tool\nHidden=true\n";
  EXPECT_EQ(entries().find("org.example.Tool"), std::nullopt);
}

TEST_F(DesktopFolder, WindowClassMatchesStartupClassThenIDThenLastIDPart) {
  write(system() / "org.example.Notes.desktop", "Notes", "notes-app");
  write(system() / "Gimp.desktop", "GIMP");
  write(system() / "org.kde.dolphin.desktop", "Dolphin");
  auto list = entries();
  EXPECT_EQ(list.findForWindowClass("Notes-app", "notes-app")->id, "org.example.Notes");
  EXPECT_EQ(list.findForWindowClass("gimp", "gimp-2.10")->id, "Gimp");
  EXPECT_EQ(list.findForWindowClass("Dolphin", "dolphin")->id, "org.kde.dolphin");
  EXPECT_EQ(list.findForWindowClass("Unknown", "unknown"), std::nullopt);
  EXPECT_EQ(list.findForWindowClass("", ""), std::nullopt);
}

TEST_F(DesktopFolder, NewEntriesAreSeenWithoutRestarting) {
  auto list = entries();
  EXPECT_EQ(list.find("org.example.Late"), std::nullopt);
  // Folder times can be as coarse as the file system's; make sure the change is visible.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  write(user() / "org.example.Late.desktop", "Late Comer");
  fs::last_write_time(user(), fs::file_time_type::clock::now() + std::chrono::seconds(2));
  EXPECT_EQ(list.find("org.example.Late")->name, "Late Comer");
}

TEST_F(DesktopFolder, IdentifiesApplicationsFromWhatTheirWindowsSay) {
  write(system() / "org.gnome.TextEditor.desktop", "Text Editor");
  write(system() / "org.kde.konsole.desktop", "Konsole");
  write(system() / "firefox-esr.desktop", "Firefox ESR", "firefox-esr");
  write(system() / "org.mozilla.Thunderbird.desktop", "Thunderbird");
  auto list = entries();
  const struct {
    WindowClaims claims;
    ApplicationIdentity expected;
  } cases[] = {
      {{"gnome-text-editor", "Gnome-text-editor", "org.gnome.TextEditor", "", ""},
       {"org.gnome.TextEditor", "Text Editor"}},
      {{"konsole", "konsole", "", "/usr/share/applications/org.kde.konsole.desktop", ""},
       {"org.kde.konsole", "Konsole"}},
      {{"konsole", "konsole", "", "org.kde.konsole", ""}, {"org.kde.konsole", "Konsole"}},
      {{"Navigator", "firefox-esr", "", "", ""}, {"firefox-esr", "Firefox ESR"}},
      {{"thunderbird", "thunderbird", "", "", "org.mozilla.Thunderbird"},
       {"org.mozilla.Thunderbird", "Thunderbird"}},
      // A declared ID without an installed entry is still the ID; the class names it.
      {{"tool", "Tool", "org.example.Tool", "", ""}, {"org.example.Tool", "Tool"}},
      {{"xterm", "XTerm", "", "", ""}, {"XTerm", "XTerm"}},
      {{"lonely", "", "", "", ""}, {"lonely", "lonely"}},
      {{}, {std::nullopt, ""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(identifyApplication(c.claims, list), c.expected) << c.claims.wmClass;
  }
}

}  // namespace
}  // namespace vistrel
