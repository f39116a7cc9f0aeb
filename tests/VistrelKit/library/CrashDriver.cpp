// Works a library as hard as it can until it is killed: stores frames (directly or through the
// recorder), deletes lists and ranges of them and runs cleanups, in a random mix. Every step is
// announced on stdout before it starts and confirmed after it returns, one line per write(2), so
// whoever kills the process knows what had finished and what was in flight.
//
//   CrashDriver <library folder> <key file> <seed> <store|recorder>
//
// Lines:  ready <frames> | storing | stored <id> <ts> | removing <id>... | range <start> <end>
//         | cleanup <cap> <now> | removed <count>
// A frame stored directly carries the hash of its image in its first text line ("image <hash>"),
// so that a check can tell its own image from any other.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "VistrelKit/capture/Recorder.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "tests/VistrelKit/library/CrashCheck.h"

namespace vistrel {
namespace {

void say(const std::string& line) {
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (written <= 0) {
      std::_Exit(3);  // nobody is listening any more
    }
    done += static_cast<std::size_t>(written);
  }
}

class Driver {
 public:
  Driver(std::shared_ptr<FrameLibrary> library, unsigned seed, bool throughRecorder)
      : library_(std::move(library)), random_(seed) {
    for (const FrameStamp& stamp : library_->allStamps()) {
      stamps_.push_back(stamp);
    }
    lastTs_ = stamps_.empty() ? crash::firstTs : secondsSince1970(stamps_.back().date);
    if (throughRecorder) {
      recorder_ = std::make_unique<Recorder>(
          library_, 480, [this](const Image& image, const std::vector<WindowArea>&) {
            return std::vector<TextLine>{TextLine{"recorded " + std::to_string(image.width()) +
                                                      "x" + std::to_string(image.height()),
                                                  0, 0, 1, 0.1},
                                         TextLine{words(8), 0, 0.2, 1, 0.1}};
          });
    }
  }

  void run() {
    say("ready " + std::to_string(stamps_.size()));
    for (;;) {
      const int choice = pick(0, 99);
      if (choice < 55 || stamps_.size() < 5) {
        store();
      } else if (choice < 72) {
        removeSome();
      } else if (choice < 86) {
        removeRange();
      } else {
        cleanup();
      }
    }
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string words(int count) {
    static const char* const vocabulary[] = {"invoice", "meeting", "quarterly", "draft",
                                             "budget",  "report",  "kernel",    "window",
                                             "search",  "history", "deploy",    "review"};
    std::string text;
    for (int i = 0; i < count; ++i) {
      text += (i ? " " : "") + std::string(vocabulary[pick(0, std::size(vocabulary) - 1)]);
    }
    return text;
  }

  Bytes noise(std::size_t size) {
    Bytes bytes(size);
    for (std::uint8_t& byte : bytes) {
      byte = static_cast<std::uint8_t>(random_());
    }
    return bytes;
  }

  // Some frames land on the same day, some on the next: day folders come and go.
  double nextTs() {
    lastTs_ += pick(0, 3) == 0 ? 30000.0 + pick(0, 60000) : 60.0 + pick(0, 3000);
    return lastTs_;
  }

  void store() {
    const double ts = nextTs();
    const std::vector<std::string> apps{"Mail", "Editor", "Browser", "Terminal"};
    const std::string app = apps[static_cast<std::size_t>(pick(0, 3))];
    say("storing");
    std::int64_t id = 0;
    if (recorder_) {
      Image image(320, 200, PixelFormat::rgbx);
      const Bytes pixels = noise(static_cast<std::size_t>(image.height()) * 320 * 4);
      for (int y = 0; y < image.height(); ++y) {
        std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(y) * 320 * 4, 320 * 4,
                    image.row(y));
      }
      const Recorder::Outcome outcome =
          recorder_->record(image, app, "org.example." + app, words(3), dateFromSeconds1970(ts));
      const auto* stored = std::get_if<Recorder::Stored>(&outcome);
      if (!stored) {
        say("failed");
        std::_Exit(4);
      }
      id = stored->id;
    } else {
      NewFrame frame;
      frame.date = dateFromSeconds1970(ts);
      frame.jpeg = noise(static_cast<std::size_t>(pick(2000, 60000)));
      frame.thumbnail = noise(static_cast<std::size_t>(pick(200, 6000)));
      frame.meta.appName = app;
      if (pick(0, 1)) {
        frame.meta.bundleID = "org.example." + app;
      }
      frame.meta.title = words(3);
      frame.meta.width = 1280;
      frame.meta.height = 800;
      frame.meta.lines.push_back(
          TextLine{"image " + crash::hashText(crash::byteHash(frame.jpeg)), 0, 0, 1, 0.1});
      for (int line = pick(0, 30); line > 0; --line) {
        frame.meta.lines.push_back(TextLine{words(6), 0, 0.02 * line, 1, 0.02});
      }
      id = library_->store(frame);
    }
    say("stored " + std::to_string(id) + " " + crash::tsText(ts));
    stamps_.push_back(FrameStamp{id, dateFromSeconds1970(ts), 0});
  }

