#include <gtest/gtest.h>
#include <sys/uio.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/screensaver.h>
#include <xcb/xcbext.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "Vistrel/platform/linux/X11Display.h"
#include "Vistrel/platform/linux/X11Probes.h"
#include "tests/support/FakeSessionBus.h"
#include "tests/support/XvfbSession.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using testing::Area;
using testing::fakeLogind;
using testing::fakeScreenSaver;
using testing::PrivateBus;
using testing::TestWindow;
using testing::XvfbSession;

using Pixel = std::array<std::uint8_t, 3>;

constexpr Pixel black{0, 0, 0};
constexpr Pixel red{0xCC, 0x22, 0x22};
constexpr Pixel green{0x22, 0xAA, 0x44};
constexpr Pixel blue{0x22, 0x44, 0xCC};

Pixel pixelAt(const Image& image, int x, int y) {
  const std::uint8_t* p = image.row(y) + 4 * x;
  return {p[0], p[1], p[2]};
}

std::uint32_t rgb(Pixel pixel) {
  return std::uint32_t(pixel[0]) << 16 | std::uint32_t(pixel[1]) << 8 | pixel[2];
}

std::string hostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

TEST(ValidUTF8, KeepsGoodTextAndReplacesEveryBadByte) {
  const std::string replacement = "\xEF\xBF\xBD";
  const struct {
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"Café ☕ 🎉", "Café ☕ 🎉"},
      {"", ""},
      {"a\xFF"
       "b",
       "a" + replacement + "b"},
      {"\xC3", replacement},                                      // cut short
      {"\xE2\x98", replacement + replacement},                    // cut short
      {"\xC0\xAF", replacement + replacement},                    // overlong "/"
      {"\xED\xA0\x80", replacement + replacement + replacement},  // surrogate half
      {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // > U+10FFFF
      {"\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},                                     // U+10FFFF
      {"\xE2\x98"
       "x",
       replacement + replacement + "x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(x11::validUTF8(c.bytes), c.expected);
  }
}

class X11ProbesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::qtApplication();
    session_ = new XvfbSession();
  }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }

  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("vistrel-x11-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    std::ofstream(folder_ / "org.example.Editor.desktop")
        << "[Desktop Entry]\nType=Application\nName=Example Editor\n"
           "StartupWMClass=ExampleEditor\n";
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Probes on the test's display that see only the test's desktop entries and no D-Bus.
  X11Probes::Options options() const {
    X11Probes::Options options;
    options.display = session_->display();
    options.applicationFolders = {folder_};
    options.sessionBusAddress = QStringLiteral("unix:path=/nonexistent/vistrel-test-bus");
    options.systemBusAddress = options.sessionBusAddress;
    return options;
  }

  static XvfbSession* session_;
  fs::path folder_;
};

XvfbSession* X11ProbesTest::session_ = nullptr;

TEST_F(X11ProbesTest, FrontWindowNamesTheActiveApplicationTitleAndCentre) {
  X11Probes probes(options());
  const struct {
    TestWindow::Spec spec;
    WindowInfo expected;
  } cases[] = {
      {{.instance = "exampleeditor",
        .className = "ExampleEditor",
        .title = "Café ☕ naïve 🎉 — Notes.txt"},
       {"org.example.Editor", "Example Editor", "Café ☕ naïve 🎉 — Notes.txt"}},
      // Without _NET_WM_NAME the title is WM_NAME, in Latin-1.
      {{.instance = "xterm",
        .className = "XTerm",
        .legacyTitle = "Fran\xE7"
                       "ais"},
       {"XTerm", "XTerm", "Français"}},
      {{.instance = "gtkapp",
        .className = "Gtkapp",
        .title = "Hello",
        .gtkApplicationID = "org.example.GtkApp"},
       {"org.example.GtkApp", "Gtkapp", "Hello"}},
      // Broken UTF-8 is repaired, never passed on.
      {{.instance = "broken",
        .className = "Broken",
        .title = "ab\xFF"
                 "cd"},
       {"Broken", "Broken",
        "ab\xEF\xBF\xBD"
        "cd"}},
      {{.instance = "untitled", .className = "Untitled"}, {"Untitled", "Untitled", std::nullopt}},
      // An application that names itself nowhere.
      {{.title = "Nameless"}, {std::nullopt, "App", "Nameless"}},
  };
  for (const auto& c : cases) {
    TestWindow window(c.spec);
    window.activate();
    const auto front = probes.frontWindow();
    ASSERT_TRUE(front) << c.expected.appName;
    EXPECT_EQ(front->info, c.expected);
    const Area area = window.clientArea();
    ASSERT_TRUE(front->center);
    EXPECT_DOUBLE_EQ(front->center->x, area.x + area.width / 2.0);
    EXPECT_DOUBLE_EQ(front->center->y, area.y + area.height / 2.0);
  }
}

