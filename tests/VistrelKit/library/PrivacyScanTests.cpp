#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "VistrelKit/base/PrivateFiles.h"
#include "VistrelKit/capture/Recorder.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/search/TextIndex.h"
#include "tests/VistrelKit/library/DiskScan.h"
#include "tests/VistrelKit/library/FrameLibraryFixture.h"
#include "tests/support/ScreenFixtures.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using testing::FrameLibraryTest;
using testing::Hit;
using testing::Needle;

Bytes randomBytes(std::mt19937& random, std::size_t size) {
  Bytes bytes(size);
  for (std::uint8_t& byte : bytes) {
    byte = static_cast<std::uint8_t>(random());
  }
  return bytes;
}

std::string describe(const std::vector<Hit>& hits) {
  std::string text;
  for (const Hit& hit : hits) {
    text += hit.label + " in " + hit.file.filename().string() + " at " +
            std::to_string(hit.offset) + "\n";
  }
  return text;
}

std::string asString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The fixture's frame builders, for tests that make libraries of their own.
struct Frames : FrameLibraryTest {
  using FrameLibraryTest::at;
  using FrameLibraryTest::frame;
};

// Once a frame is deleted, nothing sealed for it may stay in the folder: not in freed database
// pages, not in old log frames, not in a file. The frames are stored either still in the log or
// already copied into the database file when they are deleted.
TEST(DeletedFrameScan, LeavesNoSealedBytes) {
  for (const bool checkpointed : {false, true}) {
    SCOPED_TRACE(checkpointed ? "checkpointed before deleting" : "still in the log");
    testing::TemporaryFolder temporary;
    const FrameKeys keys = FrameKeys::derive(generateKey());
    FrameLibrary library(temporary.path(), keys, Calendar::utc());
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) {
      NewFrame stored = Frames::frame(Frames::at(i * 600.0), "frame text");
      for (int line = 0; line < 40; ++line) {
        stored.meta.lines.push_back(
            TextLine{"some text of line " + std::to_string(line), 0, 0, 1, 0.01});
      }
      stored.thumbnail = randomBytes(random, 3000 + 400 * static_cast<std::size_t>(i));
      stored.jpeg = randomBytes(random, 20000);
      library.store(stored);
    }
    if (checkpointed) {
      library.checkpoint();
    }

    std::vector<Needle> sealed;
    std::vector<std::int64_t> deleted;
    {
      const auto db = SQLiteDB::open(temporary.path() / "history.sqlite");
      Statement rows = db->prepare("SELECT id, meta, thumb, file FROM frames WHERE id % 2 = 0");
      while (rows.step()) {
        const std::string id = std::to_string(rows.columnInt(0));
        deleted.push_back(rows.columnInt(0));
        const std::vector<std::pair<std::string, Bytes>> blobs{
            {"meta of " + id, rows.columnBlob(1)},
            {"thumbnail of " + id, rows.columnBlob(2)},
            {"image of " + id, readFile(temporary.path() / rows.columnText(3))}};
        for (const auto& [label, blob] : blobs) {
          for (Needle& needle : testing::binaryNeedles(label, asString(blob))) {
            sealed.push_back(std::move(needle));
          }
        }
      }
    }
    ASSERT_EQ(deleted.size(), 20u);
    // The scan finds the blobs while they are there.
    EXPECT_EQ(testing::scanFiles(testing::filesUnder(temporary.path()), sealed, false).size(), 60u);

    EXPECT_EQ(library.remove(deleted), 20);
    const std::vector<Hit> hits =
        testing::scanFiles(testing::filesUnder(temporary.path()), sealed, false);
    EXPECT_TRUE(hits.empty()) << describe(hits);
    EXPECT_EQ(library.allStamps().size(), 20u);
  }
}

// Words of the frame's own: random letters, so that a deleted frame's index terms are its alone.
std::string randomWords(std::mt19937& random, int count) {
  std::string text;
  for (int word = 0; word < count; ++word) {
    text += word == 0 ? "" : " ";
    for (int letter = 0; letter < 9; ++letter) {
      text += static_cast<char>('a' + random() % 26);
    }
  }
  return text;
}

// The keyed index tokens of the terms that only the gone frames have. Index pages store a term
// after the prefix it shares with the one before it, so the needle is the token's tail.
std::vector<Needle> tokenNeedles(const FrameKeys& keys, const std::vector<NewFrame>& gone,
                                 const std::vector<NewFrame>& kept) {
  std::set<std::string> keptTerms;
  for (const NewFrame& frame : kept) {
    for (const std::string& term : TextIndex::indexTerms(frame.meta.indexText())) {
      keptTerms.insert(term);
    }
  }
  std::vector<Needle> needles;
  for (const NewFrame& frame : gone) {
    for (const std::string& term : TextIndex::indexTerms(frame.meta.indexText())) {
      if (!keptTerms.contains(term)) {
        needles.push_back({"token of \"" + term + "\"", keys.token(term).substr(5)});
      }
    }
  }
  return needles;
}

