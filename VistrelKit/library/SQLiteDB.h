#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "VistrelKit/base/Bytes.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vistrel {

// The one error of the database layer: SQLite's own result code and message.
// what() is "SQLite <code>: <message>", the text shown to the user.
class SQLiteError : public std::runtime_error {
 public:
  SQLiteError(std::int32_t code, std::string message);

  std::int32_t code() const { return code_; }
  const std::string& message() const { return message_; }

  friend bool operator==(const SQLiteError& a, const SQLiteError& b) {
    return a.code_ == b.code_ && a.message_ == b.message_;
  }

 private:
  std::int32_t code_;
  std::string message_;
};

// SQL NULL as a bindable value.
using SQLNull = std::monostate;

// A value bound to a positional "?" parameter: integer, float, UTF-8 text, blob or NULL.
// An empty Bytes is bound as a zero-length blob, never as NULL.
using SQLValue = std::variant<std::int64_t, double, std::string, Bytes, SQLNull>;

class Statement;

// One connection to a database file, in serialized mode with a 3000 ms busy timeout.
// Always owned through std::shared_ptr: every Statement keeps its connection alive, and the
// connection is closed (sqlite3_close_v2) when the last owner goes away.
// The connection is thread-safe at SQLite's level, but a Statement must only be used by one
// thread at a time; the owner of the connection serializes its operations.
class SQLiteDB : public std::enable_shared_from_this<SQLiteDB> {
  struct Passkey {};

 public:
  // Opens or creates the file. Raises SQLiteError; a failed open leaves no handle open.
  static std::shared_ptr<SQLiteDB> open(const std::filesystem::path& path);

  SQLiteDB(Passkey, sqlite3* handle);
  SQLiteDB(const SQLiteDB&) = delete;
  SQLiteDB& operator=(const SQLiteDB&) = delete;

  // Runs a script of one or more statements separated by semicolons; rows are ignored.
  void exec(const std::string& sql);
  // Compiles the first statement of the text. An empty or comment-only text is an error.
  Statement prepare(const std::string& sql);
  // Prepares, binds and steps to the end, discarding rows; the statement is finalized before
  // returning, also on failure.
  void run(const std::string& sql, const std::vector<SQLValue>& values = {});

  sqlite3* handle() const { return handle_.get(); }
  // The connection's current error code and message as an SQLiteError.
  SQLiteError lastError() const;

 private:
  struct Closer {
    void operator()(sqlite3* handle) const;
  };
  std::unique_ptr<sqlite3, Closer> handle_;
};

// One prepared statement. Move-only; finalized on destruction. Holds a strong reference to
// its connection, so the connection outlives it.
class Statement {
 public:
  Statement(std::shared_ptr<SQLiteDB> db, sqlite3_stmt* stmt);
  Statement(Statement&&) noexcept = default;
  Statement& operator=(Statement&& other) noexcept {
    stmt_ = std::move(other.stmt_);  // finalizes the old statement before its connection goes
    db_ = std::move(other.db_);
    return *this;
  }

  // Resets the statement, clears all bindings and binds values[i] to parameter i + 1.
  // The first failing bind raises; earlier values stay bound. An empty list only resets.
  void bind(const std::vector<SQLValue>& values);
  // True on a row, false when done; anything else raises.
  bool step();

  // Column readers for the current row, columns counted from 0.
  std::int64_t columnInt(int column) const;
  double columnDouble(int column) const;
  // NULL reads as the empty string.
  std::string columnText(int column) const;
  // NULL and a zero-length blob both read as an empty buffer.
  Bytes columnBlob(int column) const;
  bool columnIsNull(int column) const;

  sqlite3_stmt* handle() const { return stmt_.get(); }

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* stmt) const;
  };
  // Declared first so it is released last, after the statement is finalized.
  std::shared_ptr<SQLiteDB> db_;
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
};

}  // namespace vistrel
