#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "VistrelKit/settings/ConfigFile.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vistrel-config-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    file_ = folder_ / "config.json";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder_, ignored);
  }

  void write(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
  }
  void write(const std::string& text) { write(file_, text); }

  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static unsigned mode(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
  }

  fs::path folder_;
  fs::path file_;
};

// A record with every field away from its default.
VistrelConfig customRecord() {
  VistrelConfig config;
  config.captureEnabled = true;
  config.interval = 7.25;
  config.pauseShortcut = Shortcut{12, Modifiers::control | Modifiers::shift};
  config.pausedUntil = dateFromSeconds2001(756123456.789012);
  config.retentionDays = 90;
  config.capGB = 12.5;
  config.excludedApps = {{"org.example.Vault", "Vault \u00C9dition"}, {"com.example.", "Example"}};
  config.excludedTitleWords = {"salary", "cr\u00E9dit \"union\""};
  config.skipPrivateWindows = false;
  config.skipSecureInput = false;
  config.stopWhenIdle = false;
  config.idleMinutes = 0.5;
  config.maxWidth = 2560;
  config.onboardingDone = true;
  return config;
}

TEST_F(ConfigFileTest, MissingFileGivesTheDefaults) {
  const VistrelConfig config = ConfigFile::load(folder_ / "absent.json");
  EXPECT_EQ(config, VistrelConfig{});
  EXPECT_EQ(config.version, 1);
  EXPECT_FALSE(config.captureEnabled);
  EXPECT_EQ(config.interval, 5.0);
  EXPECT_EQ(config.pauseShortcut, (Shortcut{35, Modifiers{14}}));
  EXPECT_FALSE(config.pausedUntil.has_value());
  EXPECT_EQ(config.retentionDays, 30);
  EXPECT_EQ(config.capGB, 5.0);
  EXPECT_EQ(config.excludedApps, defaultExcludedApps());
  EXPECT_EQ(config.excludedTitleWords,
            (std::vector<std::string>{"banking", "bank account", "credit union", "brokerage"}));
  EXPECT_TRUE(config.skipPrivateWindows);
  EXPECT_TRUE(config.skipSecureInput);
  EXPECT_TRUE(config.stopWhenIdle);
  EXPECT_EQ(config.idleMinutes, 3.0);
  EXPECT_EQ(config.maxWidth, 1600);
  EXPECT_FALSE(config.onboardingDone);
  EXPECT_FALSE(fs::exists(folder_ / "absent.json"));
}

TEST_F(ConfigFileTest, DefaultExcludedAppsAreTheMacNineThenTheLinuxIDs) {
  const std::vector<ExcludedApp> expected{
      {"com.apple.Passwords", "Passwords"},
      {"com.apple.keychainaccess", "Keychain Access"},
      {"com.1password.1password", "1Password"},
      {"com.agilebits.onepassword7", "1Password 7"},
      {"com.bitwarden.desktop", "Bitwarden"},
      {"org.keepassxc.keepassxc", "KeePassXC"},
      {"com.lastpass.LastPass", "LastPass"},
      {"in.sinew.Enpass-Desktop", "Enpass"},
      {"com.apple.MobileSMS", "Messages"},
      {"keepassxc", "KeePassXC"},
      {"bitwarden", "Bitwarden"},
      {"1password", "1Password"},
      {"org.gnome.seahorse.application", "Passwords and Keys"},
      {"org.gnome.world.secrets", "Secrets"},
      {"org.kde.kwalletmanager5", "KWalletManager"},
      {"enpass", "Enpass"},
  };
  EXPECT_EQ(defaultExcludedApps(), expected);
}

TEST_F(ConfigFileTest, OnlyIntervalKeepsEveryOtherDefault) {
  write(R"({"interval": 2})");
  VistrelConfig expected;
  expected.interval = 2.0;
  EXPECT_EQ(ConfigFile::load(file_), expected);
}

