// Runs the real vistrel-cli binary against a temporary data folder and key file, so neither the
// user's history nor a Secret Service is involved.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/base/Date.h"
#include "VistrelKit/base/Texts.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/keys/VistrelCryptoError.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/settings/ConfigFile.h"
#include "tests/support/FakeSessionBus.h"
#include "tests/support/IsolatedProcess.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ::testing::HasSubstr;

using Result = testing::ProcessResult;
using testing::readWholeFile;

fs::file_time_type modified(const fs::path& path) {
  return fs::last_write_time(path);
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dataDir = temp.path() / "data";
    keyFile = temp.path() / "keys" / "history-key";
    fs::create_directories(temp.path() / "home");
  }

  // Runs the tool with the given arguments. The environment points every default location into
  // the temporary folder and the session bus nowhere.
  Result run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VISTREL_CLI_PATH);
    return testing::runIsolated(std::move(arguments), temp.path(),
                                {{"XDG_DATA_HOME", (temp.path() / "home" / "data").string()}});
  }

  // The tool with the test's data folder and key file in front of the arguments.
  Result cli(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(),
                     {"--data-dir", dataDir.string(), "--key-file", keyFile.string()});
    return run(std::move(arguments));
  }

  json cliJSON(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "--json");
    return testing::successJSON(cli(std::move(arguments)));
  }

  // A screen with the given lines of text, drawn by ImageMagick; the extension picks the format.
  fs::path screen(const std::string& name, const std::vector<std::string>& lines) {
    const fs::path file = temp.path() / name;
    std::string command =
        "convert -size 900x" + std::to_string(60 + 60 * lines.size()) +
        " xc:white -font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf -pointsize 26 "
        "-fill '#202020'";
    for (std::size_t i = 0; i < lines.size(); ++i)
      command += " -annotate +30+" + std::to_string(60 + 60 * i) + " '" + lines[i] + "'";
    command += " -quality 92 '" + file.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return file;
  }

  // Makes a library directly with the core, without recognition, locked with the key file.
  void makeLibrary() {
    KeyFileStore store(keyFile);
    ASSERT_TRUE(FrameLibrary::open(dataDir, store, true, Calendar::systemDefault()));
  }

  static std::vector<std::int64_t> ids(const json& list) {
    std::vector<std::int64_t> result;
    for (const json& entry : list)
      result.push_back(entry.at("id").get<std::int64_t>());
    return result;
  }

  testing::TemporaryFolder temp;
  fs::path dataDir;
  fs::path keyFile;
};