std::set<std::string> labelsOf(const std::vector<Hit>& hits) {
  std::set<std::string> labels;
  for (const Hit& hit : hits) {
    labels.insert(hit.label);
  }
  return labels;
}

// A deleted frame's keyed terms must leave the text index too, not only its row: with the key,
// a term left behind would tell which words a deleted frame held. A deletion by the user starts
// their purge at once, a retention cleanup at most once a day, a later cleanup finishing what an
// earlier one left pending even when it deletes nothing itself.
TEST(DeletedFrameScan, LeavesNoIndexTermsOfDeletedFrames) {
  testing::TemporaryFolder temporary;
  const FrameKeys keys = FrameKeys::derive(generateKey());
  FrameLibrary library(temporary.path(), keys, Calendar::utc());
  std::mt19937 random(11);
  std::vector<NewFrame> frames;
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 40; ++i) {
    frames.push_back(Frames::frame(Frames::at(i * 600.0), randomWords(random, 30)));
    ids.push_back(library.store(frames.back()));
  }
  const auto termsLeft = [&](const std::vector<Needle>& needles) {
    return labelsOf(testing::scanFiles(testing::filesUnder(temporary.path()), needles, false));
  };
  const auto framesOf = [&](auto&& wanted) {
    std::vector<NewFrame> chosen;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (wanted(i)) {
        chosen.push_back(frames[i]);
      }
    }
    return chosen;
  };

  // Deleted by the user: the even frames.
  const std::vector<Needle> removed =
      tokenNeedles(keys, framesOf([](std::size_t i) { return i % 2 == 0; }),
                   framesOf([](std::size_t i) { return i % 2 == 1; }));
  ASSERT_GT(removed.size(), 400u);
  // The scan sees the terms while they are there.
  EXPECT_GT(termsLeft(removed).size(), removed.size() * 9 / 10);
  std::vector<std::int64_t> even;
  for (std::size_t i = 0; i < ids.size(); i += 2) {
    even.push_back(ids[i]);
  }
  EXPECT_EQ(library.remove(even), 20);
  EXPECT_TRUE(library.waitForPurge());
  EXPECT_TRUE(termsLeft(removed).empty()) << termsLeft(removed).size() << " terms left";

  // Retention: a day after, the odd frames before 10,000 s go (1, 3, ..., 15); an hour later
  // those before 13,600 s (17, 19, 21), inside the day since the last purge; a day later no
  // frame is old enough, but what was left pending goes.
  constexpr std::int64_t noCap = std::int64_t{1} << 40;
  const RetentionPolicy oneDay{1, noCap};
  const Date first = Frames::at(86400 + 10000);
  const std::vector<Needle> agedOut =
      tokenNeedles(keys, framesOf([](std::size_t i) { return i % 2 == 1 && i <= 15; }),
                   framesOf([](std::size_t i) { return i % 2 == 1 && i > 15; }));
  EXPECT_EQ(library.cleanup(oneDay, first), 8);
  EXPECT_TRUE(library.waitForPurge());
  EXPECT_TRUE(termsLeft(agedOut).empty()) << termsLeft(agedOut).size() << " terms left";
  const std::vector<Needle> agedLater =
      tokenNeedles(keys, framesOf([](std::size_t i) { return i == 17 || i == 19 || i == 21; }),
                   framesOf([](std::size_t i) { return i % 2 == 1 && i > 21; }));
  EXPECT_EQ(library.cleanup(oneDay, first + Seconds(3600)), 3);
  library.waitForPurge();
  EXPECT_TRUE(library.purgePending());
  EXPECT_FALSE(termsLeft(agedLater).empty());
  EXPECT_EQ(library.cleanup(RetentionPolicy{2, noCap}, first + Seconds(25 * 3600)), 0);
  EXPECT_TRUE(library.waitForPurge());
  EXPECT_TRUE(termsLeft(agedLater).empty()) << termsLeft(agedLater).size() << " terms left";

  // The frames that stay are still found by their words.
  const std::string kept = frames[39].meta.lines.front().text.substr(0, 9);
  const std::vector<FrameSummary> found =
      library.search(SearchQuery::parse(kept), std::nullopt, std::nullopt, std::nullopt, 10);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front().id, ids[39]);
}

