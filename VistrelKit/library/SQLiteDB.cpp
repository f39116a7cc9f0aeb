#include "VistrelKit/library/SQLiteDB.h"

#include <sqlite3.h>

#include <cstring>
#include <type_traits>

namespace vistrel {

namespace {

SQLiteError errorOf(sqlite3* handle) {
  return SQLiteError(sqlite3_errcode(handle), sqlite3_errmsg(handle));
}

// sqlite3_bind_blob treats a null pointer as NULL, so an empty buffer needs a real address.
const void* blobData(const Bytes& bytes) {
  static const std::uint8_t emptyArea = 0;
  return bytes.empty() ? &emptyArea : bytes.data();
}

}  // namespace

SQLiteError::SQLiteError(std::int32_t code, std::string message)
    : std::runtime_error("SQLite " + std::to_string(code) + ": " + message),
      code_(code),
      message_(std::move(message)) {}

void SQLiteDB::Closer::operator()(sqlite3* handle) const {
  sqlite3_close_v2(handle);
}

SQLiteDB::SQLiteDB(Passkey, sqlite3* handle) : handle_(handle) {}

std::shared_ptr<SQLiteDB> SQLiteDB::open(const std::filesystem::path& path) {
  sqlite3* raw = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  const int result = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  std::unique_ptr<sqlite3, Closer> handle(raw);
  if (result != SQLITE_OK) {
    throw SQLiteError(result, handle ? sqlite3_errmsg(handle.get()) : "open failed");
  }
  sqlite3_busy_timeout(handle.get(), 3000);
  return std::make_shared<SQLiteDB>(Passkey{}, handle.release());
}

SQLiteError SQLiteDB::lastError() const {
  return errorOf(handle_.get());
}

void SQLiteDB::exec(const std::string& sql) {
  if (sqlite3_exec(handle_.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    throw lastError();
  }
}

Statement SQLiteDB::prepare(const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  const int result = sqlite3_prepare_v2(handle_.get(), sql.c_str(), -1, &raw, nullptr);
  // Build the owner first so a statement is finalized on every path.
  Statement statement(shared_from_this(), raw);
  if (result != SQLITE_OK || raw == nullptr) {
    throw lastError();
  }
  return statement;
}

void SQLiteDB::run(const std::string& sql, const std::vector<SQLValue>& values) {
  Statement statement = prepare(sql);
  statement.bind(values);
  while (statement.step()) {
  }
}

void Statement::Finalizer::operator()(sqlite3_stmt* stmt) const {
  sqlite3_finalize(stmt);
}

Statement::Statement(std::shared_ptr<SQLiteDB> db, sqlite3_stmt* stmt)
    : db_(std::move(db)), stmt_(stmt) {}

void Statement::bind(const std::vector<SQLValue>& values) {
  sqlite3_stmt* stmt = stmt_.get();
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const int index = static_cast<int>(i) + 1;
    const int result = std::visit(
        [&](const auto& value) -> int {
          using T = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<T, std::int64_t>) {
            return sqlite3_bind_int64(stmt, index, value);
          } else if constexpr (std::is_same_v<T, double>) {
            return sqlite3_bind_double(stmt, index, value);
          } else if constexpr (std::is_same_v<T, std::string>) {
            return sqlite3_bind_text(stmt, index, value.c_str(), -1, SQLITE_TRANSIENT);
          } else if constexpr (std::is_same_v<T, Bytes>) {
            return sqlite3_bind_blob(stmt, index, blobData(value), static_cast<int>(value.size()),
                                     SQLITE_TRANSIENT);
          } else {
            return sqlite3_bind_null(stmt, index);
          }
        },
        values[i]);
    if (result != SQLITE_OK) {
      throw db_->lastError();
    }
  }
}

bool Statement::step() {
  const int result = sqlite3_step(stmt_.get());
  if (result == SQLITE_ROW) {
    return true;
  }
  if (result == SQLITE_DONE) {
    return false;
  }
  throw errorOf(sqlite3_db_handle(stmt_.get()));
}

std::int64_t Statement::columnInt(int column) const {
  return sqlite3_column_int64(stmt_.get(), column);
}

double Statement::columnDouble(int column) const {
  return sqlite3_column_double(stmt_.get(), column);
}

std::string Statement::columnText(int column) const {
  const unsigned char* text = sqlite3_column_text(stmt_.get(), column);
  return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

Bytes Statement::columnBlob(int column) const {
  // The pointer first: asking for the length first could convert the value afterwards.
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_.get(), column));
  const int length = sqlite3_column_bytes(stmt_.get(), column);
  if (length < 1 || data == nullptr) {
    return {};
  }
  return Bytes(data, data + length);
}

bool Statement::columnIsNull(int column) const {
  return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

}  // namespace vistrel
