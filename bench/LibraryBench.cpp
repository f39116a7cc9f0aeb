// The frame library at the size of two months of use: 100,000 frames of about 150 lines and
// 1,000 words each. Measures `store` into the full library, `search` for the query shapes people
// type (each against the same texts in a plaintext SQLite FTS5 table with prefix indexes, timed
// in the same run), deleting one frame (the call, its background purge and a search meanwhile),
// and the bytes the library costs per frame.
//
// Targets: store under 10 ms median; every search shape under 50 ms at the median and 150 ms at
// the 95th percentile, and within 5x of the plaintext baseline; a deletion returns within 200 ms,
// its purge ends within 60 s and a search meanwhile takes under 100 ms.
//
// The library takes long to build (every frame goes through the production `store`), so it is
// built once and kept in ${VISTREL_BENCH_CACHE:-$HOME/.cache/vistrel-bench}/library-100k, next
// to library-100k.key, which names the generator and library format it was built with. It is
// rebuilt only when the key differs or the folder is missing. Cached frames carry small image
// payloads (16 KB image file, 10 KB thumbnail) to keep the cache a few GB; the frames stored by
// the store benchmark carry realistic ones (100 KB image, 10 KB thumbnail) and are deleted again.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/keys/FrameKeys.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/library/SQLiteDB.h"
#include "VistrelKit/library/SearchSQL.h"
#include "VistrelKit/search/Highlighter.h"
#include "VistrelKit/search/SearchQuery.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// VISTREL_BENCH_FRAMES sets another size (for trying the benchmark out); it gets its own cache.
int frameCount() {
  static const int count = [] {
    const char* text = std::getenv("VISTREL_BENCH_FRAMES");
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : 100000;
  }();
  return count;
}
constexpr int linesPerFrame = 150;
constexpr int wordsPerFrame = 1000;
constexpr std::size_t vocabularySize = 40000;
constexpr std::size_t cachedImageBytes = 16 * 1024;
constexpr std::size_t thumbnailBytes = 10 * 1024;
constexpr std::size_t realisticImageBytes = 100 * 1024;
constexpr double firstFrameAt = 1788220800.0;  // 2026-09-01 00:00 UTC
constexpr double spanSeconds = 60.0 * 86400.0;
constexpr int searchLimit = 150;

// Changing the generator, the payloads or anything about the library's on-disk format must
// change this text, so that an old cache is rebuilt rather than measured.
std::string cacheName() {
  return frameCount() % 1000 == 0 ? "library-" + std::to_string(frameCount() / 1000) + "k"
                                  : "library-" + std::to_string(frameCount());
}

const std::string cacheKey =
    "vistrel-bench library generator=1 frames=" + std::to_string(frameCount()) +
    " image=" + std::to_string(cachedImageBytes) + " thumb=" + std::to_string(thumbnailBytes) +
    " vocabulary=" + std::to_string(vocabularySize) + " format=sqlite-fts5-v1";

// The words shown on nearly every screen come first; "please" and "review" are common on their
// own and also appear together on some screens, "invoice" and "settings" likewise.
const std::vector<std::string> commonWords = {
    "the",      "of",        "and",      "to",      "in",      "is",       "for",    "on",
    "with",     "as",        "at",       "by",      "from",    "or",       "this",   "that",
    "it",       "be",        "are",      "was",     "not",     "you",      "your",   "all",
    "new",      "more",      "file",     "edit",    "view",    "help",     "open",   "save",
    "close",    "search",    "settings", "inbox",   "reply",   "please",   "send",   "share",
    "today",    "yesterday", "meeting",  "project", "review",  "update",   "report", "invoice",
    "account",  "message",   "download", "upload",  "page",    "next",     "back",   "home",
    "team",     "status",    "total",    "amount",  "date",    "name",     "time",   "user",
    "data",     "server",    "error",    "warning", "build",   "test",     "commit", "branch",
    "order",    "customer",  "payment",  "balance", "email",   "calendar", "event",  "notes",
    "document", "folder",    "image",    "video",   "music",   "window",   "tab",    "link",
    "price",    "quantity",  "address",  "phone",   "contact", "company",  "office", "monday",
    "tuesday",  "wednesday", "thursday", "friday",  "january", "february", "march",  "april"};