// A purge cut short by a crash is finished when the library is next opened: the mark that a
// purge is due is written with the deletion, and cleared only once the index is one segment.
TEST(DeletedFrameScan, PurgeKilledHalfwayIsFinishedByTheNextOpen) {
  testing::TemporaryFolder temporary;
  const FrameKeys keys = FrameKeys::derive(generateKey());
  std::mt19937 random(5);
  std::vector<NewFrame> frames;
  std::vector<std::int64_t> gone;
  {
    FrameLibrary library(temporary.path(), keys, Calendar::utc());
    for (int i = 0; i < 40; ++i) {
      frames.push_back(Frames::frame(Frames::at(i * 600.0), randomWords(random, 30)));
      const std::int64_t id = library.store(frames.back());
      if (i % 2 == 0) {
        gone.push_back(id);
      }
    }
  }
  std::vector<NewFrame> removedFrames, keptFrames;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    (i % 2 == 0 ? removedFrames : keptFrames).push_back(frames[i]);
  }
  const std::vector<Needle> removed = tokenNeedles(keys, removedFrames, keptFrames);
  const auto termsLeft = [&] {
    return labelsOf(testing::scanFiles(testing::filesUnder(temporary.path()), removed, false));
  };

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Small slices make the purge take several, so the kill lands in the middle.
    FrameLibrary library(temporary.path(), keys, Calendar::utc());
    library.setPurgeSlicePages(16);
    library.remove(gone);
    const char done = 1;
    [[maybe_unused]] const ssize_t written = ::write(ready[1], &done, 1);
    ::pause();
    ::_exit(0);
  }
  char done = 0;
  ASSERT_EQ(::read(ready[0], &done, 1), 1);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_FALSE(termsLeft().empty()) << "the purge was not cut short";

  FrameLibrary reopened(temporary.path(), keys, Calendar::utc());
  EXPECT_TRUE(reopened.waitForPurge());
  EXPECT_FALSE(reopened.purgePending());
  EXPECT_TRUE(termsLeft().empty()) << termsLeft().size() << " terms left";
  EXPECT_EQ(reopened.stats(Frames::at(0)).frames, 20);
}

// Runs of letters and digits; bytes of non-ASCII characters count as letters.
std::vector<std::string> wordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::string current;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || std::isalnum(u)) {
      current.push_back(c);
    } else if (!current.empty()) {
      words.push_back(std::move(current));
      current.clear();
    }
  }
  if (!current.empty()) {
    words.push_back(std::move(current));
  }
  return words;
}