TEST_F(X11ProbesTest, RunningAppsAreTheManagedWindowsApplicationsWithTheirKind) {
  X11Probes probes(options());
  TestWindow editor({.instance = "exampleeditor", .className = "ExampleEditor", .title = "a"});
  TestWindow dialog(
      {.instance = "prefs", .className = "Prefs", .windowTypes = {"_NET_WM_WINDOW_TYPE_DIALOG"}});
  TestWindow panel(
      {.instance = "panel", .className = "Panel", .windowTypes = {"_NET_WM_WINDOW_TYPE_DOCK"}});
  TestWindow helper({.instance = "helper", .className = "Helper", .skipTaskbar = true});
  TestWindow own({.instance = "vistrel", .className = "Vistrel", .pid = std::uint32_t(getpid())});
  TestWindow nameless({.title = "Nameless"});
  // An empty list of types is no type at all.
  TestWindow notes({.instance = "notes", .className = "Notes", .typesListed = true});

  const std::vector<RunningApp> expected = {{"org.example.Editor", "Example Editor", true},
                                            {"Prefs", "Prefs", true},
                                            {"Panel", "Panel", false},
                                            {"Helper", "Helper", false},
                                            {"Notes", "Notes", true}};
  std::vector<RunningApp> apps;
  // The window manager lists a window once it has taken it on.
  testing::waitUntil([&] {
    apps = probes.runningApps();
    return apps.size() >= expected.size();
  });
  EXPECT_EQ(apps, expected);
}

TEST_F(X11ProbesTest, AnApplicationWithoutAMappedWindowHasNoTitleAndNoCentre) {
  X11Probes probes(options());
  TestWindow hidden({.instance = "exampleeditor",
                     .className = "ExampleEditor",
                     .title = "Secret plans",
                     .mapped = false});
  hidden.claimActive();
  const auto front = probes.frontWindow();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->info, (WindowInfo{"org.example.Editor", "Example Editor", std::nullopt}));
  EXPECT_EQ(front->center, std::nullopt);
  hidden.setRootWindowProperty("_NET_ACTIVE_WINDOW", XCB_NONE);
}

TEST_F(X11ProbesTest, NothingIsInFrontWithoutAnActiveWindow) {
  X11Probes probes(options());
  {
    TestWindow window({.instance = "a", .className = "A", .title = "A"});
    window.activate();
    ASSERT_TRUE(probes.frontWindow());
    window.setRootWindowProperty("_NET_ACTIVE_WINDOW", XCB_NONE);
  }
  EXPECT_EQ(probes.frontWindow(), std::nullopt);
}

TEST_F(X11ProbesTest, OwnWindowsAreNamedAsThisApplication) {
  X11Probes probes(options());
  TestWindow own({.instance = "vistrel",
                  .className = "Vistrel",
                  .title = "Vistrel Settings",
                  .pid = std::uint32_t(getpid()),
                  .machine = hostName()});
  own.activate();
  const auto front = probes.frontWindow();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->info.bundleID, std::optional<std::string>(ownApplicationID));
  EXPECT_EQ(front->info.appName, "Vistrel");
  // A window of the same process ID on another machine is someone else's.
  TestWindow remote({.instance = "remote",
                     .className = "Remote",
                     .title = "Remote",
                     .pid = std::uint32_t(getpid()),
                     .machine = "elsewhere.example"});
  remote.activate();
  EXPECT_EQ(probes.frontWindow()->info.bundleID, std::optional<std::string>("Remote"));
}