TEST_F(ConfigFileTest, OneBadValueFallsBackForThatFieldOnly) {
  const VistrelConfig stored = customRecord();
  json object = json::parse(ConfigFile::encode(stored));
  object["retentionDays"] = "90";
  write(object.dump());

  VistrelConfig expected = stored;
  expected.retentionDays = 30;
  EXPECT_EQ(ConfigFile::load(file_), expected);
}

struct FieldCase {
  const char* json;
  const char* why;
};

TEST_F(ConfigFileTest, MistypedValuesGiveTheFieldDefault) {
  const FieldCase cases[] = {
      {R"({"captureEnabled": 1})", "numbers are not booleans"},
      {R"({"interval": "5"})", "strings are not numbers"},
      {R"({"interval": null})", "null is not a number"},
      {R"({"interval": 1e400})", "a number beyond double range"},
      {R"({"retentionDays": 2.5})", "fraction for an integer"},
      {R"({"retentionDays": 1e20})", "integer out of range"},
      {R"({"maxWidth": -99999999999})", "integer out of range"},
      {R"({"pauseShortcut": {"keyCode": -1, "modifiers": 14}})", "negative key code"},
      {R"({"pauseShortcut": {"keyCode": 4294967296, "modifiers": 14}})", "key code too big"},
      {R"({"pauseShortcut": {"keyCode": 12}})", "modifiers missing"},
      {R"({"pauseShortcut": [12, 14]})", "array for an object"},
      {R"({"pausedUntil": "tomorrow"})", "string for a date"},
      {R"({"excludedTitleWords": [3, null]})", "only list elements of the wrong type"},
      {R"({"excludedTitleWords": "bank"})", "a string for a list"},
      {R"({"excludedApps": [{"bundleID": "a.b", "name": 3}]})", "a name that is not a string"},
      {R"({"excludedApps": {"bundleID": "a.b", "name": "B"}})", "an object for a list"},
  };
  for (const auto& c : cases) {
    write(c.json);
    EXPECT_EQ(ConfigFile::load(file_), VistrelConfig{}) << c.json << " (" << c.why << ")";
  }
}

TEST_F(ConfigFileTest, ABadListElementCostsOnlyItself) {
  write(R"({"excludedApps": [{"bundleID": "org.example.Vault", "name": "Vault"},
                              {"bundleID": 7, "name": "Broken"}, "junk",
                              {"bundleID": "org.example.Bank", "name": "Bank"}],
            "excludedTitleWords": ["salary", 3, "diagnosis"]})");
  const ConfigFile::Reading reading = ConfigFile::readFile(file_);
  EXPECT_EQ(reading.config.excludedApps, (std::vector<ExcludedApp>{{"org.example.Vault", "Vault"},
                                                                   {"org.example.Bank", "Bank"}}));
  EXPECT_EQ(reading.config.excludedTitleWords, (std::vector<std::string>{"salary", "diagnosis"}));
  EXPECT_FALSE(reading.exact) << "what was dropped would be lost by a save";
}

TEST_F(ConfigFileTest, AReadingIsExactOnlyWhenNothingWasDropped) {
  const struct {
    const char* text;
    bool exact;
  } cases[] = {
      {R"({"interval": 3, "excludedApps": [], "unknown": [1]})", true},
      {"{ not json", false},
      {"[1, 2]", false},
      {R"({"interval": "3"})", false},
      {R"({"excludedTitleWords": ["a", 1]})", false},
  };
  for (const auto& c : cases) {
    write(c.text);
    EXPECT_EQ(ConfigFile::readFile(file_).exact, c.exact) << c.text;
    EXPECT_EQ(ConfigFile::read(c.text).exact, c.exact) << c.text;
  }
  fs::remove(file_);
  EXPECT_TRUE(ConfigFile::readFile(file_).exact) << "a missing file loses nothing";
  fs::create_directory(file_);
  EXPECT_FALSE(ConfigFile::readFile(file_).exact) << "something that cannot be read is kept";
}