TEST_F(CliTest, IngestSearchShowImageDeleteAndStats) {
  const fs::path invoice =
      screen("invoice.png", {"Invoice 4471 from Northwind Traders", "Payment due on Friday"});
  const fs::path notes = temp.path() / "notes.txt";
  std::ofstream(notes) << "not an image\n";
  const fs::path budget =
      screen("budget.jpg", {"Quarterly budget review meeting", "Agenda for the planning session"});
  const double at = secondsSince1970(now()) - 30;

  const Result ingest =
      cli({"--json", "ingest", "--app", "Editor", "--bundle-id", "org.example.Editor", "--title",
           "Notes", "--at", std::to_string(at), invoice.string(), notes.string(), budget.string()});
  EXPECT_EQ(ingest.status, 1) << "one file failed";
  EXPECT_THAT(ingest.err, HasSubstr("1 of 3 images were not recorded"));
  std::vector<json> lines;
  std::istringstream stream(ingest.out);
  for (std::string line; std::getline(stream, line);)
    lines.push_back(json::parse(line));
  ASSERT_EQ(lines.size(), 3u) << ingest.out;
  EXPECT_EQ(lines[0].at("file"), invoice.string());
  EXPECT_EQ(lines[0].at("outcome"), "stored");
  EXPECT_EQ(lines[0].at("id"), 1);
  EXPECT_GE(lines[0].at("lines").get<int>(), 2);
  EXPECT_FALSE(lines[0].contains("message"));
  EXPECT_EQ(lines[1].at("outcome"), "failed");
  EXPECT_THAT(lines[1].at("message").get<std::string>(), HasSubstr("PNG or JPEG"));
  EXPECT_FALSE(lines[1].contains("id"));
  EXPECT_EQ(lines[2].at("outcome"), "stored");
  EXPECT_EQ(lines[2].at("id"), 2);

  EXPECT_EQ((fs::status(keyFile).permissions() & fs::perms::all),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ((fs::status(keyFile.parent_path()).permissions() & fs::perms::all),
            fs::perms::owner_all);
  EXPECT_EQ(fs::file_size(keyFile), 32u);

  // Word prefixes in any order, and phrases.
  EXPECT_EQ(ids(cliJSON({"search", "north", "invo"})), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(ids(cliJSON({"search", "\"budget review\""})), (std::vector<std::int64_t>{2}));
  EXPECT_EQ(ids(cliJSON({"search", "\"review budget\""})), (std::vector<std::int64_t>{}));
  EXPECT_EQ(ids(cliJSON({"search"})), (std::vector<std::int64_t>{2, 1}));
  EXPECT_EQ(ids(cliJSON({"search", "--limit", "1"})), (std::vector<std::int64_t>{2}));
  EXPECT_EQ(ids(cliJSON({"search", "--range", "today", "notes"})).size(), 2u);
  EXPECT_EQ(ids(cliJSON({"search", "--app", "EDITOR", "payment"})), (std::vector<std::int64_t>{1}));
  EXPECT_EQ(ids(cliJSON({"search", "--app", "org.example.editor", "agenda"})),
            (std::vector<std::int64_t>{2}));
  const Result unknownApp = cli({"search", "--app", "Mail", "invoice"});
  EXPECT_EQ(unknownApp.status, 1);
  EXPECT_THAT(unknownApp.err, HasSubstr("No application called \"Mail\""));

  const json hit = cliJSON({"search", "payment"}).at(0);
  EXPECT_EQ(hit.at("id"), 1);
  EXPECT_NEAR(hit.at("date").get<double>(), at, 0.01);
  EXPECT_EQ(hit.at("appName"), "Editor");
  EXPECT_EQ(hit.at("bundleID"), "org.example.Editor");
  EXPECT_EQ(hit.at("title"), "Notes");
  EXPECT_THAT(hit.at("snippet").get<std::string>(), HasSubstr("Payment"));
  EXPECT_EQ(hit.at("matchingLines"), json::array({1}));

  const json shown = cliJSON({"show", "2"});
  EXPECT_EQ(shown.at("id"), 2);
  EXPECT_NEAR(shown.at("date").get<double>(), at + 2, 0.01);
  EXPECT_EQ(shown.at("width"), 900);
  EXPECT_EQ(shown.at("height"), 180);
  ASSERT_GE(shown.at("lines").size(), 2u);
  EXPECT_THAT(shown.at("lines")[0].at("text").get<std::string>(), HasSubstr("budget review"));
  for (const char* key : {"x", "y", "w", "h"}) {
    EXPECT_GT(shown.at("lines")[0].at(key).get<double>(), 0) << key;
    EXPECT_LT(shown.at("lines")[0].at(key).get<double>(), 1) << key;
  }
  EXPECT_EQ(cli({"show", "7"}).status, 1);

  const fs::path out = temp.path() / "frame.jpg";
  EXPECT_EQ(cli({"image", "1", out.string()}).status, 0);
  const std::string jpeg = readWholeFile(out);
  ASSERT_GE(jpeg.size(), 1000u);
  EXPECT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF");

  json stats = cliJSON({"stats"});
  EXPECT_EQ(stats.at("frames"), 2);
  EXPECT_EQ(stats.at("today").get<int>(), 2);
  EXPECT_GT(stats.at("bytes").get<std::int64_t>(), 1000);
  EXPECT_NEAR(stats.at("oldest").get<double>(), at, 0.01);
  const json apps = cliJSON({"apps"});
  ASSERT_EQ(apps.size(), 1u);
  EXPECT_EQ(apps[0].at("name"), "Editor");
  EXPECT_EQ(apps[0].at("count"), 2);
  EXPECT_EQ(ids(cliJSON({"search", "--app", apps[0].at("tag").get<std::string>(), "invoice"})),
            (std::vector<std::int64_t>{1}));
  EXPECT_EQ(ids(cliJSON({"stamps"})), (std::vector<std::int64_t>{1, 2}));
  const Calendar::Day day = Calendar::systemDefault().day(dateFromSeconds1970(at));
  char dayText[16];
  std::snprintf(dayText, sizeof dayText, "%04d-%02d-%02d", day.year, day.month, day.day);
  EXPECT_EQ(ids(cliJSON({"stamps", "--day", dayText})), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(ids(cliJSON({"stamps", "--day", "2001-01-01"})), (std::vector<std::int64_t>{}));

  EXPECT_EQ(cliJSON({"delete", "1", "1", "99"}), json({{"deleted", 1}}));
  EXPECT_EQ(ids(cliJSON({"search", "invo"})), (std::vector<std::int64_t>{}));
  stats = cliJSON({"stats"});
  EXPECT_EQ(stats.at("frames"), 1);
  EXPECT_NEAR(stats.at("oldest").get<double>(), at + 2, 0.01);

  EXPECT_EQ(cliJSON({"delete-everything", "--yes"}), json({{"deleted", true}}));
  EXPECT_FALSE(fs::exists(dataDir / "history.sqlite"));
  EXPECT_FALSE(fs::exists(dataDir / "frames"));
  EXPECT_FALSE(fs::exists(keyFile));
  const Result after = cli({"stats"});
  EXPECT_EQ(after.status, 1);
  EXPECT_EQ(after.err, "No history yet\n");
}

TEST_F(CliTest, DeleteRecentTodayAndCleanupFollowTheApplicationsRanges) {
  const fs::path a = screen("a.png", {"Alpha"});
  const double current = secondsSince1970(now());
  const Calendar calendar = Calendar::systemDefault();
  const double midnight = secondsSince1970(calendar.startOfDay(now()));
  // Frames 3 days ago, 2 hours ago (when that is still today, else just after midnight),
  // 2 minutes ago and 20 seconds ahead, which the one-minute margin of the ranges covers.
  const double earlierToday = std::max(current - 7200, midnight + 1);
  // Stored images are no wider than the settings' maxWidth.
  fs::create_directories(dataDir);
  std::ofstream(dataDir / "config.json") << R"({"maxWidth": 600})";
  for (double at : {current - 3 * 86400, earlierToday, current - 120, current + 20}) {
    const Result result = cli({"ingest", "--at", std::to_string(at), a.string()});
    ASSERT_EQ(result.status, 0) << result.err;
  }
  EXPECT_EQ(ids(cliJSON({"search", "--range", "today"})), (std::vector<std::int64_t>{4, 3, 2}));
  EXPECT_EQ(ids(cliJSON({"search", "--range", "week"})), (std::vector<std::int64_t>{4, 3, 2, 1}));
  EXPECT_EQ(ids(cliJSON({"search", "--range", "month", "alpha"})).size(), 4u);
  const json first = cliJSON({"show", "1"});
  EXPECT_EQ(first.at("width"), 600);
  EXPECT_EQ(first.at("height"), 80);
  EXPECT_EQ(readWholeFile(dataDir / "config.json"), R"({"maxWidth": 600})");

  EXPECT_EQ(cliJSON({"delete-recent", "5"}), json({{"deleted", 2}}));
  EXPECT_EQ(ids(cliJSON({"stamps"})), (std::vector<std::int64_t>{1, 2}));
  EXPECT_EQ(cliJSON({"cleanup", "--days", "0"}), json({{"deleted", 1}})) << "0 days counts as 1";
  EXPECT_EQ(cliJSON({"delete-recent", "today"}), json({{"deleted", 1}}));
  EXPECT_EQ(cliJSON({"stats"}).at("frames"), 0);
}

TEST_F(CliTest, ExitStatusesAndErrorTexts) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{}, 2, "Usage: vistrel-cli"},
      {{"frobnicate"}, 2, "Unknown command \"frobnicate\""},
      {{"search", "--limit", "many", "x"}, 2, "--limit must be a whole number"},
      {{"search", "--range", "year"}, 2, "--range must be today, week, month or all"},
      {{"search", "--colour", "x"}, 2, "Unknown option --colour"},
      {{"show"}, 2, "show needs one frame ID"},
      {{"show", "0"}, 2, "A frame ID is a number from 1"},
      {{"delete-recent", "soon"}, 2, "MINUTES must be a whole number"},
      {{"stamps", "--day", "2025-02-30"}, 2, "There is no day 2025-02-30"},
      {{"delete-everything"}, 2, "add --yes"},
      {{"ingest"}, 2, "ingest needs at least one image file"},
      {{"--data-dir", "elsewhere", "stats"}, 2, "--data-dir is given twice"},
      {{"stats"}, 1, "No history yet\n"},
      {{"search", "invoice"}, 1, "No history yet\n"},
  };
  for (const Case& c : cases) {
    const Result result = cli(c.arguments);
    const std::string name = ::testing::PrintToString(c.arguments);
    EXPECT_EQ(result.status, c.status) << name << "\n" << result.err;
    EXPECT_THAT(result.err, HasSubstr(c.err)) << name;
  }
  const Result missingValue = run({"stats", "--data-dir"});
  EXPECT_EQ(missingValue.status, 2);
  EXPECT_THAT(missingValue.err, HasSubstr("--data-dir needs a value"));
}

