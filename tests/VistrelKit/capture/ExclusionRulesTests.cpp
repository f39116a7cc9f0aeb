#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <unordered_set>

#include "VistrelKit/capture/ExclusionRules.h"

namespace vistrel {
namespace {

const std::string ownID = "com.tevrin77.Vistrel";

WindowInfo window(std::optional<std::string> bundleID, std::string appName,
                  std::optional<std::string> title = std::nullopt) {
  return WindowInfo{std::move(bundleID), std::move(appName), std::move(title)};
}

ExclusionRules rules(std::vector<ExcludedApp> apps = defaultExcludedApps(),
                     std::vector<std::string> words = defaultExcludedTitleWords(),
                     bool skipPrivate = true, bool skipSecureInput = true) {
  return ExclusionRules(apps, words, skipPrivate, skipSecureInput, ownID);
}

const WindowInfo editor = window("org.gnome.TextEditor", "Text Editor", "notes.txt");
const WindowInfo ownWindow = window(ownID, "Vistrel", "Search");
const WindowInfo vault = window("org.keepassxc.keepassxc", "KeePassXC", "Passwords.kdbx");

TEST(ExclusionRulesTest, SecureInputComesFirst) {
  const auto r = rules();
  EXPECT_EQ(r.evaluate(std::nullopt, true), SkipReason::secureInput());
  EXPECT_EQ(r.evaluate(ownWindow, true), SkipReason::secureInput());
  EXPECT_EQ(r.evaluate(vault, true), SkipReason::secureInput());
  EXPECT_EQ(r.evaluate(editor, true), SkipReason::secureInput());

  const auto ignoring = rules(defaultExcludedApps(), defaultExcludedTitleWords(), true, false);
  EXPECT_EQ(ignoring.evaluate(editor, true), std::nullopt);
  EXPECT_EQ(ignoring.evaluate(std::nullopt, true), std::nullopt);
  EXPECT_EQ(ignoring.evaluate(vault, true), SkipReason::excludedApp("KeePassXC"));
}

TEST(ExclusionRulesTest, NoWindowMayBeRecorded) {
  EXPECT_EQ(rules().evaluate(std::nullopt, false), std::nullopt);
  EXPECT_EQ(rules().evaluate(editor, false), std::nullopt);
}

TEST(ExclusionRulesTest, OwnApplicationIsMatchedExactly) {
  auto withOwnListed = rules({{ownID, "Vistrel listed"}});
  EXPECT_EQ(withOwnListed.evaluate(ownWindow, false), SkipReason::ownApp());
  EXPECT_TRUE(rules({}, {}, false, false).isExcluded(ownWindow));

  // Case matters for the own identifier; the exclusion list is
  // case-insensitive.
  const auto otherCase = window("com.tevrin77.vistrel", "Vistrel");
  EXPECT_EQ(rules({}, {}).evaluate(otherCase, false), std::nullopt);
  EXPECT_EQ(withOwnListed.evaluate(otherCase, false), SkipReason::excludedApp("Vistrel listed"));

  const ExclusionRules withoutOwn({}, {}, true, true);
  EXPECT_FALSE(withoutOwn.isExcluded(ownWindow));
}

TEST(ExclusionRulesTest, BundleIDsMatchCaseInsensitively) {
  const auto r = rules({{"COM.Example.App", "Example"}});
  EXPECT_EQ(r.apps().count("com.example.app"), 1u);
  EXPECT_EQ(r.evaluate(window("com.example.app", "x"), false), SkipReason::excludedApp("Example"));
  EXPECT_EQ(r.evaluate(window("Com.Example.APP", "x"), false), SkipReason::excludedApp("Example"));
  EXPECT_EQ(r.evaluate(window("com.example.app2", "x"), false), std::nullopt);
  EXPECT_EQ(r.evaluate(window(std::nullopt, "x"), false), std::nullopt);
}

TEST(ExclusionRulesTest, BuildingTheAppMap) {
  const auto r = rules({{"", "Nameless"}, {"a.b", "First"}, {"A.B", "Second"}, {"c.d", "C"}});
  EXPECT_EQ(r.apps(), (std::map<std::string, std::string>{{"a.b", "Second"}, {"c.d", "C"}}));
  EXPECT_EQ(r.evaluate(window("", "Nameless"), false), std::nullopt);
  EXPECT_FALSE(rules({{"", "Nameless"}}, {}).isExcluded(window("", "Nameless")));
}

TEST(ExclusionRulesTest, KeysEndingInADotArePrefixes) {
  const auto r = rules({{"com.example.", "Example tools"}, {"org.exact", "Exact"}});
  EXPECT_EQ(r.evaluate(window("com.example.tool", "Tool"), false),
            SkipReason::excludedApp("Example tools"));
  EXPECT_EQ(r.evaluate(window("COM.EXAMPLE.Tool", "Tool"), false),
            SkipReason::excludedApp("Example tools"));
  EXPECT_EQ(r.evaluate(window("com.examples.tool", "Tool"), false), std::nullopt);
  EXPECT_EQ(r.evaluate(window("com.example", "Tool"), false), std::nullopt);
  EXPECT_EQ(r.evaluate(window("org.exact.child", "Child"), false), std::nullopt);
  EXPECT_EQ(r.evaluate(window("org.exact", "Exact"), false), SkipReason::excludedApp("Exact"));
}

TEST(ExclusionRulesTest, ExcludedAppBeatsPrivateWindowAndTitleWord) {
  const auto browser = window("org.mozilla.firefox", "Firefox", "Banking \u2014 Private Browsing");
  EXPECT_EQ(rules({{"org.mozilla.firefox", "Firefox"}}).evaluate(browser, false),
            SkipReason::excludedApp("Firefox"));
  EXPECT_EQ(rules({}).evaluate(browser, false), SkipReason::privateWindow("Firefox"));
  EXPECT_EQ(rules({}, defaultExcludedTitleWords(), false).evaluate(browser, false),
            SkipReason::titleWord("banking"));
}

TEST(ExclusionRulesTest, PrivateWindowMarks) {
  const std::pair<const char*, bool> titles[] = {
      {"Inbox (private)", true},
      {"Privately held", false},
      {"Mozilla Firefox Private Browsing", true},
      {"New Tab - Google Chrome (Incognito)", true},
      {"Bing - InPrivate - Microsoft Edge", true},
      {"Start Page \u2014 Private Window", true},
      {"News \u2014 PRIVATE", true},
      {"News - Private", true},
      {"News -Private", false},
      {"News \u2013 Private", false},
      {"Private notes", false},
      {"", false},
  };
  const auto r = rules({}, {});
  for (const auto& [title, isPrivate] : titles) {
    const auto w = window("org.mozilla.firefox", "Firefox", title);
    EXPECT_EQ(hasPrivateWindowMark(title), isPrivate) << title;
    EXPECT_EQ(r.evaluate(w, false),
              isPrivate ? std::optional(SkipReason::privateWindow("Firefox")) : std::nullopt)
        << title;
    EXPECT_EQ(r.isExcluded(w), isPrivate) << title;
  }
  EXPECT_FALSE(hasPrivateWindowMark(std::nullopt));
}

TEST(ExclusionRulesTest, PrivateWindowsAreRecordedWhenNotSkipped) {
  const auto r = rules({}, {}, false);
  const auto w = window("org.mozilla.firefox", "Firefox", "Inbox (private)");
  EXPECT_EQ(r.evaluate(w, false), std::nullopt);
  EXPECT_FALSE(r.isExcluded(w));
}

TEST(ExclusionRulesTest, TitleWordsMatchWholeWordsAndPhrases) {
  struct Case {
    const char* word;
    const char* title;
    bool matches;
  };
  const Case cases[] = {
      {"credit union", "Credit  Union: Login", true},
      {"credit union", "cr\u00E9dit union", true},
      {"credit union", "My CREDIT-UNION", true},
      {"credit union", "creditunion", false},
      {"credit union", "credit unions", false},
      {"bank account", "Bank-Account \u2014 Overview", true},
      {"bank", "Banking", false},
      {"bank", "Piggy bank", true},
      {"Bank", "bank", true},
      {"r\u00E9sum\u00E9", "Resume.pdf", true},
      {"4471", "Invoice #4471", true},
      {"!!!", "Sale!!! now", false},
      {"!!!", "!!!", false},
      {"\u2014", "a \u2014 b", false},
      {"x", "Vote x now", true},
  };
  for (const auto& c : cases) {
    const auto r = rules({}, {c.word}, false);
    const auto w = window("org.mozilla.firefox", "Firefox", c.title);
    EXPECT_EQ(r.evaluate(w, false),
              c.matches ? std::optional(SkipReason::titleWord(c.word)) : std::nullopt)
        << c.word << " / " << c.title;
    EXPECT_EQ(r.isExcluded(w), c.matches) << c.word << " / " << c.title;
  }
}

TEST(ExclusionRulesTest, TitleWordsAreTrimmedAndKeepTheirOrderAndCase) {
  const auto r = rules({}, {"  ", "\t Credit Union \t", "", "banking", "\nsalary"});
  EXPECT_EQ(r.titleWords(), (std::vector<std::string>{"Credit Union", "banking", "\nsalary"}));
  const auto w = window("b", "Browser", "Banking at the credit union");
  EXPECT_EQ(r.evaluate(w, false), SkipReason::titleWord("Credit Union"));
  EXPECT_EQ(r.evaluate(window("b", "Browser", "Salary review"), false),
            SkipReason::titleWord("\nsalary"));
  EXPECT_EQ(r.evaluate(window("b", "Browser", std::nullopt), false), std::nullopt);
  EXPECT_EQ(r.evaluate(window("b", "Browser", ""), false), std::nullopt);
}

TEST(ExclusionRulesTest, IsExcludedIgnoresSecureInput) {
  const auto r = rules();
  EXPECT_TRUE(r.isExcluded(ownWindow));
  EXPECT_TRUE(r.isExcluded(vault));
  EXPECT_TRUE(r.isExcluded(window("x", "Browser", "My Brokerage account")));
  EXPECT_FALSE(r.isExcluded(editor));
}

TEST(ExclusionRulesTest, EqualityIsByValue) {
  EXPECT_EQ(rules(), rules());
  EXPECT_EQ(rules({{"A.B", "X"}}, {" bank "}), rules({{"a.b", "X"}}, {"bank"}));
  EXPECT_NE(rules(), rules(defaultExcludedApps(), defaultExcludedTitleWords(), false));
  EXPECT_NE(rules(),
            ExclusionRules(defaultExcludedApps(), defaultExcludedTitleWords(), true, true));
}

TEST(ExclusionRulesTest, DefaultTitleWords) {
  EXPECT_EQ(defaultExcludedTitleWords(),
            (std::vector<std::string>{"banking", "bank account", "credit union", "brokerage"}));
}

TEST(ExcludedAppTest, EqualityAndHashingByValue) {
  const ExcludedApp a{"org.example.Vault", "Vault"};
  std::unordered_set<ExcludedApp> set{a, a, {"org.example.Vault", "Other"}};
  EXPECT_EQ(set.size(), 2u);
  EXPECT_TRUE(set.contains(ExcludedApp{"org.example.Vault", "Vault"}));
}

TEST(SkipReasonTest, Messages) {
  const std::pair<SkipReason, std::string> cases[] = {
      {SkipReason::paused(), "Paused until you resume"},
      {SkipReason::paused(distantFuture), "Paused until you resume"},
      {SkipReason::paused(distantFuture + Seconds(1)), "Paused until you resume"},
      {SkipReason::excludedApp("KeePassXC"), "Skipped: KeePassXC is excluded"},
      {SkipReason::privateWindow("Firefox"), "Skipped: a private Firefox window"},
      {SkipReason::titleWord("bank account"),
       "Skipped: the window title has \u201Cbank account\u201D"},
      {SkipReason::off(), "Capture is off"},
      {SkipReason::noPermission(), "Waiting for screen access"},
      {SkipReason::locked(), "Skipped: the screen is locked or asleep"},
      {SkipReason::idle(), "Skipped: nobody is using the computer"},
      {SkipReason::secureInput(), "Skipped: a password field is active"},
      {SkipReason::ownApp(), "Skipped: Vistrel is in front"},
  };
  for (const auto& [reason, text] : cases)
    EXPECT_EQ(reason.message(), text);
}

TEST(SkipReasonTest, DistantFutureIsTheFirstInstantOf4001) {
  EXPECT_EQ(secondsSince2001(distantFuture), 63113904000.0);
  // 4001-01-01 00:00:00 UTC counted from 1970.
  EXPECT_EQ(secondsSince1970(distantFuture), 64092211200.0);
}

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ"))
      previous_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (previous_) {
      ::setenv("TZ", previous_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::optional<std::string> previous_;
};

TEST(SkipReasonTest, TimedPauseShowsOnlyTheTimeOfDay) {
  // 2024-03-05 14:30:59 UTC.
  const Date end = dateFromSeconds1970(1709649059.5);
  {
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(SkipReason::paused(end).message(), "Paused until 14:30");
  }
  {
    ScopedTimeZone india("IST-5:30");
    EXPECT_EQ(SkipReason::paused(end).message(), "Paused until 20:00");
  }
  std::optional<Date> seen;
  const auto formatter = [&](Date date) {
    seen = date;
    return std::string("2:30\u202FPM");
  };
  EXPECT_EQ(SkipReason::paused(end).message(formatter), "Paused until 2:30\u202FPM");
  EXPECT_EQ(seen, end);
  EXPECT_EQ(SkipReason::paused().message(formatter), "Paused until you resume");
}

TEST(SkipReasonTest, FarOutDatesDoNotBreakTheDefaultFormatter) {
  EXPECT_EQ(SkipReason::paused(dateFromSeconds1970(-1e300)).message(), "Paused until --:--");
  EXPECT_EQ(formatShortTime(dateFromSeconds1970(1e200)), "--:--");
}

TEST(SkipReasonTest, EqualityComparesKindAndPayload) {
  const Date end = dateFromSeconds1970(1.7e9);
  EXPECT_EQ(SkipReason::paused(end),
            SkipReason::paused(dateFromSeconds2001(1.7e9 - referenceDate2001)));
  EXPECT_NE(SkipReason::paused(end), SkipReason::paused(end + Seconds(1)));
  EXPECT_NE(SkipReason::paused(end), SkipReason::paused());
  EXPECT_NE(SkipReason::excludedApp("A"), SkipReason::privateWindow("A"));
  EXPECT_NE(SkipReason::excludedApp("A"), SkipReason::excludedApp("B"));
  EXPECT_EQ(SkipReason::idle(), SkipReason::idle());
  EXPECT_NE(SkipReason::idle(), SkipReason::locked());
  EXPECT_EQ(SkipReason::titleWord("bank").kind(), SkipReason::Kind::titleWord);
  EXPECT_EQ(SkipReason::titleWord("bank").detail(), "bank");
  EXPECT_EQ(SkipReason::paused(end).until(), end);
}

}  // namespace
}  // namespace vistrel