  void removeSome() {
    std::vector<std::int64_t> ids;
    std::string line = "removing";
    for (int count = pick(1, 6); count > 0; --count) {
      const std::int64_t id =
          pick(0, 9) == 0 ? stamps_.back().id + 1000
                          : stamps_[static_cast<std::size_t>(pick(0, stamps_.size() - 1))].id;
      ids.push_back(id);
      line += " " + std::to_string(id);
    }
    say(line);
    const std::int64_t removed = library_->remove(ids);
    say("removed " + std::to_string(removed));
    forget([&](const FrameStamp& stamp) {
      return std::find(ids.begin(), ids.end(), stamp.id) != ids.end();
    });
  }

  void removeRange() {
    const std::size_t first = static_cast<std::size_t>(pick(0, stamps_.size() - 1));
    const std::size_t last =
        std::min(stamps_.size() - 1, first + static_cast<std::size_t>(pick(0, 8)));
    const double start = secondsSince1970(stamps_[first].date);
    const double end = secondsSince1970(stamps_[last].date) + (pick(0, 1) ? 0.0 : 1.0);
    say("range " + crash::tsText(start) + " " + crash::tsText(end));
    const std::int64_t removed =
        library_->deleteRange(dateFromSeconds1970(start), dateFromSeconds1970(end));
    say("removed " + std::to_string(removed));
    forget([&](const FrameStamp& stamp) {
      const double ts = secondsSince1970(stamp.date);
      return ts >= start && ts < end;
    });
  }

  // A disk cap that the newest half or more of the frames fit under: the oldest go.
  void cleanup() {
    const std::vector<FrameStamp> all = library_->allStamps();
    std::int64_t cap = 0;
    const std::size_t keep = all.size() * static_cast<std::size_t>(pick(50, 90)) / 100;
    for (std::size_t i = all.size() - keep; i < all.size(); ++i) {
      cap += all[i].bytes;
    }
    const double now = lastTs_ + 1;
    say("cleanup " + std::to_string(cap) + " " + crash::tsText(now));
    const std::int64_t removed =
        library_->cleanup(RetentionPolicy{36500, cap}, dateFromSeconds1970(now));
    say("removed " + std::to_string(removed));
    stamps_.clear();
    for (const FrameStamp& stamp : library_->allStamps()) {
      stamps_.push_back(stamp);
    }
  }

  template <typename Predicate>
  void forget(Predicate gone) {
    std::erase_if(stamps_, gone);
    if (stamps_.empty()) {
      stamps_ = library_->allStamps();
    }
  }

  std::shared_ptr<FrameLibrary> library_;
  std::mt19937 random_;
  std::unique_ptr<Recorder> recorder_;
  std::vector<FrameStamp> stamps_;
  double lastTs_ = 0;
};

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s <library folder> <key file> <seed> <store|recorder>\n",
                 argv[0]);
    return 2;
  }
  try {
    vistrel::KeyFileStore keyStore(argv[2]);
    auto library = vistrel::FrameLibrary::open(argv[1], keyStore, true, vistrel::Calendar::utc());
    vistrel::Driver driver(std::move(library), static_cast<unsigned>(std::stoul(argv[3])),
                           std::string(argv[4]) == "recorder");
    driver.run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