TEST_F(ConfigFileTest, KeepAsBrokenMovesTheFileAsideReplacingAnOlderCopy) {
  write(file_.string() + ".broken", "older");
  write("{ damaged");
  ConfigFile::keepAsBroken(file_);
  EXPECT_FALSE(fs::exists(file_));
  EXPECT_EQ(read(file_.string() + ".broken"), "{ damaged");
  EXPECT_NO_THROW(ConfigFile::keepAsBroken(file_)) << "nothing to keep is not an error";
}

TEST_F(ConfigFileTest, LenientNumberFormsAreAccepted) {
  write(
      R"({"interval": 3, "maxWidth": 1200.0, "pauseShortcut": {"keyCode": 4294967295,
           "modifiers": 6, "extra": true}, "pausedUntil": 0, "unknown": {"deep": [1, 2]}})");
  const VistrelConfig config = ConfigFile::load(file_);
  EXPECT_EQ(config.interval, 3.0);
  EXPECT_EQ(config.maxWidth, 1200);
  EXPECT_EQ(config.pauseShortcut, (Shortcut{4294967295u, Modifiers{6}}));
  EXPECT_EQ(config.pausedUntil, dateFromSeconds2001(0));
}

TEST_F(ConfigFileTest, VersionIsAlwaysOne) {
  write(R"({"version": 7, "maxWidth": 800})");
  VistrelConfig config = ConfigFile::load(file_);
  EXPECT_EQ(config.version, 1);
  EXPECT_EQ(config.maxWidth, 800);

  config.version = 7;
  ConfigFile::save(config, file_);
  EXPECT_EQ(json::parse(read(file_)).at("version"), 1);
  EXPECT_EQ(ConfigFile::load(file_).version, 1);
}

TEST_F(ConfigFileTest, PresentListsReplaceTheDefaultsEvenWhenEmpty) {
  write(R"({"excludedApps": [], "excludedTitleWords": []})");
  VistrelConfig config = ConfigFile::load(file_);
  EXPECT_TRUE(config.excludedApps.empty());
  EXPECT_TRUE(config.excludedTitleWords.empty());

  ConfigFile::save(config, file_);
  config = ConfigFile::load(file_);
  EXPECT_TRUE(config.excludedApps.empty());
  EXPECT_TRUE(config.excludedTitleWords.empty());

  write(R"({"excludedApps": [{"name": "Vault"}]})");
  EXPECT_EQ(ConfigFile::load(file_).excludedApps, defaultExcludedApps());

  write(R"({"excludedApps": [{"bundleID": "org.example.Vault", "name": "Vault", "icon": [1]}]})");
  EXPECT_EQ(ConfigFile::load(file_).excludedApps,
            (std::vector<ExcludedApp>{{"org.example.Vault", "Vault"}}));
}

TEST_F(ConfigFileTest, DamagedFilesGiveTheDefaults) {
  const std::string cases[] = {
      "",
      "not json at all",
      R"({"interval": 2, "captureEnabled": tr)",
      R"({"interval": 2)",
      R"([{"interval": 2}])",
      R"("interval")",
      "null",
      "42",
      R"({"interval": 2} {"interval": 3})",
      "{\"excludedTitleWords\": [\"\xff\xfe\"], \"interval\": 2}",
  };
  for (const auto& text : cases) {
    write(text);
    EXPECT_EQ(ConfigFile::load(file_), VistrelConfig{}) << text;
  }
}

