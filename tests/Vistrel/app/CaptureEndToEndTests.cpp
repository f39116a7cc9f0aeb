// The real capture path end to end: a private X server with a window manager, real windows in
// front, the real vistrel-cli binary capturing with its X11 probes and Tesseract, and its search
// and image commands reading the result.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "VistrelKit/settings/ConfigFile.h"
#include "VistrelKit/imaging/Imaging.h"
#include "tests/support/IsolatedProcess.h"
#include "tests/support/XvfbSession.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::XvfbSession;

using Result = testing::ProcessResult;
using testing::readWholeFile;

class CaptureEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::qtApplication();
    session_ = new XvfbSession({.windowManager = true, .screen = "1024x768x24"});
  }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }

  void SetUp() override { fs::create_directories(temp.path() / "home"); }

  // Runs a program with every default location in the temporary folder and no session bus.
  Result run(std::vector<std::string> arguments) {
    return testing::runIsolated(std::move(arguments), temp.path());
  }

  Result cli(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {VISTREL_CLI_PATH, "--data-dir", dataDir().string(),
                                         "--key-file", (temp.path() / "key").string()});
    return run(std::move(arguments));
  }

  json cliJSON(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--json");
    return testing::successJSON(cli(std::move(arguments)));
  }

  fs::path dataDir() const { return temp.path() / "data"; }

  // An image viewer window (ImageMagick's display) showing lines of dark text on white.
  testing::ChildProcess showText(const std::string& text, int x, int y) {
    const fs::path image = temp.path() / "text.png";
    EXPECT_EQ(testing::run({"convert", "-size", "700x220", "xc:white", "-font",
                            "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "-pointsize", "40",
                            "-fill", "black", "-annotate", "+30+120", text, image.string()}),
              0);
    testing::ChildProcess viewer({"display", "-geometry",
                                  "+" + std::to_string(x) + "+" + std::to_string(y), "-title",
                                  "Viewer", image.string()});
    const Result found =
        run({"xdotool", "search", "--sync", "--onlyvisible", "--class", "Display"});
    viewerWindow = found.out.substr(0, found.out.find('\n'));
    EXPECT_FALSE(viewerWindow.empty()) << found.err;
    EXPECT_EQ(run({"xdotool", "windowactivate", "--sync", viewerWindow}).status, 0);
    return viewer;
  }

  static XvfbSession* session_;
  testing::TemporaryFolder temp;
  std::string viewerWindow;
};

XvfbSession* CaptureEndToEnd::session_ = nullptr;

TEST_F(CaptureEndToEnd, CapturesTheWindowInFrontAndSkipsAnExcludedOne) {
  testing::ChildProcess viewer = showText("Invoice 4471 Tevrin", 40, 40);

  Result captured = cli({"capture", "--ticks", "1"});
  ASSERT_EQ(captured.status, 0) << captured.err;
  EXPECT_NE(captured.out.find("Tick 1: Stored frame 1 ("), std::string::npos) << captured.out;
  EXPECT_NE(captured.out.find("Status: Recording · last change saved "), std::string::npos);
  EXPECT_FALSE(fs::exists(dataDir() / "config.json")) << "capture on for this run only";

  const json hits = cliJSON({"search", "invo tevr"});
  ASSERT_TRUE(hits.is_array()) << hits;
  ASSERT_EQ(hits.size(), 1u) << hits;
  const json frame = cliJSON({"show", "1"});
  ASSERT_TRUE(frame.is_object()) << frame;
  ASSERT_TRUE(frame.contains("bundleID") && frame["bundleID"].is_string()) << frame;
  const std::string viewerID = frame["bundleID"];
  const std::string viewerName = frame["appName"];

  // The same viewer, now excluded: nothing is stored and the reason is printed.
  VistrelConfig config;
  config.excludedApps.push_back({viewerID, viewerName});
  ConfigFile::save(config, dataDir() / "config.json");
  captured = cli({"capture"});
  ASSERT_EQ(captured.status, 0) << captured.err;
  EXPECT_NE(captured.out.find("Tick 1: Skipped: " + viewerName + " is excluded"), std::string::npos)
      << captured.out;
  EXPECT_EQ(cliJSON({"stats"})["frames"], 1);

  // Behind another window it is recorded as black where it shows.
  testing::TestWindow cover({.instance = "cover",
                             .className = "Cover",
                             .title = std::string("Cover"),
                             .area = {400, 100, 500, 400},
                             .color = 0xCC2222});
  cover.activate();
  const testing::Area covering = cover.frameArea();
  captured = cli({"capture"});
  ASSERT_EQ(captured.status, 0) << captured.err;
  ASSERT_NE(captured.out.find("Tick 1: Stored frame 2"), std::string::npos) << captured.out;
  const fs::path jpeg = temp.path() / "frame.jpg";
  const Result written = cli({"image", "2", jpeg.string()});
  ASSERT_EQ(written.status, 0) << written.err;
  const std::string bytes = readWholeFile(jpeg);
  const auto image = Imaging::decodeJPEG(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  ASSERT_TRUE(image.has_value());
  ASSERT_EQ(image->width(), 1024);
  const auto pixel = [&](int x, int y) {
    const std::uint8_t* p = image->row(y) + 4 * x;
    return std::array<int, 3>{p[0], p[1], p[2]};
  };
  // Inside the viewer, left of the cover: was white with text, now black.
  const auto blanked = pixel(200, 150);
  EXPECT_LT(blanked[0] + blanked[1] + blanked[2], 40)
      << blanked[0] << "," << blanked[1] << "," << blanked[2];
  // The cover in front keeps its colour.
  const auto front = pixel(covering.x + covering.width / 2, covering.y + covering.height / 2);
  EXPECT_GT(front[0], 160);
  EXPECT_LT(front[1], 80);
  EXPECT_EQ(cliJSON({"search", "tevrin"}).size(), 1u) << "the hidden text was not read";
}

TEST_F(CaptureEndToEnd, HeadlessApplicationRecordsUntilTerminatedAndSavesTheSettings) {
  testing::ChildProcess viewer = showText("Quarterly ledger", 60, 60);
  fs::create_directories(dataDir());
  std::ofstream(dataDir() / "config.json") << R"({"captureEnabled": true, "interval": 2})";
  const fs::path output = temp.path() / "headless.txt";
  const std::string command = std::string("exec ") + VISTREL_APP_PATH + " --headless --data-dir '" +
                              dataDir().string() + "' --key-file '" +
                              (temp.path() / "key").string() + "' > '" + output.string() + "' 2>&1";
  testing::ChildProcess app({"sh", "-c", command}, {}, false);
  const bool recorded = testing::waitUntil(
      [&] {
        return readWholeFile(output).find("Recording · last change saved") != std::string::npos;
      },
      std::chrono::seconds(20));
  ASSERT_TRUE(recorded) << readWholeFile(output);
  ::kill(app.pid(), SIGTERM);
  EXPECT_EQ(app.wait(), 0) << readWholeFile(output);
  EXPECT_EQ(readWholeFile(output).find("Data folder: "), 0u) << readWholeFile(output);
  // Written back in full at exit, onboarding done because capture was turned on.
  const std::string saved = readWholeFile(dataDir() / "config.json");
  EXPECT_NE(saved.find("\"onboardingDone\": true"), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"retentionDays\": 30"), std::string::npos) << saved;
  EXPECT_EQ(cliJSON({"search", "quarterly"}).size(), 1u);
}

}  // namespace
}  // namespace vistrel
