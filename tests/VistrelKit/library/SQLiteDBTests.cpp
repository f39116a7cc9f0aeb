#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <limits>

#include "VistrelKit/library/SQLiteDB.h"
#include "tests/support/TemporaryFolder.h"

namespace vistrel {
namespace {

namespace fs = std::filesystem;

std::size_t openFileDescriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

template <typename Body>
SQLiteError expectSQLiteError(Body&& body) {
  try {
    body();
  } catch (const SQLiteError& error) {
    return error;
  }
  ADD_FAILURE() << "expected SQLiteError";
  return SQLiteError(-1, "none");
}

class SQLiteDBTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = SQLiteDB::open(folder.path() / "test.sqlite");
    db->exec("CREATE TABLE t(k TEXT UNIQUE, x NOT NULL, v)");
  }

  testing::TemporaryFolder folder;
  std::shared_ptr<SQLiteDB> db;
};

TEST(SQLiteDBOpenTest, CreatesMissingFileWithSerializedConnectionAndBusyTimeout) {
  testing::TemporaryFolder folder;
  const fs::path path = folder.path() / "new.sqlite";
  ASSERT_FALSE(fs::exists(path));
  auto db = SQLiteDB::open(path);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_NE(sqlite3_db_mutex(db->handle()), nullptr);

  Statement statement = db->prepare("PRAGMA busy_timeout");
  ASSERT_TRUE(statement.step());
  EXPECT_EQ(statement.columnInt(0), 3000);
}

TEST(SQLiteDBOpenTest, MissingFolderFailsWithCantOpenAndLeavesNothingOpen) {
  testing::TemporaryFolder folder;
  const std::size_t before = openFileDescriptors();
  const SQLiteError error =
      expectSQLiteError([&] { SQLiteDB::open(folder.path() / "missing" / "db.sqlite"); });
  EXPECT_EQ(error.code(), SQLITE_CANTOPEN);
  EXPECT_EQ(error.code(), 14);
  EXPECT_EQ(error.message(), "unable to open database file");
  EXPECT_STREQ(error.what(), "SQLite 14: unable to open database file");
  EXPECT_EQ(openFileDescriptors(), before);
  EXPECT_FALSE(fs::exists(folder.path() / "missing"));
}

TEST_F(SQLiteDBTest, ExecRunsScriptsAndReportsSyntaxErrors) {
  db->exec("INSERT INTO t(k, x) VALUES('a', 1); INSERT INTO t(k, x) VALUES('b', 2);");
  Statement count = db->prepare("SELECT COUNT(*) FROM t");
  ASSERT_TRUE(count.step());
  EXPECT_EQ(count.columnInt(0), 2);

  const SQLiteError error = expectSQLiteError([&] { db->exec("INSERT INTO t VALUES(;"); });
  EXPECT_EQ(error.code(), SQLITE_ERROR);
  EXPECT_EQ(error.message(), "near \";\": syntax error");
  EXPECT_STREQ(error.what(), "SQLite 1: near \";\": syntax error");
}

struct RoundTrip {
  const char* name;
  SQLValue value;
  const char* sqlType;
  std::int64_t length;
};

void PrintTo(const RoundTrip& roundTrip, std::ostream* out) { *out << roundTrip.name; }

class SQLValueRoundTripTest : public SQLiteDBTest,
                              public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(SQLValueRoundTripTest, StoresTheValueAsItsOwnType) {
  const RoundTrip& c = GetParam();
  db->run("INSERT INTO t(x, v) VALUES(0, ?)", {c.value});
  Statement statement = db->prepare("SELECT typeof(v), length(v), v, v, v, v FROM t");
  ASSERT_TRUE(statement.step());
  EXPECT_EQ(statement.columnText(0), c.sqlType);
  if (c.length >= 0) {
    EXPECT_EQ(statement.columnInt(1), c.length);
  } else {
    EXPECT_TRUE(statement.columnIsNull(1));
  }
  std::visit(
      [&](const auto& value) {
        using T = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<T, std::int64_t>) {
          EXPECT_EQ(statement.columnInt(2), value);
        } else if constexpr (std::is_same_v<T, double>) {
          EXPECT_EQ(statement.columnDouble(3), value);
        } else if constexpr (std::is_same_v<T, std::string>) {
          EXPECT_EQ(statement.columnText(4), value);
        } else if constexpr (std::is_same_v<T, Bytes>) {
          EXPECT_EQ(statement.columnBlob(5), value);
        } else {
          EXPECT_TRUE(statement.columnIsNull(2));
          EXPECT_EQ(statement.columnText(4), "");
          EXPECT_TRUE(statement.columnBlob(5).empty());
        }
      },
      c.value);
  EXPECT_FALSE(statement.step());
}