TEST_F(CliTest, ADeleteThatCannotDeleteExitsOneWithTheReason) {
  makeLibrary();
  ASSERT_EQ(cli({"ingest", "--at", "1741514400", screen("a.png", {"Alpha"}).string()}).status, 0);
  {
    // Another process holds the database's write lock for as long as the command waits.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dataDir / "history.sqlite").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"delete", "1"}, {"delete-recent", "today"}}) {
      const Result result = cli(arguments);
      EXPECT_EQ(result.status, 1) << arguments[0];
      // The lock already stops the opening of the history, which also writes.
      EXPECT_EQ(result.err, "Couldn't open the history: SQLite 5: database is locked\n")
          << arguments[0];
      EXPECT_EQ(result.out, "") << arguments[0];
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  EXPECT_EQ(cliJSON({"stats"}).at("frames"), 1);

  // Something the deletion cannot remove: a folder with content where the log file would be.
  fs::create_directories(dataDir / "history.sqlite-wal" / "kept");
  const Result everything = cli({"delete-everything", "--yes"});
  EXPECT_EQ(everything.status, 1);
  EXPECT_EQ(everything.err, "Couldn't delete: history.sqlite-wal: Directory not empty\n");
  EXPECT_FALSE(fs::exists(dataDir / "history.sqlite")) << "the rest is still deleted";
  EXPECT_FALSE(fs::exists(keyFile));
}

TEST_F(CliTest, EveryCommandHasHelp) {
  const Result overview = run({"--help"});
  EXPECT_EQ(overview.status, 0);
  for (const char* command :
       {"ingest", "search", "show", "image", "stats", "apps", "stamps", "settings", "delete",
        "delete-recent", "cleanup", "delete-everything"}) {
    EXPECT_THAT(overview.out, HasSubstr(std::string("  ") + command + " ")) << command;
    const Result help = run({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_THAT(help.out,
                ::testing::ContainsRegex(std::string("Usage: vistrel-cli ") + command + "[ \n]"))
        << command;
  }
}

// No session bus at all, so no keyring: the first history gets the default key file, and the
// command says where the key went and why.
TEST_F(CliTest, WithoutAnyKeyringTheKeyFileIsMadeAndSaid) {
  const fs::path defaultKeyFile = temp.path() / "home" / "config" / "Vistrel" / "history-key";
  const Result result =
      run({"--data-dir", dataDir.string(), "ingest", screen("x.png", {"Hello"}).string()});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(fs::exists(defaultKeyFile));
  EXPECT_THAT(result.err, HasSubstr(texts::keyFileWithoutKeyringNotice(defaultKeyFile.string())));
}

// A Secret Service that owns its name and never answers: the history is reported unreachable,
// with no advice to delete it, and no key file is made.
TEST_F(CliTest, ASilentKeyringIsUnreachableAndNoKeyFileIsMade) {
  testing::qtApplication();
  testing::PrivateBus bus(false);
  testing::SilentService secrets(bus.address(), QStringLiteral("org.freedesktop.secrets"));
  makeLibrary();
  const fs::path defaultKeyFile = temp.path() / "home" / "config" / "Vistrel" / "history-key";

  for (const char* command : {"stats", "ingest"}) {
    std::vector<std::string> arguments = {VISTREL_CLI_PATH, "--data-dir", dataDir.string(),
                                          command};
    if (std::string(command) == "ingest")
      arguments.push_back(screen("x.png", {"Hello"}).string());
    const Result result = testing::runIsolated(
        arguments, temp.path(), {{"DBUS_SESSION_BUS_ADDRESS", bus.address().toStdString()}});
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_EQ(result.err, std::string(VistrelCryptoError::unreachable(-3024).what()) + "\n")
        << command;
    EXPECT_FALSE(fs::exists(defaultKeyFile)) << command;
  }
}

TEST_F(CliTest, AWrongOrMissingKeyFileGivesTheWrongKeyText) {
  makeLibrary();
  const std::string wrongKey = VistrelCryptoError::wrongKey().what();

  const fs::path otherKey = temp.path() / "other-key";
  std::ofstream(otherKey, std::ios::binary) << std::string(32, 'x');
  Result result = run({"--data-dir", dataDir.string(), "--key-file", otherKey.string(), "stats"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, wrongKey + "\n");

  const fs::path missing = temp.path() / "missing" / "key";
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"stats"}, {"ingest", "/dev/null"}, {"delete", "1"}}) {
    std::vector<std::string> arguments = {"--data-dir", dataDir.string(), "--key-file",
                                          missing.string()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    if (command.front() == "ingest") {
      // A readable image is needed before the library is opened.
      arguments.back() = screen("x.png", {"Hello"}).string();
    }
    result = run(arguments);
    EXPECT_EQ(result.status, 1) << command.front();
    EXPECT_THAT(result.err, HasSubstr(wrongKey)) << command.front();
    EXPECT_FALSE(fs::exists(missing)) << "no key is made for an existing library";
  }

  EXPECT_EQ(cli({"stats"}).status, 0) << "the right key still opens it";
}

// True when the output holds nothing a terminal acts on: no control character other than the
// line ends, no DEL, no C1 character in UTF-8, no bidi embedding, override or isolate.
bool terminalSafeOutput(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\n') || byte == 0x7F)
      return false;
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    const auto third = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F)
      return false;
    if (byte == 0xE2 && next == 0x80 && third >= 0xAA && third <= 0xAE)
      return false;
    if (byte == 0xE2 && next == 0x81 && third >= 0xA6 && third <= 0xA9)
      return false;
  }
  return true;
}