TEST_F(X11ProbesTest, ListsTheMonitors) {
  X11Probes probes(options());
  EXPECT_EQ(probes.displays(), (std::vector<DisplayFrame>{{0, 0, 1920, 1080}}));
  EXPECT_TRUE(probes.hasScreenRecordingPermission());
  EXPECT_TRUE(probes.requestScreenRecordingPermission());
}

// The one screen of the test's X server shown as monitors of the test's choosing (RandR 1.5
// monitors, as a desktop with several displays lists them), until the object goes.
class FakeMonitors {
 public:
  explicit FakeMonitors(const std::vector<DisplayFrame>& frames) {
    int screenNumber = 0;
    connection_ = connectToDisplay("", &screenNumber);
    xcb_connection_t* c = connection_.get();
    root_ = screenOfDisplay(c, screenNumber)->root;
    // The first monitor takes the server's only output, whose automatic monitor would otherwise
    // cover the whole screen; the others have none (an output belongs to one monitor only).
    XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources{
        xcb_randr_get_screen_resources_current_reply(
            c, xcb_randr_get_screen_resources_current(c, root_), nullptr)};
    std::vector<xcb_randr_output_t> outputs;
    if (resources) {
      const auto* first = xcb_randr_get_screen_resources_current_outputs(resources.get());
      outputs.assign(
          first, first + xcb_randr_get_screen_resources_current_outputs_length(resources.get()));
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const std::string name = "VISTREL-TEST-" + std::to_string(i);
      XcbReply<xcb_intern_atom_reply_t> atom{xcb_intern_atom_reply(
          c, xcb_intern_atom(c, 0, std::uint16_t(name.size()), name.c_str()), nullptr)};
      names_.push_back(atom->atom);
      const bool takesOutput = i == 0 && !outputs.empty();
      const std::size_t size =
          sizeof(xcb_randr_monitor_info_t) + (takesOutput ? sizeof(xcb_randr_output_t) : 0);
      std::vector<std::uint8_t> bytes(size);
      auto* monitor = reinterpret_cast<xcb_randr_monitor_info_t*>(bytes.data());
      monitor->name = atom->atom;
      monitor->primary = 0;
      monitor->automatic = 0;
      monitor->nOutput = takesOutput ? 1 : 0;
      monitor->x = std::int16_t(frames[i].x);
      monitor->y = std::int16_t(frames[i].y);
      monitor->width = std::uint16_t(frames[i].width);
      monitor->height = std::uint16_t(frames[i].height);
      monitor->width_in_millimeters = std::uint32_t(frames[i].width / 4);
      monitor->height_in_millimeters = std::uint32_t(frames[i].height / 4);
      if (takesOutput) {
        *xcb_randr_monitor_info_outputs(monitor) = outputs.front();
      }
      if (!setMonitor(bytes)) {
        throw std::runtime_error("the X server refused monitor " + name);
      }
    }
  }

  ~FakeMonitors() {
    xcb_connection_t* c = connection_.get();
    for (const xcb_atom_t name : names_) {
      XcbReply<xcb_generic_error_t> error{
          xcb_request_check(c, xcb_randr_delete_monitor_checked(c, root_, name))};
    }
  }

  FakeMonitors(const FakeMonitors&) = delete;
  FakeMonitors& operator=(const FakeMonitors&) = delete;