TEST_F(ConfigFileTest, TenMegabytesOfGarbageGiveTheDefaults) {
  constexpr std::size_t size = 10 * 1024 * 1024;
  std::string garbage(size, '\0');
  std::uint64_t state = 0x9E3779B97F4A7C15ULL;
  for (std::size_t i = 0; i < size; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    std::memcpy(garbage.data() + i, &state, 8);
  }
  write(garbage);
  EXPECT_EQ(ConfigFile::load(file_), VistrelConfig{});

  // The parser itself, without the file size limit in front of it.
  constexpr std::size_t parsed = 512 * 1024;
  const std::string unterminatedString = R"({"excludedTitleWords": [")" + std::string(parsed, 'x');
  const std::string deepUnclosed = R"({"interval": 9, "x": )" + std::string(parsed, '[');
  const std::string deepArrays = std::string(size, '[');
  for (const auto& text : {garbage, unterminatedString, deepUnclosed, deepArrays}) {
    EXPECT_EQ(ConfigFile::decode(text), VistrelConfig{});
  }
}

TEST_F(ConfigFileTest, DeepNestingIsSkippedWithoutLosingOtherFields) {
  constexpr std::size_t depth = 200'000;
  const std::string nested = std::string(depth, '[') + std::string(depth, ']');
  write(R"({"unknown": )" + nested + R"(, "interval": 9, "excludedTitleWords": )" + nested +
        R"(, "maxWidth": 640})");
  const VistrelConfig config = ConfigFile::load(file_);
  EXPECT_EQ(config.interval, 9.0);
  EXPECT_EQ(config.maxWidth, 640);
  EXPECT_EQ(config.excludedTitleWords, defaultExcludedTitleWords());
}

TEST_F(ConfigFileTest, OversizedFileGivesTheDefaults) {
  const auto padded = [](std::size_t size) {
    const std::string start = R"({"interval": 9)";
    return start + std::string(size - start.size() - 1, ' ') + "}";
  };
  write(padded(ConfigFile::maximumFileSize));
  EXPECT_EQ(ConfigFile::load(file_).interval, 9.0);
  write(padded(ConfigFile::maximumFileSize + 1));
  EXPECT_EQ(ConfigFile::load(file_), VistrelConfig{});
}

TEST_F(ConfigFileTest, SomethingOtherThanAFileGivesTheDefaults) {
  fs::create_directory(file_);
  EXPECT_EQ(ConfigFile::load(file_), VistrelConfig{});
  fs::remove(file_);

  ASSERT_EQ(::mkfifo(file_.c_str(), 0600), 0);
  EXPECT_EQ(ConfigFile::load(file_), VistrelConfig{});
}

TEST_F(ConfigFileTest, OnlyTheUsersOwnFileIsTheirSettings) {
  const std::string custom = ConfigFile::encode(customRecord());
  write(custom);
  fs::permissions(file_, fs::perms(0644));
  EXPECT_EQ(ConfigFile::load(file_), customRecord());
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write)
      << "made owner-only";

  const fs::path elsewhere = file_.parent_path() / "elsewhere.json";
  fs::rename(file_, elsewhere);
  fs::create_symlink(elsewhere, file_);
  const ConfigFile::Reading throughLink = ConfigFile::readFile(file_);
  EXPECT_EQ(throughLink.config, VistrelConfig{});
  EXPECT_FALSE(throughLink.exact) << "not saved over until the user changes a setting";
  fs::remove(file_);

  if (::geteuid() != 0)
    GTEST_SKIP() << "only root can give a file to another user";
  write(custom);
  fs::permissions(file_, fs::perms(0644));
  ASSERT_EQ(::chown(file_.c_str(), 54321, 54321), 0);
  const ConfigFile::Reading foreign = ConfigFile::readFile(file_);
  EXPECT_EQ(foreign.config, VistrelConfig{});
  EXPECT_FALSE(foreign.exact);
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all, fs::perms(0644)) << "untouched";
}

TEST_F(ConfigFileTest, RoundTripKeepsEveryField) {
  const VistrelConfig stored = customRecord();
  ConfigFile::save(stored, file_);
  EXPECT_EQ(ConfigFile::load(file_), stored);

  VistrelConfig untilResumed = stored;
  untilResumed.pausedUntil = distantFuture;
  ConfigFile::save(untilResumed, file_);
  EXPECT_EQ(ConfigFile::load(file_), untilResumed);
  EXPECT_EQ(json::parse(read(file_)).at("pausedUntil").get<double>(), 63113904000.0);

  ConfigFile::save(VistrelConfig{}, file_);
  EXPECT_EQ(ConfigFile::load(file_), VistrelConfig{});
}