TEST_F(CliTest, TextFromAFrameReachesTheTerminalWithoutControlCharacters) {
  const std::string title = "Inbox\x1b]0;owned\x07\x1b[2J\x1b[1;31mred\tand\nnext\x7f";
  const std::string appName =
      "Mail\x1b[8m\xc2\x9b"
      "31m";
  const std::string line =
      "Pay \xe2\x80\xae"
      "9999 txt.exe\xe2\x81\xa6 invoice \xff\xfe";
  {
    KeyFileStore store(keyFile);
    const auto library = FrameLibrary::open(dataDir, store, true, Calendar::systemDefault());
    ASSERT_TRUE(library);
    NewFrame frame;
    frame.date = now();
    frame.meta.appName = appName;
    frame.meta.bundleID = "org.example.\x1b[5mMail";
    frame.meta.title = title;
    frame.meta.lines = {TextLine{line, 0.1, 0.2, 0.5, 0.05}};
    frame.jpeg = Bytes{0xff, 0xd8, 0xff, 0xe0, 1, 2, 3, 0xff, 0xd9};
    frame.thumbnail = Bytes{0xff, 0xd8, 9, 0xff, 0xd9};
    ASSERT_EQ(library->store(frame), 1);
  }

  for (const std::vector<std::string>& command :
       std::vector<std::vector<std::string>>{{"show", "1"}, {"search", "invoice"}, {"apps"}}) {
    for (const bool asJSON : {false, true}) {
      std::vector<std::string> arguments = command;
      if (asJSON)
        arguments.insert(arguments.begin(), "--json");
      const Result result = cli(arguments);
      ASSERT_EQ(result.status, 0) << command.front() << result.err;
      EXPECT_TRUE(terminalSafeOutput(result.out)) << command.front() << ": " << result.out;
      EXPECT_THAT(result.out, HasSubstr(asJSON ? "Mail" : "Mail\xef\xbf\xbd")) << command.front();
    }
  }

  const Result show = cli({"show", "1"});
  EXPECT_THAT(show.out, HasSubstr("Title: Inbox\xef\xbf\xbd]0;owned\xef\xbf\xbd\xef\xbf\xbd[2J"));
  EXPECT_THAT(show.out, HasSubstr("red\xef\xbf\xbd"
                                  "and\xef\xbf\xbdnext\xef\xbf\xbd\n"))
      << "tab and newline in a title do not break the line";

  // The JSON form hides the same characters as escapes: every reader gets the exact text back.
  const json frame = cliJSON({"show", "1"});
  EXPECT_EQ(frame.at("title"), title);
  EXPECT_EQ(frame.at("appName"), appName);
  EXPECT_EQ(frame.at("lines").at(0).at("text"),
            "Pay \xe2\x80\xae"
            "9999 txt.exe\xe2\x81\xa6 invoice \xef\xbf\xbd\xef\xbf\xbd");
}