 private:
  // Sent by hand: xcb_randr_set_monitor of libxcb 1.15 writes past its own iovec array and
  // sends garbage or breaks the connection.
  bool setMonitor(const std::vector<std::uint8_t>& info) {
    std::vector<std::uint8_t> request(8 + info.size());
    std::memcpy(request.data() + 4, &root_, sizeof root_);
    std::memcpy(request.data() + 8, info.data(), info.size());
    iovec parts[3] = {};  // xcb needs the two entries before the request's own
    parts[2].iov_base = request.data();
    parts[2].iov_len = request.size();
    const xcb_protocol_request_t kind{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    const xcb_void_cookie_t cookie{
        xcb_send_request(connection_.get(), XCB_REQUEST_CHECKED, parts + 2, &kind)};
    XcbReply<xcb_generic_error_t> error{xcb_request_check(connection_.get(), cookie)};
    return !error;
  }

  XcbConnection connection_;
  xcb_window_t root_ = XCB_NONE;
  std::vector<xcb_atom_t> names_;
};

TEST_F(X11ProbesTest, CapturesTheMonitorUnderTheFrontWindow) {
  X11Probes probes(options());
  const FakeMonitors monitors({{0, 0, 1000, 1080}, {1000, 0, 920, 1080}});
  ASSERT_EQ(probes.displays(),
            (std::vector<DisplayFrame>{{0, 0, 1000, 1080}, {1000, 0, 920, 1080}}));
  TestWindow left({.instance = "left",
                   .className = "Left",
                   .title = "Left",
                   .area = {100, 100, 400, 300},
                   .color = rgb(blue)});
  TestWindow right({.instance = "keepassxc",
                    .className = "KeePassXC",
                    .title = "Right",
                    .area = {1300, 500, 400, 300},
                    .color = rgb(red)});

  right.activate();
  const auto front = probes.frontWindow();
  ASSERT_TRUE(front && front->center);
  const Area rightArea = right.clientArea();
  const Area leftArea = left.clientArea();
  const struct {
    std::optional<Point> center;
    int maxWidth;
    int width;
    int height;
    int originX;
  } cases[] = {
      {front->center, 4000, 920, 1080, 1000},
      {front->center, 460, 460, 540, 1000},
      {Point{leftArea.x + 5.0, leftArea.y + 5.0}, 4000, 1000, 1080, 0},
      {std::nullopt, 4000, 1000, 1080, 0},
      {Point{-50, -50}, 4000, 1000, 1080, 0},  // on no monitor: the first
  };
  for (const auto& c : cases) {
    const Image image = probes.captureScreen({}, c.center, c.maxWidth).image;
    ASSERT_EQ(image.width(), c.width);
    ASSERT_EQ(image.height(), c.height);
    const double scale = double(c.width) / (c.originX == 0 ? 1000 : 920);
    const Area& shown = c.originX == 0 ? leftArea : rightArea;
    const Pixel expected = c.originX == 0 ? blue : red;
    EXPECT_EQ(pixelAt(image, int((shown.x + 20 - c.originX) * scale), int((shown.y + 20) * scale)),
              expected)
        << "monitor at " << c.originX << ", width " << c.width;
  }
  // Blanking works in the chosen monitor's own coordinates.
  const ExclusionRules rules({{"keepassxc", "KeePassXC"}}, {}, true, true, ownApplicationID);
  const Image blanked = probes.captureScreen(rules, front->center, 4000).image;
  EXPECT_EQ(pixelAt(blanked, rightArea.x + 20 - 1000, rightArea.y + 20), black);
  EXPECT_EQ(pixelAt(blanked, rightArea.x - 30 - 1000, rightArea.y + 20),
            pixelAt(probes.captureScreen({}, front->center, 4000).image, rightArea.x - 30 - 1000,
                    rightArea.y + 20));
}

TEST_F(X11ProbesTest, ScreenshotIsAtMostMaxWidthWide) {
  X11Probes probes(options());
  TestWindow window(
      {.instance = "a", .className = "A", .area = {0, 0, 400, 300}, .color = rgb(blue)});
  const struct {
    int maxWidth;
    int width;
    int height;
  } cases[] = {{1600, 1600, 900}, {4000, 1920, 1080}, {1920, 1920, 1080}, {640, 640, 360}};
  for (const auto& c : cases) {
    const Image image = probes.captureScreen({}, std::nullopt, c.maxWidth).image;
    EXPECT_EQ(image.width(), c.width);
    EXPECT_EQ(image.height(), c.height);
    EXPECT_EQ(image.format(), PixelFormat::rgbx);
  }
  // The pixels are the screen's: the window's colour at its place, scaled along.
  const Area area = window.clientArea();
  const Image full = probes.captureScreen({}, std::nullopt, 4000).image;
  EXPECT_EQ(pixelAt(full, area.x + 10, area.y + 10), blue);
  const Image small = probes.captureScreen({}, std::nullopt, 960).image;
  EXPECT_EQ(pixelAt(small, (area.x + 100) / 2, (area.y + 100) / 2), blue);
}

TEST_F(X11ProbesTest, ScreenshotBytesAreRedGreenBlueInThatOrder) {
  X11Probes probes(options());
  // The server keeps blue in the lowest byte; the image must not.
  const struct {
    std::uint32_t color;
    Pixel bytes;
  } cases[] = {
      {0xFF0000, {0xFF, 0x00, 0x00}},
      {0x00FF00, {0x00, 0xFF, 0x00}},
      {0x0000FF, {0x00, 0x00, 0xFF}},
      {0x123456, {0x12, 0x34, 0x56}},
  };
  for (const auto& c : cases) {
    TestWindow window(
        {.instance = "a", .className = "A", .area = {100, 100, 400, 300}, .color = c.color});
    window.activate();
    const Area area = window.clientArea();
    for (const int maxWidth : {4000, 1600}) {
      const Image image = probes.captureScreen({}, std::nullopt, maxWidth).image;
      ASSERT_EQ(image.format(), PixelFormat::rgbx);
      const double scale = double(image.width()) / 1920;
      const int x = int((area.x + area.width / 2) * scale);
      const int y = int((area.y + area.height / 2) * scale);
      const std::uint8_t* pixel = image.row(y) + 4 * x;
      EXPECT_EQ((Pixel{pixel[0], pixel[1], pixel[2]}), c.bytes)
          << std::hex << c.color << " at width " << std::dec << image.width();
    }
  }
}

TEST_F(X11ProbesTest, ExcludedWindowIsBlackExactlyWhereItIsVisible) {
  X11Probes probes(options());
  TestWindow hidden({.instance = "keepassxc",
                     .className = "KeePassXC",
                     .title = "Passwords",
                     .area = {200, 200, 600, 400},
                     .color = rgb(red)});
  TestWindow front({.instance = "notes",
                    .className = "Notes",
                    .title = "Shopping list",
                    .area = {500, 400, 600, 400},
                    .color = rgb(green)});
  front.activate();
  const Area behind = hidden.frameArea();
  const Area above = front.frameArea();
  ASSERT_TRUE(above.contains(behind.x + behind.width - 1, behind.y + behind.height - 1))
      << "the windows must overlap";

  const Image plain = probes.captureScreen({}, std::nullopt, 4000).image;
  const ExclusionRules rules({{"keepassxc", "KeePassXC"}}, {}, true, true, ownApplicationID);
  const Image blanked = probes.captureScreen(rules, std::nullopt, 4000).image;
  ASSERT_EQ(plain.width(), blanked.width());
  ASSERT_EQ(plain.height(), blanked.height());
  // Before blanking the excluded window shows, partly hidden by the one in front.
  EXPECT_EQ(pixelAt(plain, behind.x + 50, behind.y + 100), red);
  EXPECT_EQ(pixelAt(plain, behind.x + behind.width - 5, behind.y + behind.height - 5), green);

  int wrongBlack = 0;
  int notBlack = 0;
  for (int y = 0; y < plain.height(); ++y) {
    for (int x = 0; x < plain.width(); ++x) {
      const bool visiblePart = behind.contains(x, y) && !above.contains(x, y);
      if (visiblePart) {
        notBlack += pixelAt(blanked, x, y) != black;
      } else {
        wrongBlack += pixelAt(blanked, x, y) != pixelAt(plain, x, y);
      }
    }
  }
  EXPECT_EQ(notBlack, 0) << "pixels of the excluded window that still show";
  EXPECT_EQ(wrongBlack, 0) << "pixels of other windows that changed";
  EXPECT_EQ(pixelAt(blanked, behind.x + behind.width - 5, behind.y + behind.height - 5), green);
}

TEST_F(X11ProbesTest, OwnWindowsNeverShow) {
  X11Probes probes(options());
  // One window of this process, and one that names this application without a process ID
  // (as another instance of it would).
  TestWindow own({.instance = "vistrel",
                  .className = "Vistrel",
                  .title = "Vistrel",
                  .area = {300, 300, 500, 400},
                  .color = rgb(blue),
                  .pid = std::uint32_t(getpid()),
                  .machine = hostName()});
  TestWindow named({.instance = "vistrel",
                    .className = "Vistrel",
                    .title = "Vistrel Search",
                    .area = {1000, 300, 500, 400},
                    .color = rgb(green),
                    .gtkApplicationID = ownApplicationID});
  own.activate();
  for (const Area area : {own.frameArea(), named.frameArea()}) {
    // Not even rules without an own bundle ID let them through, at any size.
    for (const int maxWidth : {4000, 1600}) {
      const Image image = probes.captureScreen({}, std::nullopt, maxWidth).image;
      const double scale = double(image.width()) / 1920;
      for (int y = area.y + 2; y < area.y + area.height - 2; y += 7) {
        for (int x = area.x + 2; x < area.x + area.width - 2; x += 7) {
          ASSERT_EQ(pixelAt(image, int(x * scale), int(y * scale)), black)
              << x << "," << y << " at width " << image.width();
        }
      }
    }
  }
}

TEST_F(X11ProbesTest, PrivateWindowsAndTitleWordsAreBlankedOnlyWhenTheRulesSaySo) {
  X11Probes probes(options());
  TestWindow privateWindow({.instance = "Navigator",
                            .className = "firefox",
                            .title = "Inbox — Private Browsing",
                            .area = {100, 100, 300, 200},
                            .color = rgb(red)});
  TestWindow bank({.instance = "Navigator",
                   .className = "firefox",
                   .title = "My Bank-Account — Overview",
                   .area = {900, 100, 300, 200},
                   .color = rgb(green)});
  const Area privateArea = privateWindow.clientArea();
  const Area bankArea = bank.clientArea();
  const struct {
    ExclusionRules rules;
    Pixel privatePixel;
    Pixel bankPixel;
  } cases[] = {
      {ExclusionRules({}, {}, false, true), red, green},
      {ExclusionRules({}, {}, true, true), black, green},
      {ExclusionRules({}, {"bank account"}, false, true), red, black},
      {ExclusionRules({{"firefox", "Firefox"}}, {}, false, true), black, black},
  };
  for (const auto& c : cases) {
    const Image image = probes.captureScreen(c.rules, std::nullopt, 4000).image;
    EXPECT_EQ(pixelAt(image, privateArea.x + 20, privateArea.y + 20), c.privatePixel);
    EXPECT_EQ(pixelAt(image, bankArea.x + 20, bankArea.y + 20), c.bankPixel);
  }
}

TEST_F(X11ProbesTest, IdleTimeGrowsAndDropsAfterAKeyPress) {
  X11Probes probes(options());
  ASSERT_EQ(testing::run({"xdotool", "key", "shift"}), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1300));
  const double idle = probes.idleSeconds();
  EXPECT_GE(idle, 1.2);
  EXPECT_LT(idle, 30.0);
  ASSERT_EQ(testing::run({"xdotool", "key", "shift"}), 0);
  EXPECT_LT(probes.idleSeconds(), 1.0);
}