std::vector<std::string> makeVocabulary() {
  static const std::vector<std::string> onsets = {
      "b", "br", "c",  "ch", "d",  "f", "g", "gr", "h",  "k",  "l",  "m",  "n",  "p",  "pr",
      "r", "s",  "st", "t",  "tr", "v", "w", "z",  "qu", "sh", "pl", "fl", "cl", "sp", "j"};
  static const std::vector<std::string> vowels = {"a", "e", "i", "o", "u", "ea", "ou", "io", "y"};
  static const std::vector<std::string> codas = {"",   "n",  "r",  "s", "t", "nd",
                                                 "ng", "st", "ck", "l", "m", "x"};
  std::mt19937 random(4471);
  auto pick = [&random](const std::vector<std::string>& list) {
    return list[std::uniform_int_distribution<std::size_t>(0, list.size() - 1)(random)];
  };
  std::vector<std::string> vocabulary = commonWords;
  std::set<std::string> seen(commonWords.begin(), commonWords.end());
  std::uniform_int_distribution<int> syllables(1, 4);
  while (vocabulary.size() < vocabularySize) {
    std::string word;
    for (int s = syllables(random); s > 0; --s) {
      word += pick(onsets) + pick(vowels) + pick(codas);
    }
    // Keep the prefix-collision query meaningful: nothing but "review" itself begins with it.
    if (word.size() < 2 || word.rfind("review", 0) == 0 || !seen.insert(word).second) {
      continue;
    }
    vocabulary.push_back(word);
  }
  return vocabulary;
}

struct App {
  std::string name;
  std::string bundleID;
  std::string chrome;  // the menu line on every screen of the app
};

const std::vector<App>& apps() {
  static const std::vector<App> list = [] {
    static const std::vector<std::pair<std::string, std::string>> named = {
        {"Firefox", "org.mozilla.firefox"},
        {"Mail", "org.gnome.Evolution"},
        {"Terminal", "org.gnome.Terminal"},
        {"Files", "org.gnome.Nautilus"},
        {"Text Editor", "org.gnome.TextEditor"},
        {"Calendar", "org.gnome.Calendar"},
        {"Slack", "com.slack.Slack"},
        {"Code", "com.visualstudio.code"},
        {"LibreOffice Calc", "org.libreoffice.LibreOffice.calc"},
        {"LibreOffice Writer", "org.libreoffice.LibreOffice.writer"},
        {"Chromium", "org.chromium.Chromium"},
        {"Thunderbird", "org.mozilla.Thunderbird"},
        {"Settings", "org.gnome.Settings"},
        {"Spotify", "com.spotify.Client"},
        {"Zoom", "us.zoom.Zoom"},
        {"Signal", "org.signal.Signal"},
        {"Obsidian", "md.obsidian.Obsidian"},
        {"GIMP", "org.gimp.GIMP"},
        {"Inkscape", "org.inkscape.Inkscape"},
        {"Evince", "org.gnome.Evince"}};
    std::vector<App> result;
    for (std::size_t i = 0; i < 40; ++i) {
      App app;
      if (i < named.size()) {
        app.name = named[i].first;
        app.bundleID = named[i].second;
      } else {
        app.name = "Tool " + std::to_string(i);
        app.bundleID = "com.example.tool" + std::to_string(i);
      }
      app.chrome = "File Edit View Go Window Help " + app.name;
      result.push_back(app);
    }
    return result;
  }();
  return list;
}

// Everything random about the synthetic frames, shared by the cache build and the queries.
class Generator {
 public:
  Generator() : vocabulary_(makeVocabulary()) {
    std::vector<double> weights;
    for (std::size_t r = 0; r < vocabulary_.size(); ++r) {
      weights.push_back(1.0 / static_cast<double>(r + 1));
    }
    word_ = std::discrete_distribution<std::size_t>(weights.begin(), weights.end());
    std::vector<double> appWeights;
    for (std::size_t r = 0; r < apps().size(); ++r) {
      appWeights.push_back(1.0 / std::pow(static_cast<double>(r + 1), 0.8));
    }
    app_ = std::discrete_distribution<std::size_t>(appWeights.begin(), appWeights.end());
  }

  const std::vector<std::string>& vocabulary() const { return vocabulary_; }