TEST_F(CliTest, ImageIsWrittenPrivatelyAndReplacesLinksRatherThanFollowingThem) {
  {
    KeyFileStore store(keyFile);
    const auto library = FrameLibrary::open(dataDir, store, true, Calendar::systemDefault());
    NewFrame frame;
    frame.date = now();
    frame.meta.appName = "Editor";
    frame.jpeg = Bytes{0xff, 0xd8, 0xff, 0xe0, 1, 2, 3, 0xff, 0xd9};
    frame.thumbnail = Bytes{0xff, 0xd8, 9, 0xff, 0xd9};
    ASSERT_EQ(library->store(frame), 1);
  }
  const fs::path open = temp.path() / "open.jpg";
  std::ofstream(open) << "old";
  fs::permissions(open, fs::perms::all);
  const fs::path elsewhere = temp.path() / "elsewhere.txt";
  std::ofstream(elsewhere) << "keep me";
  const fs::path link = temp.path() / "link.jpg";
  fs::create_symlink(elsewhere, link);

  for (const fs::path& out : {open, link}) {
    const Result result = cli({"image", "1", out.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::is_symlink(out));
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::file_size(out), 9u);
  }
  EXPECT_EQ(readWholeFile(elsewhere), "keep me");
  for (const auto& entry : fs::directory_iterator(temp.path()))
    EXPECT_THAT(entry.path().filename().string(), ::testing::Not(HasSubstr(".jpg.")))
        << "no temporary file is left beside the output";
}