TEST_F(X11ProbesTest, APasswordPromptInFrontTurnsSecureInputOn) {
  X11Probes probes(options());
  TestWindow editor({.instance = "exampleeditor", .className = "ExampleEditor", .title = "Notes"});
  editor.activate();
  EXPECT_FALSE(probes.isSecureInputOn());
  const TestWindow::Spec prompts[] = {
      {.instance = "pinentry-gtk-2", .className = "Pinentry-gtk-2", .title = "Passphrase"},
      {.instance = "ssh-askpass", .className = "Ssh-askpass", .title = "OpenSSH"},
      {.instance = "gcr-prompter", .className = "Gcr-prompter", .title = "Unlock Keyring"},
      {.instance = "polkit-gnome-authentication-agent-1",
       .className = "Polkit-gnome-authentication-agent-1",
       .title = "Authenticate"},
      {.instance = "kwalletd5", .className = "kwalletd5", .title = "KDE Wallet Service"},
      {.title = "Unlock", .gtkApplicationID = "org.gnome.keyring.SystemPrompter.gcr-prompter"},
  };
  for (const auto& spec : prompts) {
    TestWindow prompt(spec);
    prompt.activate();
    EXPECT_TRUE(probes.isSecureInputOn()) << spec.className << spec.gtkApplicationID;
    editor.activate();
    EXPECT_FALSE(probes.isSecureInputOn()) << spec.className << spec.gtkApplicationID;
  }
}