  // Frame `index` (from 0) of the synthetic history; frames past frameCount are "fresh" ones.
  NewFrame frame(int index, std::size_t imageBytes) {
    std::mt19937_64 random(0x5157a11ull * static_cast<std::uint64_t>(index + 1));
    std::uniform_int_distribution<int> percent(0, 99);
    const App& app = apps()[app_(random)];
    NewFrame frame;
    frame.date = dateFromSeconds1970(firstFrameAt + spanSeconds / frameCount() * index +
                                     std::uniform_real_distribution<double>(0, 1)(random));
    frame.meta.appName = app.name;
    frame.meta.bundleID = app.bundleID;
    frame.meta.title = pickWord(random) + " " + pickWord(random) + " — " + app.name;
    frame.meta.width = 1600;
    frame.meta.height = 1000;

    static const std::vector<std::string> separators = {" ",  " ",  " ",  " ",   " ",   " ",
                                                        ", ", ". ", ": ", " — ", " / ", " · "};
    frame.meta.lines.push_back({app.chrome, 0.01, 0.0, 0.5, 0.005});
    const int phraseLine = percent(random) < 5 ? 1 + percent(random) : -1;
    const int invoiceLine = percent(random) < 3 ? 1 + percent(random) : -1;
    int words = 0;
    for (int i = 1; i < linesPerFrame; ++i) {
      const int linesLeft = linesPerFrame - i;
      const int wordsLeft = wordsPerFrame - words;
      const int count = i + 1 == linesPerFrame
                            ? std::max(wordsLeft, 1)
                            : std::clamp(wordsLeft / linesLeft + percent(random) % 9 - 4, 1,
                                         std::max(wordsLeft, 1));
      std::string text;
      if (i == phraseLine) {
        text = "Please review the attached report ";
      }
      if (i == invoiceLine) {
        text += "Invoice #" + std::to_string(40000 + index % 60000) + " ";
      }
      for (int w = 0; w < count; ++w) {
        if (w > 0) {
          text += separators[static_cast<std::size_t>(percent(random)) % separators.size()];
        }
        const int kind = percent(random);
        if (kind < 3) {
          text += "#" + std::to_string(std::uniform_int_distribution<int>(1000, 99999)(random));
        } else if (kind < 5) {
          text += std::to_string(std::uniform_int_distribution<int>(1, 9999)(random)) + "." +
                  std::to_string(std::uniform_int_distribution<int>(10, 99)(random));
        } else {
          text += pickWord(random);
        }
      }
      words += count;
      frame.meta.lines.push_back({text, 0.02, static_cast<double>(i) / linesPerFrame,
                                  0.3 + 0.005 * (static_cast<double>(text.size()) / 8.0),
                                  0.9 / linesPerFrame});
    }
    frame.jpeg = payload(random, imageBytes);
    frame.thumbnail = payload(random, thumbnailBytes);
    return frame;
  }

 private:
  std::string pickWord(std::mt19937_64& random) {
    std::string word = vocabulary_[word_(random)];
    if (random() % 10 == 0) {
      word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    }
    return word;
  }

  // Random bytes framed like a JPEG; sealed anyway, so only the size matters.
  static Bytes payload(std::mt19937_64& random, std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; i += 8) {
      const std::uint64_t value = random();
      for (std::size_t b = 0; b < 8 && i + b < size; ++b) {
        bytes[i + b] = static_cast<std::uint8_t>(value >> (8 * b));
      }
    }
    bytes[0] = 0xFF;
    bytes[1] = 0xD8;
    bytes[size - 2] = 0xFF;
    bytes[size - 1] = 0xD9;
    return bytes;
  }

  std::vector<std::string> vocabulary_;
  std::discrete_distribution<std::size_t> word_;
  std::discrete_distribution<std::size_t> app_;
};

FrameKeys benchKeys() {
  MasterKey::Storage bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(0x42 + 7 * i);
  }
  return FrameKeys::derive(MasterKey(bytes));
}

fs::path cacheRoot() {
  if (const char* folder = std::getenv("VISTREL_BENCH_CACHE"); folder && *folder) {
    return folder;
  }
  const char* home = std::getenv("HOME");
  return fs::path(home ? home : "/tmp") / ".cache" / "vistrel-bench";
}

std::optional<std::string> firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) {
    return std::nullopt;
  }
  return line;
}

// The plaintext comparison: the same index texts in an ordinary FTS5 table with prefix indexes
// for one to four characters, and the time and application of each frame beside it.
constexpr const char* baselineSchema =
    "PRAGMA journal_mode = WAL;\n"
    "CREATE TABLE IF NOT EXISTS docs(id INTEGER PRIMARY KEY, ts REAL NOT NULL, app TEXT NOT "
    "NULL);\n"
    "CREATE INDEX IF NOT EXISTS docs_ts ON docs(ts);\n"
    "CREATE VIRTUAL TABLE IF NOT EXISTS docs_text USING fts5(body, prefix='1 2 3 4', "
    "tokenize='unicode61 remove_diacritics 2');\n";

