#include <gtest/gtest.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "VistrelKit/capture/Recorder.h"
#include "VistrelKit/search/SearchQuery.h"
#include "tests/VistrelKit/library/FrameLibraryFixture.h"

// The library and the recorder are shared by the capture loop, the screens and the background
// jobs. This drives all of them at once; under ThreadSanitizer (the build with
// VISTREL_SANITIZE=thread) any data race halts the test, and in every build the totals must add up.
namespace vistrel {
namespace {

using testing::FrameLibraryTest;

constexpr int framesPerWriter = 24;

Image flat(std::uint8_t value) {
  Image image(320, 200, PixelFormat::rgbx);
  for (int y = 0; y < image.height(); ++y) {
    std::uint8_t* row = image.row(y);
    for (int x = 0; x < image.width(); ++x) {
      row[x * 4] = row[x * 4 + 1] = row[x * 4 + 2] = static_cast<std::uint8_t>(value + x % 7);
    }
  }
  return image;
}

// Collects what any thread raised, so the test fails with the message instead of terminating.
class Failures {
 public:
  template <typename Body>
  void run(const char* what, Body&& body) {
    try {
      body();
    } catch (const std::exception& error) {
      add(std::string(what) + ": " + error.what());
    } catch (...) {
      add(std::string(what) + ": unknown exception");
    }
  }
  void add(std::string message) {
    std::lock_guard guard(mutex_);
    messages_.push_back(std::move(message));
  }
  std::vector<std::string> messages() const {
    std::lock_guard guard(mutex_);
    return messages_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};

class ConcurrencyTest : public FrameLibraryTest {};

TEST_F(ConcurrencyTest, ReadersWritersCleanupAndResetsShareOneLibrary) {
  std::atomic<int> recognized{0};
  Recorder recorder(library, 320, [&recognized](const Image&, const std::vector<WindowArea>&) {
    const int n = recognized.fetch_add(1);
    return std::vector<TextLine>{TextLine{"Invoice #" + std::to_string(4400 + n), 0, 0, 1, 0.1},
                                 TextLine{"Recorded frame", 0, 0.2, 1, 0.1}};
  });
  const SearchQuery query = SearchQuery::parse("invoice");
  const Date now = at(0);

  Failures failures;
  std::atomic<int> writersDone{0};
  std::atomic<std::int64_t> stored{0};
  std::atomic<std::int64_t> deleted{0};
  std::atomic<int> readRounds{0};
  const auto writing = [&] { return writersDone.load() < 2; };

  std::vector<std::thread> threads;
  // The capture loop: frames alternate between two screens, so each one is a change.
  threads.emplace_back([&] {
    failures.run("record", [&] {
      for (int i = 0; i < framesPerWriter; ++i) {
        const auto outcome = recorder.record(flat(i % 2 ? 40 : 200), "Editor", "org.example.editor",
                                             "Notes", at(-600 + i));
        if (std::holds_alternative<Recorder::Stored>(outcome)) {
          stored += 1;
        } else {
          failures.add("record: frame " + std::to_string(i) + " was not stored");
        }
      }
    });
    writersDone += 1;
  });
  // Another writer storing directly, as an import would.
  threads.emplace_back([&] {
    failures.run("store", [&] {
      for (int i = 0; i < framesPerWriter; ++i) {
        library->store(frame(at(-1200 + i), "Invoice stored " + std::to_string(i), "Terminal"));
        stored += 1;
      }
    });
    writersDone += 1;
  });
  // The screens: search, timeline, frame detail, storage numbers.
  for (int reader = 0; reader < 2; ++reader) {
    threads.emplace_back([&] {
      failures.run("read", [&] {
        do {
          const auto results =
              library->search(query, std::nullopt, std::nullopt, std::nullopt, 150);
          for (const FrameSummary& result : results) {
            if (result.matchingLines.empty())
              failures.add("search: a result without matching lines");
          }
          const auto stamps = library->stamps(at(-3600), at(3600));
          if (!stamps.empty()) {
            const std::int64_t id = stamps[stamps.size() / 2].id;
            (void)library->summary(id, query);  // may be gone by now: then nothing
            (void)library->image(id);
          }
          (void)library->dayStamps(now);
          (void)library->apps();
          (void)library->stats(now);
          readRounds += 1;
        } while (writing());
      });
    });
  }
  // Automatic cleanup and the user's deletions.
  threads.emplace_back([&] {
    failures.run("cleanup", [&] {
      int round = 0;
      do {
        deleted += library->cleanup(RetentionPolicy{1, 60'000}, now);
        const auto all = library->allStamps();
        if (!all.empty())
          deleted += library->remove({all.back().id, all.back().id});
        deleted += library->deleteRange(at(-1200 + round), at(-1199 + round));
        library->checkpoint();
        ++round;
        std::this_thread::yield();
      } while (writing());
    });
  });
  // Pause and resume reset the recorder's reference while it records.
  threads.emplace_back([&] {
    failures.run("reset", [&] {
      do {
        recorder.reset();
        (void)recorder.last();
        std::this_thread::yield();
      } while (writing());
    });
  });
  for (auto& thread : threads)
    thread.join();

  for (const std::string& message : failures.messages())
    ADD_FAILURE() << message;
  EXPECT_EQ(stored.load(), 2 * framesPerWriter);
  EXPECT_GE(readRounds.load(), 2);

  // Every frame is either still there, whole, or was counted once as deleted.
  const auto remaining = library->allStamps();
  EXPECT_EQ(static_cast<std::int64_t>(remaining.size()), stored.load() - deleted.load());
  EXPECT_EQ(library->stats(now).frames, static_cast<std::int64_t>(remaining.size()));
  for (const FrameStamp& stamp : remaining) {
    EXPECT_TRUE(library->summary(stamp.id, query)) << stamp.id;
    EXPECT_TRUE(library->image(stamp.id)) << stamp.id;
  }
}

}  // namespace
}  // namespace vistrel