// Xvfb has no DPMS extension (no screen of it can change power level), so the display-sleep
// reading is not exercised here; the screen saver's blanking, which DPMS-less servers use, is.
TEST_F(X11ProbesTest, BlankedScreenCountsAsAsleep) {
  X11Probes probes(options());
  TestWindow window({.instance = "a", .className = "A"});
  EXPECT_FALSE(probes.isScreenLockedOrAsleep());
  xcb_force_screen_saver(window.connection(), XCB_SCREEN_SAVER_ACTIVE);
  xcb_flush(window.connection());
  EXPECT_TRUE(testing::waitUntil([&] { return probes.isScreenLockedOrAsleep(); }));
  xcb_force_screen_saver(window.connection(), XCB_SCREEN_SAVER_RESET);
  xcb_flush(window.connection());
  EXPECT_TRUE(testing::waitUntil([&] { return !probes.isScreenLockedOrAsleep(); }));
}

TEST_F(X11ProbesTest, LockStateComesFromLogindOrTheScreenSaver) {
  PrivateBus bus;
  X11Probes::Options withBus = options();
  withBus.sessionBusAddress = bus.address();
  withBus.systemBusAddress = bus.address();
  X11Probes probes(withBus);

  // Nobody answers on this bus yet: not locked, and no long wait for it.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(probes.isScreenLockedOrAsleep());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  std::atomic<bool> screenSaverActive{false};
  std::atomic<bool> sessionLocked{false};
  const auto screenSaver = fakeScreenSaver(bus.address(), screenSaverActive);
  EXPECT_FALSE(probes.isScreenLockedOrAsleep());
  screenSaverActive = true;
  EXPECT_TRUE(probes.isScreenLockedOrAsleep());
  screenSaverActive = false;

  const auto logind = fakeLogind(bus.address(), sessionLocked);
  EXPECT_FALSE(probes.isScreenLockedOrAsleep());
  sessionLocked = true;
  EXPECT_TRUE(probes.isScreenLockedOrAsleep());
  EXPECT_GE(screenSaver->calls(), 3);
  EXPECT_GE(logind->calls(), 2);
}