TEST_F(ConfigFileTest, WrittenFormIsSortedPrettyAndUses2001Seconds) {
  VistrelConfig config;
  config.pausedUntil = dateFromSeconds2001(700000000.25);
  ConfigFile::save(config, file_);
  const std::string text = read(file_);
  const json object = json::parse(text);

  EXPECT_EQ(object.size(), 15u);
  EXPECT_EQ(object.at("pausedUntil").get<double>(), 700000000.25);
  EXPECT_EQ(object.at("pauseShortcut"), (json{{"keyCode", 35}, {"modifiers", 14}}));
  EXPECT_EQ(object.at("excludedApps").at(0),
            (json{{"bundleID", "com.apple.Passwords"}, {"name", "Passwords"}}));
  EXPECT_TRUE(object.at("interval").is_number_float());

  // Pretty-printed: one top-level key per line, in sorted order.
  std::vector<std::string> keysInFileOrder;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  \"", 0) == 0)
      keysInFileOrder.push_back(line.substr(3, line.find('"', 3) - 3));
  }
  std::vector<std::string> sorted = keysInFileOrder;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(keysInFileOrder.size(), 15u);
  EXPECT_EQ(keysInFileOrder, sorted);
  EXPECT_LT(text.find("\"bundleID\""), text.find("\"name\""));

  config.pausedUntil.reset();
  ConfigFile::save(config, file_);
  EXPECT_FALSE(json::parse(read(file_)).contains("pausedUntil"));
  EXPECT_EQ(mode(file_), 0600u);
}

TEST_F(ConfigFileTest, SaveCreatesMissingFoldersOwnerOnly) {
  const mode_t previous = ::umask(0);
  const fs::path nested = folder_ / "one" / "two" / "config.json";
  const VistrelConfig config = customRecord();
  EXPECT_NO_THROW(ConfigFile::save(config, nested));
  ::umask(previous);

  EXPECT_EQ(mode(folder_ / "one"), 0700u);
  EXPECT_EQ(mode(folder_ / "one" / "two"), 0700u);
  EXPECT_EQ(mode(folder_), 0700u);  // mkdtemp's folder, untouched
  EXPECT_EQ(ConfigFile::load(nested), config);
}

TEST_F(ConfigFileTest, ExistingFolderKeepsItsPermissions) {
  const fs::path shared = folder_ / "shared";
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 0755), 0);
  ConfigFile::save(VistrelConfig{}, shared / "config.json");
  EXPECT_EQ(mode(shared), 0755u);
}

TEST_F(ConfigFileTest, FailedWriteRaisesAndKeepsTheOldFile) {
  const VistrelConfig old = customRecord();
  ConfigFile::save(old, file_);
  const std::string oldText = read(file_);

  // A folder where the temporary file must go makes the write fail even for
  // root.
  fs::create_directory(folder_ / "config.json.tmp");
  try {
    ConfigFile::save(VistrelConfig{}, file_);
    FAIL() << "save succeeded";
  } catch (const ConfigFileError& error) {
    EXPECT_EQ(error.code(), std::error_code(EISDIR, std::generic_category()));
    EXPECT_NE(std::string(error.what()).find("config.json.tmp"), std::string::npos);
  }
  EXPECT_EQ(read(file_), oldText);
  EXPECT_EQ(ConfigFile::load(file_), old);
}

TEST_F(ConfigFileTest, FolderThatIsAFileRaises) {
  write(folder_ / "blocker", "x");
  try {
    ConfigFile::save(VistrelConfig{}, folder_ / "blocker" / "inner" / "config.json");
    FAIL() << "save succeeded";
  } catch (const ConfigFileError& error) {
    EXPECT_EQ(error.code(), std::error_code(ENOTDIR, std::generic_category()));
  }
  EXPECT_EQ(read(folder_ / "blocker"), "x");
}

