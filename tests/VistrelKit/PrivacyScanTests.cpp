#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "VistrelKit/FrameLibrary.h"
#include "VistrelKit/PrivateFiles.h"
#include "tests/VistrelKit/DiskScan.h"
#include "tests/VistrelKit/FrameLibraryFixture.h"
#include "tests/VistrelKit/TemporaryFolder.h"

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

}  // namespace
}  // namespace vistrel
