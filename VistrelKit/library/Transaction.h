#pragma once

#include <type_traits>

#include "VistrelKit/library/SQLiteDB.h"

namespace vistrel {

// Runs body between "BEGIN IMMEDIATE" and "COMMIT". If the body or the COMMIT raises, runs
// "ROLLBACK" (its own failure ignored) and raises the original error. The caller serialises
// access to db.
template <typename Body>
std::invoke_result_t<Body&> inTransaction(SQLiteDB& db, Body&& body) {
  db.exec("BEGIN IMMEDIATE");
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<Body&>>) {
      body();
      db.exec("COMMIT");
    } else {
      auto result = body();
      db.exec("COMMIT");
      return result;
    }
  } catch (...) {
    try {
      db.exec("ROLLBACK");
    } catch (...) {
      // The original failure is the one worth reporting.
    }
    throw;
  }
}

}  // namespace vistrel