// Frames made and indexed in plaintext on one thread, stored on another, so that the build
// takes the time of `store` alone.
class FrameQueue {
 public:
  void push(std::optional<NewFrame> frame) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return frames_.size() < 64; });
    frames_.push_back(std::move(frame));
    changed_.notify_all();
  }
  std::optional<NewFrame> pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !frames_.empty(); });
    std::optional<NewFrame> frame = std::move(frames_.front());
    frames_.pop_front();
    changed_.notify_all();
    return frame;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::optional<NewFrame>> frames_;
};

// Builds the cache in "<folder>.partial" and moves it into place when complete. An interrupted
// build resumes where it stopped, provided it was started for the same key.
void buildCache(const fs::path& folder, const fs::path& keyFile) {
  const fs::path partial = folder.string() + ".partial";
  const fs::path partialKey = partial / "key";
  fs::remove_all(folder);
  fs::remove(keyFile);
  if (firstLine(partialKey) != cacheKey) {
    fs::remove_all(partial);
    fs::create_directories(partial);
    std::ofstream(partialKey) << cacheKey << "\n";
  }
  const auto started = Clock::now();
  {
    FrameLibrary library(partial / "library", benchKeys(), Calendar::utc());
    const int done = static_cast<int>(library.stats(now()).frames);
    const std::shared_ptr<SQLiteDB> baseline = SQLiteDB::open(partial / "baseline.sqlite");
    baseline->exec(baselineSchema);
    baseline->run("DELETE FROM docs WHERE id > ?", {std::int64_t{done}});
    baseline->run("DELETE FROM docs_text WHERE rowid > ?", {std::int64_t{done}});
    std::fprintf(stderr,
                 "LibraryBench: building the %d-frame library in %s (once; kept for later runs; "
                 "%d frames already there)\n",
                 frameCount(), folder.c_str(), done);

    FrameQueue queue;
    std::atomic<bool> stop = false;
    std::exception_ptr producerError;
    std::thread producer([&] {
      try {
        Generator generator;
        baseline->exec("BEGIN");
        for (int i = done; i < frameCount() && !stop; ++i) {
          NewFrame frame = generator.frame(i, cachedImageBytes);
          baseline->run("INSERT INTO docs(id, ts, app) VALUES(?, ?, ?)",
                        {std::int64_t{i + 1}, secondsSince1970(frame.date), *frame.meta.bundleID});
          baseline->run("INSERT INTO docs_text(rowid, body) VALUES(?, ?)",
                        {std::int64_t{i + 1}, frame.meta.indexText()});
          if ((i + 1) % 1000 == 0) {
            baseline->exec("COMMIT; BEGIN");
          }
          queue.push(std::move(frame));
        }
        baseline->exec("COMMIT");
      } catch (...) {
        producerError = std::current_exception();
      }
      queue.push(std::nullopt);
    });

    auto lastReport = started;
    std::exception_ptr storeError;
    for (int i = done; i < frameCount(); ++i) {
      const std::optional<NewFrame> frame = queue.pop();
      if (!frame) {
        break;
      }
      try {
        if (library.store(*frame) != i + 1) {
          throw std::runtime_error("the library handed out an unexpected identifier");
        }
      } catch (...) {
        storeError = std::current_exception();
        stop = true;
        while (queue.pop()) {
        }
        break;
      }
      const auto now = Clock::now();
      if (now - lastReport > std::chrono::seconds(10) || i + 1 == frameCount()) {
        lastReport = now;
        const double elapsed = std::chrono::duration<double>(now - started).count();
        const int built = i + 1 - done;
        std::fprintf(stderr, "  %d/%d frames, %.0f s, %.1f ms per frame, about %.0f s left\n",
                     i + 1, frameCount(), elapsed, 1000.0 * elapsed / built,
                     elapsed / built * (frameCount() - i - 1));
      }
    }
    producer.join();
    if (storeError) {
      std::rethrow_exception(storeError);
    }
    if (producerError) {
      std::rethrow_exception(producerError);
    }
    std::fprintf(stderr, "  optimizing the plaintext baseline\n");
    baseline->exec("INSERT INTO docs_text(docs_text) VALUES('optimize')");
    baseline->exec("PRAGMA wal_checkpoint(TRUNCATE)");
    library.checkpoint();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  fs::remove(partialKey);
  fs::rename(partial, folder);
  std::ofstream(keyFile) << cacheKey << "\nbuilt in " << static_cast<long long>(seconds)
                         << " s (this run; an interrupted build resumes)\n";
  std::fprintf(stderr, "LibraryBench: built in %.0f s\n", seconds);
}

// The cached library and baseline, opened once per process.
struct Fixture {
  fs::path folder;
  std::shared_ptr<FrameLibrary> library;
  std::shared_ptr<SQLiteDB> baseline;
  std::shared_ptr<SQLiteDB> database;  // a second connection to the library, for the SQL probe
  FrameKeys keys = benchKeys();
  Generator generator;
  double buildSeconds = 0;

  Fixture() {
    const fs::path root = cacheRoot();
    folder = root / cacheName();
    const fs::path keyFile = root / (cacheName() + ".key");
    const bool valid = fs::exists(folder / "library" / FrameLibrary::databaseFileName) &&
                       fs::exists(folder / "baseline.sqlite") && firstLine(keyFile) == cacheKey;
    if (!valid) {
      buildCache(folder, keyFile);
    }
    std::ifstream in(keyFile);
    std::string line;
    std::getline(in, line);
    in >> line >> line >> buildSeconds;
    library = std::make_shared<FrameLibrary>(folder / "library", keys, Calendar::utc());
    // Frames left behind by a store benchmark that did not finish.
    library->deleteRange(dateFromSeconds1970(firstFrameAt + spanSeconds + 1),
                         dateFromSeconds1970(1e12));
    baseline = SQLiteDB::open(folder / "baseline.sqlite");
    database = SQLiteDB::open(folder / "library" / FrameLibrary::databaseFileName);
  }
};

Fixture& fixture() {
  static Fixture instance;
  return instance;
}

double percentile(std::vector<double> samples, double p) {
  std::sort(samples.begin(), samples.end());
  const double position = p * static_cast<double>(samples.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(position));
  const auto above = std::min(below + 1, samples.size() - 1);
  return samples[below] + (samples[above] - samples[below]) * (position - std::floor(position));
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The plaintext form of a query: every word as a prefix, every phrase with its last word as a
// prefix, as the library's own matching does.
std::string baselineMatch(const SearchQuery& query) {
  std::string expression;
  auto add = [&expression](const std::string& part) {
    if (!expression.empty()) {
      expression += " AND ";
    }
    expression += part;
  };
  for (const std::string& word : query.words) {
    add("\"" + word + "\"*");
  }
  for (const std::vector<std::string>& phrase : query.phrases) {
    std::string text;
    for (const std::string& word : phrase) {
      if (!text.empty()) {
        text += ' ';
      }
      text += word;
    }
    add("\"" + text + "\"*");
  }
  return expression;
}

// A plaintext search as one would write it without sealing: the matching identifiers sorted by
// time, then the text of only those returned.
std::int64_t baselineSearch(SQLiteDB& db, const SearchQuery& query,
                            const std::optional<std::string>& bundleID) {
  std::string sql = "SELECT d.id FROM docs d";
  std::vector<SQLValue> values;
  std::vector<std::string> conditions;
  if (!query.isEmpty()) {
    sql = "SELECT d.id FROM docs_text t JOIN docs d ON d.id = t.rowid";
    conditions.emplace_back("docs_text MATCH ?");
    values.emplace_back(baselineMatch(query));
  }
  if (bundleID) {
    conditions.emplace_back("d.app = ?");
    values.emplace_back(*bundleID);
  }
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    sql += (i == 0 ? " WHERE " : " AND ") + conditions[i];
  }
  sql += " ORDER BY d.ts DESC LIMIT ?";
  values.emplace_back(std::int64_t{searchLimit});
  Statement statement = db.prepare(sql);
  statement.bind(values);
  Statement body = db.prepare("SELECT body FROM docs_text WHERE rowid = ?");
  std::int64_t rows = 0;
  while (statement.step()) {
    body.bind({statement.columnInt(0)});
    if (body.step()) {
      benchmark::DoNotOptimize(body.columnText(0));
    }
    ++rows;
  }
  return rows;
}

double threadCPUMilliseconds() {
  timespec time{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
  return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_nsec) / 1e6;
}

// Where the SQL part of a search goes: the candidate statement with the sealed metadata and
// thumbnail selected along (SQLite then copies them for every matching frame into its sorter
// before the first row comes out), the library's statement that sorts identifiers and times
// only, and the number of candidates.
struct SQLProbe {
  double firstRowMs = 0;
  double idsFirstRowMs = 0;
  std::int64_t candidates = 0;
};

SQLProbe probeSQL(SQLiteDB& db, const FrameKeys& keys, const SearchQuery& query,
                  const std::optional<Bytes>& tag) {
  const std::string expression =
      query.isEmpty()
          ? std::string()
          : query.matchExpression([&keys](std::string_view term) { return keys.token(term); });
  const SearchSQL sql = searchSQL(expression, tag, std::nullopt, std::nullopt, searchLimit);
  SQLProbe probe;
  std::string withRecords = sql.text;
  const std::string columns = "f.id, f.ts";
  withRecords.replace(withRecords.find(columns), columns.size(), "f.id, f.ts, f.meta, f.thumb");
  auto start = Clock::now();
  {
    Statement statement = db.prepare(withRecords);
    statement.bind(sql.values);
    statement.step();
    probe.firstRowMs = millisecondsSince(start);
  }
  start = Clock::now();
  Statement ids = db.prepare(sql.text);
  ids.bind(sql.values);
  bool more = ids.step();
  probe.idsFirstRowMs = millisecondsSince(start);
  while (more) {
    ++probe.candidates;
    more = ids.step();
  }
  return probe;
}

struct Shape {
  const char* label;
  std::string text;
  std::optional<std::string> bundleID;  // application filter
};

// A word of rank 15,000 or below, long enough not to be a prefix of many others: on a few
// hundred of the 100,000 frames.
std::string rareWord(const std::vector<std::string>& vocabulary) {
  for (std::size_t rank = 15000; rank < vocabulary.size(); ++rank) {
    if (vocabulary[rank].size() >= 7) {
      return vocabulary[rank];
    }
  }
  return vocabulary.back();
}

// The query shapes. Words are taken from the generator's vocabulary by rank, so the shapes keep
// their character whatever the syllables happen to be.
const std::vector<Shape>& shapes() {
  static const std::vector<Shape> list = [] {
    const std::vector<std::string>& vocabulary = fixture().generator.vocabulary();
    return std::vector<Shape>{
        {"RareWord", rareWord(vocabulary), std::nullopt},
        {"TwoCommonWords", "open settings", std::nullopt},
        {"Phrase", "\"please review\"", std::nullopt},
        {"WordAndAppFilter", "invoice", apps()[6].bundleID},
        {"EmptyQuery", "", std::nullopt},
        {"NumberPrefix", "inv 4471", std::nullopt},
        // Its six-character term is on almost every screen but the whole word on none, so every
        // candidate up to the SQL limit is opened and rejected: the worst case of verification.
        {"PrefixNoMatch", "reviewer", std::nullopt},
    };
  }();
  return list;
}

// VISTREL_BENCH_RUNS sets the timed runs per shape (11 by default; the 95th percentile of 11
// runs lies between the two slowest).
int searchRuns() {
  const char* text = std::getenv("VISTREL_BENCH_RUNS");
  const int value = text ? std::atoi(text) : 0;
  return value > 1 ? value : 11;
}

void BM_Search(benchmark::State& state) {
  Fixture& f = fixture();
  const Shape& shape = shapes()[static_cast<std::size_t>(state.range(0))];
  state.SetLabel(std::string(shape.label) + " [" + shape.text +
                 (shape.bundleID ? " app=" + *shape.bundleID : std::string()) + "]");
  const SearchQuery query = SearchQuery::parse(shape.text);
  const std::optional<Bytes> tag =
      shape.bundleID ? std::optional<Bytes>(f.keys.tag(*shape.bundleID)) : std::nullopt;

  // One untimed round of each, so both read from a warm page cache.
  std::size_t found = f.library->search(query, tag, std::nullopt, std::nullopt, searchLimit).size();
  std::int64_t baselineFound = baselineSearch(*f.baseline, query, shape.bundleID);

  std::vector<double> ours;
  std::vector<double> oursCPU;
  std::vector<double> theirs;
  for (auto _ : state) {
    auto start = Clock::now();
    const double cpuStart = threadCPUMilliseconds();
    found = f.library->search(query, tag, std::nullopt, std::nullopt, searchLimit).size();
    const double elapsed = millisecondsSince(start);
    oursCPU.push_back(threadCPUMilliseconds() - cpuStart);
    ours.push_back(elapsed);
    state.SetIterationTime(elapsed / 1000.0);
    start = Clock::now();
    baselineFound = baselineSearch(*f.baseline, query, shape.bundleID);
    theirs.push_back(millisecondsSince(start));
  }
  const SQLProbe probe = probeSQL(*f.database, f.keys, query, tag);
  state.counters["p50_ms"] = percentile(ours, 0.5);
  state.counters["p95_ms"] = percentile(ours, 0.95);
  state.counters["cpu_p50_ms"] = percentile(oursCPU, 0.5);
  state.counters["fts5_p50_ms"] = percentile(theirs, 0.5);
  state.counters["fts5_p95_ms"] = percentile(theirs, 0.95);
  state.counters["ratio_p50"] = percentile(ours, 0.5) / std::max(percentile(theirs, 0.5), 1e-6);
  state.counters["hits"] = static_cast<double>(found);
  state.counters["fts5_hits"] = static_cast<double>(baselineFound);
  state.counters["candidates"] = static_cast<double>(probe.candidates);
  state.counters["blobs_row1_ms"] = probe.firstRowMs;
  state.counters["ids_row1_ms"] = probe.idsFirstRowMs;
}
BENCHMARK(BM_Search)
    ->DenseRange(0, 6)
    ->Iterations(searchRuns())
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// The work a search does per candidate frame, step by step, on one frame of the synthetic
// history (no database): what bounds a search that must open thousands of candidates.
void BM_CandidateSteps(benchmark::State& state) {
  Generator generator;
  const FrameKeys keys = benchKeys();
  const NewFrame frame = generator.frame(12345, cachedImageBytes);
  const Bytes sealedMeta = keys.seal(bytesOf(frame.meta.encode()), sealContext::frameMeta(7));
  const Bytes sealedThumb = keys.seal(frame.thumbnail, sealContext::frameThumb(7));
  const SearchQuery query = SearchQuery::parse("\"please review\" open");
  double unsealMs = 0;
  double decodeMs = 0;
  double matchesMs = 0;
  double linesMs = 0;
  double thumbMs = 0;
  for (auto _ : state) {
    double start = threadCPUMilliseconds();
    const Bytes json = keys.unseal(sealedMeta, sealContext::frameMeta(7));
    unsealMs += (threadCPUMilliseconds() - start);
    start = threadCPUMilliseconds();
    const FrameMeta meta = FrameMeta::decode(
        std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
    decodeMs += (threadCPUMilliseconds() - start);
    start = threadCPUMilliseconds();
    benchmark::DoNotOptimize(query.matches(meta.indexText()));
    matchesMs += (threadCPUMilliseconds() - start);
    start = threadCPUMilliseconds();
    benchmark::DoNotOptimize(Highlighter::linesMatching(meta.lines, query));
    linesMs += (threadCPUMilliseconds() - start);
    start = threadCPUMilliseconds();
    benchmark::DoNotOptimize(keys.unseal(sealedThumb, sealContext::frameThumb(7)));
    thumbMs += (threadCPUMilliseconds() - start);
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["meta_kb"] = static_cast<double>(sealedMeta.size()) / 1024.0;
  state.counters["unseal_meta_us"] = 1000.0 * unsealMs / runs;
  state.counters["decode_json_us"] = 1000.0 * decodeMs / runs;
  state.counters["matches_us"] = 1000.0 * matchesMs / runs;
  state.counters["lines_matching_us"] = 1000.0 * linesMs / runs;
  state.counters["unseal_thumb_us"] = 1000.0 * thumbMs / runs;
}
BENCHMARK(BM_CandidateSteps)->Unit(benchmark::kMicrosecond);

constexpr int storeRuns = 40;

// Fresh frames after the end of the synthetic history, with realistic image sizes, stored into
// the full library (no recognition: the text is already there) and deleted again afterwards.
void BM_Store(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<NewFrame> frames;
  for (int i = 0; i < storeRuns; ++i) {
    NewFrame frame = f.generator.frame(frameCount() + i, realisticImageBytes);
    frame.date = dateFromSeconds1970(firstFrameAt + spanSeconds + 10.0 + i);
    frames.push_back(std::move(frame));
  }
  std::vector<std::int64_t> stored;
  std::vector<double> samples;
  std::size_t next = 0;
  std::vector<double> cpu;
  for (auto _ : state) {
    const auto start = Clock::now();
    const double cpuStart = threadCPUMilliseconds();
    stored.push_back(f.library->store(frames[next++ % frames.size()]));
    const double elapsed = millisecondsSince(start);
    cpu.push_back(threadCPUMilliseconds() - cpuStart);
    samples.push_back(elapsed);
    state.SetIterationTime(elapsed / 1000.0);
  }
  const auto start = Clock::now();
  f.library->remove(stored);
  state.counters["delete_all_ms"] = millisecondsSince(start);
  state.counters["p50_ms"] = percentile(samples, 0.5);
  state.counters["p95_ms"] = percentile(samples, 0.95);
  state.counters["cpu_p50_ms"] = percentile(cpu, 0.5);
  state.counters["image_kb"] = static_cast<double>(realisticImageBytes) / 1024.0;
}
BENCHMARK(BM_Store)->Iterations(storeRuns)->UseManualTime()->Unit(benchmark::kMillisecond);

// "Delete Frame" in the full library: the time until the call returns, the time until the
// frame's terms have left the text index (the background purge), and the longest a search of a
// rare word waits meanwhile (searched back to back on another thread), for index merge slices of
// the given number of pages.
void BM_DeleteFrame(benchmark::State& state) {
  Fixture& f = fixture();
  const SearchQuery rare = SearchQuery::parse(shapes().front().text);
  std::vector<double> returned, purged, searchLongest;
  f.library->setPurgeSlicePages(static_cast<int>(state.range(0)));
  int run = 0;
  for (auto _ : state) {
    NewFrame frame = f.generator.frame(frameCount() + run, realisticImageBytes);
    frame.date = dateFromSeconds1970(firstFrameAt + spanSeconds + 10.0 + run++);
    const std::int64_t id = f.library->store(frame);
    f.library->waitForPurge();

    std::atomic<bool> done = false;
    double longest = 0;
    std::thread searcher([&] {
      while (!done) {
        const auto start = Clock::now();
        f.library->search(rare, std::nullopt, std::nullopt, std::nullopt, searchLimit);
        longest = std::max(longest, millisecondsSince(start));
      }
    });
    const auto start = Clock::now();
    f.library->remove({id});
    returned.push_back(millisecondsSince(start));
    f.library->waitForPurge();
    purged.push_back(millisecondsSince(start) / 1000.0);
    done = true;
    searcher.join();
    searchLongest.push_back(longest);
    state.SetIterationTime(returned.back() / 1000.0);
  }
  state.counters["return_p50_ms"] = percentile(returned, 0.5);
  state.counters["return_max_ms"] = percentile(returned, 1.0);
  state.counters["purged_p50_s"] = percentile(purged, 0.5);
  state.counters["purged_max_s"] = percentile(purged, 1.0);
  state.counters["search_wait_max_ms"] = percentile(searchLongest, 1.0);
}
BENCHMARK(BM_DeleteFrame)
    ->Arg(256)
    ->Arg(64)
    ->Arg(32)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

std::uintmax_t fileBytes(const fs::path& file) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(file, error);
  return error ? 0 : size;
}

// What the cached library costs on disk, per frame; reported once, as counters.
void BM_Size(benchmark::State& state) {
  Fixture& f = fixture();
  const fs::path library = f.folder / "library";
  std::uintmax_t frameFiles = 0;
  std::uintmax_t frameBlocks = 0;
  std::int64_t frameFileCount = 0;
  for (auto _ : state) {
    frameFiles = 0;
    frameBlocks = 0;
    frameFileCount = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(library / "frames")) {
      if (entry.is_regular_file()) {
        frameFiles += entry.file_size();
        struct stat info {};
        if (::stat(entry.path().c_str(), &info) == 0) {
          frameBlocks += static_cast<std::uintmax_t>(info.st_blocks) * 512;
        }
        ++frameFileCount;
      }
    }
  }
  const LibraryStats stats = f.library->stats(now());
  const double frames = static_cast<double>(std::max<std::int64_t>(stats.frames, 1));
  const std::uintmax_t database =
      fileBytes(library / "history.sqlite") + fileBytes(library / "history.sqlite-wal");
  state.counters["frames"] = static_cast<double>(stats.frames);
  state.counters["db_kb_per_frame"] = static_cast<double>(database) / frames / 1024.0;
  state.counters["file_kb_per_frame"] = static_cast<double>(frameFiles) / frames / 1024.0;
  state.counters["file_disk_kb_per_frame"] = static_cast<double>(frameBlocks) / frames / 1024.0;
  state.counters["estimate_kb_per_frame"] = static_cast<double>(stats.bytes) / frames / 1024.0;
  state.counters["fts5_db_kb_per_frame"] =
      static_cast<double>(fileBytes(f.folder / "baseline.sqlite")) / frames / 1024.0;
  state.counters["build_s"] = f.buildSeconds;
  state.counters["files"] = static_cast<double>(frameFileCount);
}
BENCHMARK(BM_Size)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vistrel