TEST_F(X11ProbesTest, ALockServiceThatDoesNotAnswerLeavesTheLockStateUnknown) {
  PrivateBus bus;
  X11Probes::Options withBus = options();
  withBus.sessionBusAddress = bus.address();
  withBus.systemBusAddress = bus.address();
  withBus.busTimeout = std::chrono::milliseconds(100);
  X11Probes probes(withBus);
  const testing::FakeService slowScreenSaver(
      bus.address(), QStringLiteral("org.gnome.ScreenSaver"),
      QStringLiteral("/org/gnome/ScreenSaver"),
      [](const QDBusMessage&) -> std::optional<QVariantList> {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        return QVariantList{QVariant(false)};
      });
  EXPECT_THROW(probes.isScreenLockedOrAsleep(), ProbeUnknown);

  // A service that does say "locked" is believed even while another stays silent.
  std::atomic<bool> active{true};
  const auto screenSaver = fakeScreenSaver(bus.address(), active);
  EXPECT_TRUE(probes.isScreenLockedOrAsleep());
}

TEST(X11ProbesWithoutDisplay, NoProbeGuessesAndCaptureFailsClearly) {
  const char* previous = std::getenv("DISPLAY");
  const std::optional<std::string> saved = previous ? std::optional(previous) : std::nullopt;
  unsetenv("DISPLAY");
  X11Probes::Options options;
  options.sessionBusAddress = QStringLiteral("unix:path=/nonexistent/vistrel-test-bus");
  options.systemBusAddress = options.sessionBusAddress;
  X11Probes probes(options);
  EXPECT_FALSE(probes.hasScreenRecordingPermission());
  EXPECT_FALSE(probes.requestScreenRecordingPermission());
  EXPECT_THROW(probes.frontWindow(), ProbeUnknown);
  EXPECT_THROW(probes.isScreenLockedOrAsleep(), ProbeUnknown);
  EXPECT_THROW(probes.isSecureInputOn(), ProbeUnknown);
  EXPECT_THROW(probes.idleSeconds(), ProbeUnknown);
  EXPECT_TRUE(probes.displays().empty());
  try {
    probes.captureScreen({}, Point{10, 10}, 1600).image;
    ADD_FAILURE() << "captured without a display";
  } catch (const CaptureError& error) {
    EXPECT_EQ(error.code(), CaptureError::Code::noDisplay);
    EXPECT_STREQ(error.what(), "No display to capture");
  }
  if (saved) {
    setenv("DISPLAY", saved->c_str(), 1);
  }
}

