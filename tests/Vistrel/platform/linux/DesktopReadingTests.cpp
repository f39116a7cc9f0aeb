// Reading a real desktop: real xterm windows under openbox on Xvfb, captured the way the
// capture loop does and read by the real recognizer.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "Vistrel/platform/linux/X11Probes.h"
#include "VistrelKit/capture/Recorder.h"
#include "VistrelKit/ocr/TextRecognizer.h"
#include "tests/support/XvfbSession.h"

namespace vistrel {
namespace {

using testing::ChildProcess;
using testing::XvfbSession;

struct Terminal {
  std::string geometry;  // COLSxROWS+X+Y
  std::vector<std::string> rows;
  std::string background;
  std::string foreground;
};

// An xterm in 16-pixel DejaVu Sans Mono printing `rows` and nothing else: no prompt, no cursor.
ChildProcess startTerminal(const Terminal& terminal) {
  // The last row ends without a newline, which would scroll the first one away.
  std::string script = "printf '\\033[?25l'";
  for (std::size_t i = 0; i < terminal.rows.size(); ++i) {
    script += std::string("; printf '") + (i ? "\\n" : "") + "%s' '" + terminal.rows[i] + "'";
  }
  script += "; exec sleep 600";
  return ChildProcess({"xterm", "-fa", "DejaVu Sans Mono", "-fs", "12", "-geometry",
                       terminal.geometry, "-bg", terminal.background, "-fg", terminal.foreground,
                       "-e", "sh", "-c", script});
}

std::vector<std::string> textsOf(const std::vector<TextLine>& lines) {
  std::vector<std::string> texts;
  for (const TextLine& line : lines) {
    texts.push_back(line.text);
  }
  return texts;
}

bool has(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class DesktopReadingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { session_ = new XvfbSession(); }
  static void TearDownTestSuite() {
    delete session_;
    session_ = nullptr;
  }

  // The screen's lines once every row of `expected` is read, or as last read.
  std::vector<std::string> readScreenFor(const std::vector<std::string>& expected) {
    X11Probes::Options options;
    options.display = session_->display();
    options.sessionBusAddress = QStringLiteral("unix:path=/nonexistent/vistrel-test-bus");
    options.systemBusAddress = options.sessionBusAddress;
    X11Probes probes(options);
    TextRecognizer recognizer;
    std::vector<std::string> texts;
    // The terminals draw their text a moment after they map.
    testing::waitUntil(
        [&] {
          const Screenshot shot =
              probes.captureScreen({}, std::nullopt, Recorder::textReadingWidth);
          texts = textsOf(recognizer.recognize(shot.image, shot.windows));
          return std::all_of(expected.begin(), expected.end(),
                             [&](const std::string& row) { return has(texts, row); });
        },
        std::chrono::seconds(20));
    return texts;
  }

  static XvfbSession* session_;
};

XvfbSession* DesktopReadingTest::session_ = nullptr;

// The first row right under a title bar used to be read together with the bar's edge and
// come back as junk; rows of two windows side by side used to be read as one line.
TEST_F(DesktopReadingTest, FirstRowsUnderTitleBarsAndSideBySideWindowsReadExactly) {
  const std::vector<std::string> left = {"Tamarind shipment number 88231",
                                         "Second row of the same terminal"};
  const std::vector<std::string> right = {"Kumquat delivery batch 40917",
                                          "Quarterly ledger closes Friday"};
  const ChildProcess dark = startTerminal({"40x2+40+60", left, "black", "white"});
  const ChildProcess light = startTerminal({"40x2+452+60", right, "white", "black"});
  const std::vector<std::string> firstRows = {left[0], right[0]};
  const std::vector<std::string> texts = readScreenFor(firstRows);
  for (const std::string& row : firstRows) {
    EXPECT_TRUE(has(texts, row)) << "\"" << row
                                 << "\" not read; read: " << ::testing::PrintToString(texts);
  }
  // Whether a wide space splits a row in two does not matter here; that no word is lost does.
  std::string all;
  for (const std::string& text : texts) {
    all += " " + text + " ";
  }
  for (const std::string& row : {left[1], right[1]}) {
    std::istringstream words(row);
    for (std::string word; words >> word;) {
      EXPECT_NE(all.find(" " + word + " "), std::string::npos) << word << " not read";
    }
  }
}

}  // namespace
}  // namespace vistrel