// Two first runs at once used to make a key each, the later replacing the earlier, and left the
// history sealed under a key nobody had. Every pair must end with one key that opens the library
// and both frames in it. VISTREL_FIRST_RUN_PAIRS sets the number of pairs (the reliability
// script runs more).
TEST_F(CliTest, ConcurrentFirstRunsEndWithOneKeyThatOpensTheLibrary) {
  const fs::path image = screen("hello.png", {"Hello"});
  const char* configured = std::getenv("VISTREL_FIRST_RUN_PAIRS");
  const int pairs = configured != nullptr ? std::atoi(configured) : 30;
  ASSERT_GT(pairs, 0);
  for (int pair = 0; pair < pairs; ++pair) {
    const fs::path run = temp.path() / "first-runs" / std::to_string(pair);
    const fs::path data = run / "data";
    const fs::path key = run / "keys" / "history-key";
    const auto ingest = [&](const std::string& name) {
      const fs::path scratch = run / name;
      fs::create_directories(scratch);
      return testing::runIsolated({VISTREL_CLI_PATH, "--data-dir", data.string(), "--key-file",
                                   key.string(), "ingest", "--app", name, image.string()},
                                  scratch);
    };
    auto first = std::async(std::launch::async, ingest, "first");
    auto second = std::async(std::launch::async, ingest, "second");
    const Result a = first.get();
    const Result b = second.get();
    EXPECT_EQ(a.status, 0) << "pair " << pair << ": " << a.err;
    EXPECT_EQ(b.status, 0) << "pair " << pair << ": " << b.err;

    KeyFileStore store(key);
    std::shared_ptr<FrameLibrary> library;
    ASSERT_NO_THROW(library = FrameLibrary::open(data, store, false, Calendar::systemDefault()))
        << "pair " << pair << ": the stored key does not open the library";
    ASSERT_TRUE(library);
    EXPECT_EQ(library->stats(now()).frames, 2) << "pair " << pair;
    library.reset();
    fs::remove_all(run);
  }
}

