#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/SQLiteDB.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel::testing {

// A real library in a temporary folder, with its keys at hand so tests can open what it seals.
class FrameLibraryTest : public ::testing::Test {
 protected:
  explicit FrameLibraryTest(Calendar calendar = Calendar::utc())
      : keys(FrameKeys::derive(generateKey())),
        library(std::make_shared<FrameLibrary>(temporary.path(), keys, std::move(calendar))) {}

  const std::filesystem::path& folder() const { return temporary.path(); }

  // A second connection of the test's own, as another process would see the file.
  std::shared_ptr<SQLiteDB> inspect() { return SQLiteDB::open(folder() / "history.sqlite"); }

  std::int64_t count(const std::string& sql) {
    Statement statement = inspect()->prepare(sql);
    return statement.step() ? statement.columnInt(0) : -1;
  }

  static NewFrame frame(Date date, std::string text, std::string appName = "Editor",
                        std::optional<std::string> bundleID = std::nullopt,
                        std::optional<std::string> title = std::nullopt) {
    NewFrame frame;
    frame.date = date;
    frame.meta.appName = std::move(appName);
    frame.meta.bundleID = std::move(bundleID);
    frame.meta.title = std::move(title);
    frame.meta.width = 640;
    frame.meta.height = 400;
    if (!text.empty()) {
      frame.meta.lines.push_back(TextLine{std::move(text), 0.1, 0.2, 0.5, 0.05});
    }
    frame.jpeg = Bytes{0xff, 0xd8, 0xff, 0xe0, 1, 2, 3, 4, 5, 0xff, 0xd9};
    frame.thumbnail = Bytes{0xff, 0xd8, 9, 8, 7, 0xff, 0xd9};
    return frame;
  }

  // 2025-03-09 12:00 UTC plus the given seconds.
  static Date at(double seconds = 0) { return dateFromSeconds1970(1741521600.0 + seconds); }

  TemporaryFolder temporary;
  FrameKeys keys;
  std::shared_ptr<FrameLibrary> library;
};

}  // namespace vistrel::testing