INSTANTIATE_TEST_SUITE_P(Values, SQLValueRoundTripTest,
                         ::testing::Values(RoundTrip{"Integer", std::int64_t{-9007199254740993},
                                                     "integer", 17},
                                           RoundTrip{"Double", 1741500000.25, "real", 13},
                                           RoundTrip{"Text", std::string("Grüße"), "text", 5},
                                           RoundTrip{"EmptyText", std::string(), "text", 0},
                                           RoundTrip{"Blob", Bytes{0, 1, 2, 255}, "blob", 4},
                                           RoundTrip{"EmptyBlobIsNotNull", Bytes{}, "blob", 0},
                                           RoundTrip{"Null", SQLNull{}, "null", -1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SQLiteDBTest, RebindingClearsEveryEarlierValue) {
  Statement statement = db->prepare("SELECT ?, ?");
  statement.bind({std::int64_t{1}, std::string("first")});
  ASSERT_TRUE(statement.step());
  EXPECT_EQ(statement.columnInt(0), 1);
  EXPECT_EQ(statement.columnText(1), "first");

  statement.bind({std::int64_t{2}});
  ASSERT_TRUE(statement.step());
  EXPECT_EQ(statement.columnInt(0), 2);
  EXPECT_TRUE(statement.columnIsNull(1));
  EXPECT_FALSE(statement.step());

  statement.bind({});
  ASSERT_TRUE(statement.step());
  EXPECT_TRUE(statement.columnIsNull(0));
}

TEST_F(SQLiteDBTest, OneStatementBoundOncePerRow) {
  db->exec("INSERT INTO t(k, x) VALUES('a', 1), ('b', 2), ('c', 3)");
  Statement statement = db->prepare("SELECT x FROM t WHERE k = ?");
  std::vector<std::int64_t> found;
  for (const char* key : {"c", "missing", "a"}) {
    statement.bind({std::string(key)});
    if (statement.step()) {
      found.push_back(statement.columnInt(0));
    }
  }
  EXPECT_EQ(found, (std::vector<std::int64_t>{3, 1}));
}

TEST_F(SQLiteDBTest, FailedBindKeepsEarlierValuesAndReportsRange) {
  Statement statement = db->prepare("SELECT ?");
  const SQLiteError error = expectSQLiteError([&] {
    statement.bind({std::int64_t{7}, std::int64_t{8}});
  });
  EXPECT_EQ(error.code(), SQLITE_RANGE);
  ASSERT_TRUE(statement.step());
  EXPECT_EQ(statement.columnInt(0), 7);
}

TEST_F(SQLiteDBTest, ConstraintViolationsRaiseCode19WithSQLiteMessage) {
  const SQLiteError notNull = expectSQLiteError([&] {
    db->run("INSERT INTO t(k, x) VALUES(?, ?)", {std::string("a"), SQLNull{}});
  });
  EXPECT_EQ(notNull.code(), 19);
  EXPECT_EQ(notNull.message(), "NOT NULL constraint failed: t.x");
  EXPECT_STREQ(notNull.what(), "SQLite 19: NOT NULL constraint failed: t.x");

  db->run("INSERT INTO t(k, x) VALUES(?, ?)", {std::string("a"), std::int64_t{1}});
  const SQLiteError unique = expectSQLiteError([&] {
    db->run("INSERT INTO t(k, x) VALUES(?, ?)", {std::string("a"), std::int64_t{2}});
  });
  EXPECT_EQ(unique.code(), 19);
  EXPECT_STREQ(unique.what(), "SQLite 19: UNIQUE constraint failed: t.k");
  EXPECT_EQ(sqlite3_next_stmt(db->handle(), nullptr), nullptr) << "a failed run left a statement";
}

TEST_F(SQLiteDBTest, RunOfSelectDiscardsRowsAndReleasesTheStatement) {
  db->exec("INSERT INTO t(k, x) VALUES('a', 1), ('b', 2)");
  db->run("SELECT * FROM t WHERE x > ?", {std::int64_t{0}});
  EXPECT_EQ(sqlite3_next_stmt(db->handle(), nullptr), nullptr);
}

TEST_F(SQLiteDBTest, PrepareOfEmptyOrCommentOnlyTextFails) {
  for (const char* sql : {"", "   ", "-- nothing here"}) {
    SCOPED_TRACE(sql);
    expectSQLiteError([&] { db->prepare(sql); });
  }
  const SQLiteError error = expectSQLiteError([&] { db->prepare("SELEC 1"); });
  EXPECT_EQ(error.code(), SQLITE_ERROR);
}

TEST_F(SQLiteDBTest, StepFailureInARowLoopRaises) {
  Statement statement = db->prepare("SELECT abs(?)");
  statement.bind({std::numeric_limits<std::int64_t>::min()});
  const SQLiteError error = expectSQLiteError([&] {
    while (statement.step()) {
    }
  });
  EXPECT_EQ(error.code(), SQLITE_ERROR);
  EXPECT_EQ(error.message(), "integer overflow");
}

TEST_F(SQLiteDBTest, NullColumnsReadAsEmpty) {
  Statement statement = db->prepare("SELECT NULL, NULL, x'', ''");
  ASSERT_TRUE(statement.step());
  EXPECT_EQ(statement.columnText(0), "");
  EXPECT_TRUE(statement.columnBlob(1).empty());
  EXPECT_TRUE(statement.columnBlob(2).empty());
  EXPECT_EQ(statement.columnInt(0), 0);
  EXPECT_FALSE(statement.columnIsNull(2));
}

TEST_F(SQLiteDBTest, StatementKeepsItsConnectionAlive) {
  db->exec("INSERT INTO t(k, x) VALUES('a', 42)");
  Statement statement = db->prepare("SELECT x FROM t");
  const std::weak_ptr<SQLiteDB> weak = db;
  db.reset();
  ASSERT_FALSE(weak.expired());
  ASSERT_TRUE(statement.step());
  EXPECT_EQ(statement.columnInt(0), 42);
  statement = Statement(nullptr, nullptr);
  EXPECT_TRUE(weak.expired());
}

TEST(SQLiteErrorTest, DescriptionAndEquality) {
  const SQLiteError error(5, "database is locked");
  EXPECT_STREQ(error.what(), "SQLite 5: database is locked");
  EXPECT_EQ(error, SQLiteError(5, "database is locked"));
  EXPECT_FALSE(error == SQLiteError(6, "database is locked"));
  EXPECT_STREQ(SQLiteError(-3, "x").what(), "SQLite -3: x");
}

}  // namespace
}  // namespace vistrel