TEST_F(ConfigFileTest, StaleTemporaryFileIsReplaced) {
  write(folder_ / "config.json.tmp", "half a file from a crash");
  ConfigFile::save(customRecord(), file_);
  EXPECT_EQ(ConfigFile::load(file_), customRecord());
  EXPECT_FALSE(fs::exists(folder_ / "config.json.tmp"));
}

TEST_F(ConfigFileTest, UnencodableValuesRaiseAndKeepTheOldFile) {
  ConfigFile::save(customRecord(), file_);
  const std::string oldText = read(file_);

  VistrelConfig notANumber;
  notANumber.interval = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(ConfigFile::save(notANumber, file_), ConfigFileError);

  VistrelConfig badText;
  badText.excludedTitleWords = {"\xff"};
  EXPECT_THROW(ConfigFile::save(badText, file_), ConfigFileError);

  EXPECT_EQ(read(file_), oldText);
}

TEST(VistrelConfigTest, CaptureIntervalIsClamped) {
  const std::pair<double, double> cases[] = {{0.5, 2.0},   {2.0, 2.0},   {5.0, 5.0},
                                             {60.0, 60.0}, {61.0, 60.0}, {-3.0, 2.0}};
  for (const auto& [interval, expected] : cases) {
    VistrelConfig config;
    config.interval = interval;
    EXPECT_EQ(config.captureInterval(), expected) << interval;
  }
}

TEST(VistrelConfigTest, CapBytesHasAFloorAndNeverOverflows) {
  const std::pair<double, std::int64_t> cases[] = {
      {5.0, 5368709120},
      {1.5, 1610612736},
      {0.0, 268435456},
      {-2.0, 268435456},
      {0.3, 322122547},  // 322122547.2 truncated
      {1e300, std::numeric_limits<std::int64_t>::max()},
      {std::numeric_limits<double>::quiet_NaN(), 268435456},
  };
  for (const auto& [gigabytes, expected] : cases) {
    VistrelConfig config;
    config.capGB = gigabytes;
    EXPECT_EQ(config.capBytes(), expected) << gigabytes;
  }
}

TEST(VistrelConfigTest, RetentionHasAtLeastOneDay) {
  VistrelConfig config;
  config.retentionDays = 0;
  config.capGB = 2.0;
  EXPECT_EQ(config.retention(), (RetentionPolicy{1, 2147483648}));
  config.retentionDays = 14;
  EXPECT_EQ(config.retention().days, 14);
}

TEST(VistrelConfigTest, IsPausedOnlyBeforeTheEnd) {
  VistrelConfig config;
  const Date moment = dateFromSeconds1970(1.7e9);
  EXPECT_FALSE(config.isPaused(moment));
  config.pausedUntil = moment + Seconds(60);
  EXPECT_TRUE(config.isPaused(moment));
  EXPECT_FALSE(config.isPaused(moment + Seconds(60)));
  config.pausedUntil = distantFuture;
  EXPECT_TRUE(config.isPaused(moment));
}

TEST(VistrelConfigTest, ExclusionRulesFollowTheSettings) {
  VistrelConfig config;
  config.excludedApps = {{"Org.Example.Vault", "Vault"}};
  config.excludedTitleWords = {" salary\t"};
  config.skipPrivateWindows = false;
  config.skipSecureInput = true;
  const ExclusionRules rules = config.exclusionRules("com.tevrin77.Vistrel");
  EXPECT_EQ(rules, ExclusionRules({{"Org.Example.Vault", "Vault"}}, {"salary"}, false, true,
                                  "com.tevrin77.Vistrel"));
  EXPECT_EQ(rules.apps().at("org.example.vault"), "Vault");
  EXPECT_FALSE(rules.skipPrivate());
  EXPECT_TRUE(rules.skipSecureInput());
}

}  // namespace
}  // namespace vistrel