// Hex digits only: such a word could be part of an index token by chance.
bool onlyHex(const std::string& word) {
  return std::all_of(word.begin(), word.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

std::string asciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return text;
}

struct Window {
  fixtures::Screen screen;
  std::string appName;
  std::optional<std::string> bundleID;
  std::string title;
};

mode_t modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// A recording session as the user would have it: real screens with known text, through the
// recorder with real JPEG encoding and real text recognition, with a deletion in between. Then
// every file of the data folder is searched for every word shown, every title, application name
// and bundle identifier, and for the keys; and every entry's permissions are checked.
TEST(PrivacyScan, RealisticRunLeavesNoPlainTextNoKeyAndOwnerOnlyFiles) {
  using namespace fixtures;
  testing::TemporaryFolder home;
  const fs::path data = home.path() / "data" / "Vistrel";
  const fs::path keyFile = home.path() / "config" / "Vistrel" / "history-key";
  KeyFileStore keyStore(keyFile);
  const std::shared_ptr<FrameLibrary> library =
      FrameLibrary::open(data, keyStore, true, Calendar::utc());
  ASSERT_NE(library, nullptr);
  Recorder recorder(library, 800);

  std::vector<Window> windows = {
      {documentScreen(light, 13, 11, 800, 500), "Quillmarsh Writer", "org.quillmarsh.writer",
       "Budget proposal for Thornbury"},
      {mailScreen(dark, 13, 12, 800, 500), "Grünwald Post", "de.gruenwald.post",
       "Überweisung an Kässbohrer – Posteingang"},
      {codeEditorScreen(light, 12, 13, 800, 500), "Codexia Studio", "io.codexia.studio",
       "ledgerSync.cpp — vellichor"},
      {spreadsheetScreen(dark, 14, 14, 800, 500), "Tabulon Sheets", std::nullopt,
       "Quarterly forecast Zephyrine"},
      {columnsScreen(light, 13, 15, 800, 500), "Broadleaf Reader", "net.broadleaf.reader",
       "Morning edition: Halcyon"},
      {documentScreen(dark, 14, 16, 800, 500), "Quillmarsh Writer", "org.quillmarsh.writer",
       "Minutes of the Marrowgate meeting"},
  };
  std::set<std::string> words;
  std::vector<std::int64_t> ids;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const Window& window = windows[i];
    const std::optional<Image> image = render(window.screen);
    ASSERT_TRUE(image) << "ImageMagick could not draw " << window.screen.name();
    const Recorder::Outcome outcome =
        recorder.record(*image, window.appName, window.bundleID, window.title,
                        Frames::at(static_cast<double>(i) * 900.0));
    const auto* stored = std::get_if<Recorder::Stored>(&outcome);
    ASSERT_NE(stored, nullptr) << window.screen.name();
    EXPECT_GT(stored->lines, 5) << "recognition read next to nothing on " << window.screen.name();
    ids.push_back(stored->id);
    for (const std::string& word : window.screen.words()) {
      words.insert(word);
    }
    const std::vector<std::string> names{window.appName, window.title,
                                         window.bundleID.value_or("")};
    for (const std::string& name : names) {
      if (!name.empty()) {
        words.insert(name);
        for (const std::string& word : wordsOf(name)) {
          words.insert(word);
        }
      }
    }
    const std::optional<FrameSummary> summary = library->summary(stored->id, SearchQuery{});
    ASSERT_TRUE(summary);
    for (const TextLine& line : summary->meta.lines) {
      for (const std::string& word : wordsOf(line.text)) {
        words.insert(word);
      }
    }
  }
  // Case forms ASCII folding cannot make.
  for (const char* word : {"überweisung", "ÜBERWEISUNG", "grünwald", "GRÜNWALD", "kässbohrer",
                           "KÄSSBOHRER", "GRÜNWALD POST"}) {
    words.insert(word);
  }
  EXPECT_EQ(library->remove({ids[1]}), 1);

  // In megabytes of sealed, random-looking bytes a short word turns up by chance: a folded
  // five-letter word about once in a hundred runs, a four-letter word in any form most runs. So
  // words of six or more characters are searched in any ASCII case, five-letter words in their
  // exact case forms, and four-letter words in their exact case forms as UTF-16 only. Words of
  // hex digits only (mostly numbers) are left out: they could be part of an index token.
  std::vector<Needle> folded;
  std::vector<Needle> exact;
  std::size_t checked = 0;
  std::size_t tooShort = 0;
  std::size_t fourLetters = 0;
  std::size_t hex = 0;
  for (const std::string& word : words) {
    if (word.size() < 4) {
      ++tooShort;
      continue;
    }
    if (onlyHex(word)) {
      ++hex;
      continue;
    }
    ++checked;
    if (word.size() >= 6) {
      for (Needle& needle : testing::textNeedles(word, word)) {
        folded.push_back(std::move(needle));
      }
      continue;
    }
    fourLetters += word.size() == 4 ? 1 : 0;
    const std::string lower = testing::foldASCII(word);
    std::string capital = lower;
    capital[0] = asciiUpper(capital.substr(0, 1))[0];
    for (const std::string& form : std::set<std::string>{word, lower, asciiUpper(word), capital}) {
      if (word.size() >= 5) {
        exact.push_back({word, form});
      }
      exact.push_back({word + " (UTF-16LE)", testing::utf16(form, false)});
      exact.push_back({word + " (UTF-16BE)", testing::utf16(form, true)});
    }
  }
  ASSERT_GT(checked, 300u);

  auto labelsFound = [&](const fs::path& folder) {
    const std::vector<fs::path> files = testing::filesUnder(folder);
    std::vector<Hit> hits = testing::scanFiles(files, folded, true);
    for (Hit& hit : testing::scanFiles(files, exact, false)) {
      hits.push_back(std::move(hit));
    }
    return hits;
  };

  // The scan finds every word in a plain dump of them, so an empty result below means something.
  {
    testing::TemporaryFolder plain;
    std::string dump;
    for (const std::string& word : words) {
      dump += word + " ";
    }
    writeFileAtomically(plain.path() / "utf8", Bytes(dump.begin(), dump.end()));
    const std::string wide = testing::utf16(asciiUpper(dump), true);
    writeFileAtomically(plain.path() / "utf16", Bytes(wide.begin(), wide.end()));
    std::set<std::string> found;
    for (const Hit& hit : labelsFound(plain.path())) {
      found.insert(hit.label);
    }
    for (const std::string& word : words) {
      if (word.size() >= 4 && !onlyHex(word)) {
        EXPECT_TRUE((word.size() == 4 || found.contains(word)) &&
                    found.contains(word + " (UTF-16BE)"))
            << word;
      }
    }
  }

  // Words that any library holds (its table and column names, "frames" of the file paths) say
  // nothing about the screen: found in a library of one empty frame, they are left out.
  std::set<std::string> vocabulary;
  {
    testing::TemporaryFolder control;
    FrameLibrary empty(control.path(), FrameKeys::derive(generateKey()), Calendar::utc());
    empty.store(Frames::frame(Frames::at(), "", "Q"));
    for (const Hit& hit : labelsFound(control.path())) {
      vocabulary.insert(hit.label.substr(0, hit.label.find(" (UTF-16")));
    }
    // They must really be the library's: words of its schema, its file paths, the key of its
    // check row and the full-text table's version row.
    std::set<std::string> schemaWords{"frames", "check", "version"};
    Statement schema =
        SQLiteDB::open(control.path() / "history.sqlite")->prepare("SELECT sql FROM sqlite_master");
    while (schema.step()) {
      for (const std::string& word : wordsOf(testing::foldASCII(schema.columnText(0)))) {
        schemaWords.insert(word);
      }
    }
    for (const std::string& word : vocabulary) {
      EXPECT_TRUE(schemaWords.contains(testing::foldASCII(word))) << word;
    }
  }
  std::erase_if(folded, [&](const Needle& n) {
    return vocabulary.contains(n.label.substr(0, n.label.find(" (UTF-16")));
  });
  std::erase_if(exact, [&](const Needle& n) {
    return vocabulary.contains(n.label.substr(0, n.label.find(" (UTF-16")));
  });
  // The master key and the working keys, raw and as hex text.
  const Bytes key = readFile(keyFile);
  ASSERT_EQ(key.size(), MasterKey::size);
  const FrameKeys working = FrameKeys::derive(keyStore.load().value());
  std::vector<Needle> keyNeedles;
  const std::vector<std::pair<std::string, std::string>> keyBytes{
      {"master key", asString(key)},
      {"sealing key", std::string(working.sealKey.bytes().begin(), working.sealKey.bytes().end())},
      {"index key", std::string(working.indexKey.bytes().begin(), working.indexKey.bytes().end())}};
  for (const auto& [label, bytes] : keyBytes) {
    for (Needle& needle : testing::binaryNeedles(label, bytes, 8)) {
      keyNeedles.push_back(std::move(needle));
    }
    std::string hexText;
    for (const char c : bytes) {
      char pair[3];
      std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
      hexText += pair;
    }
    keyNeedles.push_back({label + " as hex", hexText.substr(0, 24)});
  }
  EXPECT_FALSE(fs::exists(data / "history-key"));

  std::vector<Hit> hits = labelsFound(data);
  for (Hit& hit : testing::scanFiles(testing::filesUnder(data), keyNeedles, true)) {
    hits.push_back(std::move(hit));
  }
  EXPECT_TRUE(hits.empty()) << describe(hits);

  // Owner-only everywhere, and nothing but the library's own entries.
  EXPECT_EQ(modeOf(data), 0700u);
  for (const char* name : {"history.sqlite", "history.sqlite-wal", "history.sqlite-shm"}) {
    ASSERT_TRUE(fs::exists(data / name)) << name;
    EXPECT_EQ(modeOf(data / name), 0600u) << name;
  }
  std::size_t frameFiles = 0;
  for (const auto& entry : fs::recursive_directory_iterator(data)) {
    const fs::path relative = fs::relative(entry.path(), data);
    const std::string first = relative.begin()->string();
    if (first != "frames") {
      EXPECT_TRUE(first.rfind("history.sqlite", 0) == 0) << relative;
      continue;
    }
    if (entry.is_directory()) {
      EXPECT_EQ(modeOf(entry.path()), 0700u) << relative;
    } else {
      ++frameFiles;
      EXPECT_EQ(entry.path().extension(), ".vsf") << relative;
      EXPECT_EQ(modeOf(entry.path()), 0600u) << relative;
    }
  }
  EXPECT_EQ(frameFiles, windows.size() - 1);

  const std::size_t needleCount = folded.size() + exact.size() + keyNeedles.size();
  std::cout << "leak scan: " << checked - vocabulary.size() << " words, titles, names and IDs ("
            << fourLetters << " of them of four letters, searched as UTF-16 only; "
            << vocabulary.size() << " of the library's own words, " << tooShort
            << " shorter than 4 and " << hex << " hex-only words left out), " << needleCount
            << " byte patterns with the keys, " << testing::filesUnder(data).size() << " files, "
            << hits.size() << " found\n";
}

}  // namespace
}  // namespace vistrel
