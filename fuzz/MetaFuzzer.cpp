// Frame metadata and application records are JSON that was sealed by this program; a damaged or
// planted record must give RecordDecodingError (the frame is then skipped), never anything else.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "VistrelKit/library/FrameMetaScanner.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/search/Highlighter.h"
#include "VistrelKit/library/RecordDecodingError.h"
#include "VistrelKit/search/SearchQuery.h"
#include "fuzz/FuzzCheck.h"

using namespace vistrel;

namespace {

// The fast scan of the plain shape must read exactly what the general decoder reads, or give up.
void fuzzScanAgainstGeneralDecoder(std::string_view text) {
  const std::optional<FrameMeta> scanned = scanPlainFrameMeta(text);
  if (!scanned) {
    return;
  }
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  FUZZ_CHECK(!json.is_discarded());
  std::optional<FrameMeta> general;
  try {
    general = FrameMeta::fromJSON(json);
  } catch (const RecordDecodingError&) {
  }
  FUZZ_CHECK(general.has_value());
  FUZZ_CHECK(*general == *scanned);
  for (std::size_t i = 0; i < scanned->lines.size(); ++i) {
    FUZZ_CHECK(std::signbit(scanned->lines[i].x) == std::signbit(general->lines[i].x));
  }
}

void fuzzMeta(std::string_view text) {
  fuzzScanAgainstGeneralDecoder(text);
  FrameMeta meta;
  try {
    meta = FrameMeta::decode(text);
  } catch (const RecordDecodingError&) {
    return;
  }
  // What was read must store again and read back; non-finite boxes are written as 0, so compare
  // from the second generation on.
  const FrameMeta once = FrameMeta::decode(meta.encode());
  const FrameMeta twice = FrameMeta::decode(once.encode());
  FUZZ_CHECK(once == twice);

  // What the library derives from an opened frame.
  (void)meta.indexText();
  FrameSummary summary{1, Date{}, meta, Bytes{}, {}};
  (void)summary.snippet();
  const SearchQuery query = SearchQuery::parse("in \"lo re\" 44");
  summary.matchingLines = Highlighter::linesMatching(meta.lines, query);
  for (int index : summary.matchingLines)
    FUZZ_CHECK(index >= 0 && static_cast<std::size_t>(index) < meta.lines.size());
  (void)summary.snippet();
  (void)Highlighter::highlightBoxes(meta.lines, query);
}

void fuzzApp(std::string_view text) {
  AppRecord record;
  try {
    record = AppRecord::decode(text);
  } catch (const RecordDecodingError&) {
    return;
  }
  FUZZ_CHECK(AppRecord::decode(record.encode()) == record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzzMeta(text);
  fuzzApp(text);
  return 0;
}