// Without a window manager the front window is the one holding the input focus.
TEST(X11ProbesWhenTheDisplayGoesAway, NoProbeGuesses) {
  XvfbSession session;
  X11Probes::Options options;
  options.display = session.display();
  options.applicationFolders = {"/nonexistent"};
  options.sessionBusAddress = QStringLiteral("unix:path=/nonexistent/vistrel-test-bus");
  options.systemBusAddress = options.sessionBusAddress;
  X11Probes probes(options);
  EXPECT_FALSE(probes.isScreenLockedOrAsleep());
  EXPECT_FALSE(probes.isSecureInputOn());
  {
    TestWindow window({.instance = "brief", .className = "Brief", .title = "Closing soon"});
    window.focus();
    ASSERT_TRUE(testing::waitUntil([&] { return probes.frontWindow().has_value(); }));
  }
  // openbox keeps naming the closed window as the active one: that is nothing in front, not a
  // question without an answer.
  EXPECT_TRUE(testing::waitUntil([&] { return !probes.frontWindow().has_value(); }));

  session.stopServer();
  EXPECT_THROW(probes.frontWindow(), ProbeUnknown);
  EXPECT_THROW(probes.isScreenLockedOrAsleep(), ProbeUnknown);
  EXPECT_THROW(probes.idleSeconds(), ProbeUnknown);
  EXPECT_THROW(probes.isSecureInputOn(), ProbeUnknown);
}

TEST(X11ProbesWithoutWindowManager, FrontWindowFollowsTheInputFocus) {
  XvfbSession session({.windowManager = false});
  X11Probes::Options options;
  options.display = session.display();
  options.applicationFolders = {"/nonexistent"};
  options.sessionBusAddress = QStringLiteral("unix:path=/nonexistent/vistrel-test-bus");
  options.systemBusAddress = options.sessionBusAddress;
  X11Probes probes(options);
  EXPECT_EQ(probes.frontWindow(), std::nullopt);

  TestWindow window(
      {.instance = "bare", .className = "Bare", .title = "Plain X", .area = {40, 60, 200, 100}});
  window.focus();
  const auto front = probes.frontWindow();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->info, (WindowInfo{"Bare", "Bare", "Plain X"}));
  EXPECT_EQ(front->center, (Point{140, 110}));
}

}  // namespace
}  // namespace vistrel