TEST_F(CliTest, ReadingCommandsCreateNothing) {
  const fs::path out = temp.path() / "frame.jpg";
  const std::vector<std::vector<std::string>> commands = {
      {"search", "invoice"},
      {"show", "1"},
      {"image", "1", out.string()},
      {"stats"},
      {"apps"},
      {"stamps", "--day", "2025-03-09"},
      {"delete", "1"},
      {"delete-recent", "today"},
      {"cleanup"},
  };
  for (const auto& command : commands) {
    const Result result = cli(command);
    EXPECT_EQ(result.status, 1) << command.front();
    EXPECT_EQ(result.err, "No history yet\n") << command.front();
  }
  EXPECT_EQ(cli({"settings"}).status, 0);
  EXPECT_FALSE(fs::exists(dataDir)) << "a missing data folder stays missing";
  EXPECT_FALSE(fs::exists(keyFile.parent_path()));
  EXPECT_FALSE(fs::exists(out));
  EXPECT_TRUE(fs::is_empty(temp.path() / "home")) << "no default key file or data folder";

  // An existing, empty data folder stays empty too.
  fs::create_directories(dataDir);
  for (const auto& command : commands)
    EXPECT_EQ(cli(command).status, 1) << command.front();
  EXPECT_TRUE(fs::is_empty(dataDir));
}

TEST_F(CliTest, SettingsAreReadTolerantlyAndNeverWritten) {
  // No file: the defaults, and no file afterwards.
  Result result = cli({"settings"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(json::parse(result.out), json::parse(ConfigFile::encode(VistrelConfig{})));
  EXPECT_FALSE(fs::exists(dataDir));

  fs::create_directories(dataDir);
  const fs::path file = dataDir / "config.json";
  struct Case {
    std::string content;
    VistrelConfig expected;
  };
  VistrelConfig partial;
  partial.interval = 2;
  partial.maxWidth = 1280;
  const std::vector<Case> cases = {
      {"{ this is not json", VistrelConfig{}},
      {"[1, 2, 3]", VistrelConfig{}},
      {R"({"interval": 2, "maxWidth": 1280, "retentionDays": "thirty", "version": 7})", partial},
  };
  for (const Case& c : cases) {
    std::ofstream(file, std::ios::binary) << c.content;
    const auto before = modified(file);
    result = cli({"settings"});
    EXPECT_EQ(result.status, 0) << c.content;
    EXPECT_EQ(json::parse(result.out), json::parse(ConfigFile::encode(c.expected))) << c.content;
    EXPECT_EQ(readWholeFile(file), c.content) << "config.json is never rewritten";
    EXPECT_EQ(modified(file), before);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dataDir), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace vistrel
