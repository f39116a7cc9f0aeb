#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "VistrelKit/base/Bytes.h"
#include "VistrelKit/base/Date.h"
#include "VistrelKit/library/SQLiteDB.h"

namespace vistrel {

// The SQL text and values of a search's candidate query.
struct SearchSQL {
  std::string text;
  std::vector<SQLValue> values;
};

// The candidate query for a match expression (empty: no text condition), an application tag and a
// time range, newest first. With a text condition it asks for more candidates than limit, since
// some fail the check against the decrypted text.
SearchSQL searchSQL(const std::string& matchExpression, const std::optional<Bytes>& appTag,
                    std::optional<Date> start, std::optional<Date> end, std::int64_t limit);

}  // namespace vistrel
