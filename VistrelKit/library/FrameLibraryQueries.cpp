#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/SQLiteDB.h"
#include "VistrelKit/library/SearchSQL.h"
#include "VistrelKit/search/Highlighter.h"
#include "VistrelKit/base/ParallelWork.h"
#include "VistrelKit/base/PrivateFiles.h"
#include "VistrelKit/library/RecordDecodingError.h"
#include "VistrelKit/keys/VistrelCryptoError.h"

namespace vistrel {

namespace fs = std::filesystem;

namespace {

// Candidates fetched per wanted result, and at least, when the index narrows the search.
constexpr std::int64_t candidatesPerResult = 20;
constexpr std::int64_t minimumCandidates = 2000;
// Candidates opened and checked at once (on workThreads() threads); at most one batch beyond the
// last result is opened in vain.
constexpr std::size_t candidateBatch = 64;

std::int64_t candidateLimit(std::int64_t limit) {
  if (limit > std::numeric_limits<std::int64_t>::max() / candidatesPerResult) {
    return std::numeric_limits<std::int64_t>::max();
  }
  return std::max(candidatesPerResult * limit, minimumCandidates);
}

}  // namespace

SearchSQL searchSQL(const std::string& matchExpression, const std::optional<Bytes>& appTag,
                    std::optional<Date> start, std::optional<Date> end, std::int64_t limit) {
  const bool hasQuery = !matchExpression.empty();
  SearchSQL sql;
  std::vector<std::string> conditions;
  if (hasQuery) {
    // Walking a time index newest first and keeping the frames the text index lists yields the
    // first candidates at once; joining the text index to the frames made SQLite sort every
    // frame with the words by time first (a tenth of a second for common words in 100,000).
    sql.text = std::string("SELECT f.id, f.ts FROM frames f INDEXED BY ") +
               (appTag ? "frames_app" : "frames_ts");
    conditions.emplace_back("f.id IN (SELECT rowid FROM frame_index WHERE frame_index MATCH ?)");
    sql.values.emplace_back(matchExpression);
  } else {
    sql.text = "SELECT f.id, f.ts FROM frames f";
  }
  if (appTag) {
    conditions.emplace_back("f.app_tag = ?");
    sql.values.emplace_back(*appTag);
  }
  if (start) {
    conditions.emplace_back("f.ts >= ?");
    sql.values.emplace_back(secondsSince1970(*start));
  }
  if (end) {
    conditions.emplace_back("f.ts < ?");
    sql.values.emplace_back(secondsSince1970(*end));
  }
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    sql.text += i == 0 ? " WHERE " : " AND ";
    sql.text += conditions[i];
  }
  sql.text += " ORDER BY f.ts DESC, f.id DESC LIMIT ?";
  sql.values.emplace_back(hasQuery ? candidateLimit(limit) : limit);
  return sql;
}

std::vector<FrameSummary> FrameLibrary::search(const SearchQuery& query,
                                               const std::optional<Bytes>& appTag,
                                               std::optional<Date> start, std::optional<Date> end,
                                               std::int64_t limit) {
  const std::lock_guard lock(mutex_);
  const bool hasQuery = !query.isEmpty();
  const std::string expression =
      hasQuery ? query.matchExpression([this](std::string_view term) { return keys_.token(term); })
               : std::string();
  const SearchSQL sql = searchSQL(expression, appTag, start, end, limit);
  Statement candidates = db_->prepare(sql.text);
  candidates.bind(sql.values);
  // Sealed records are read one candidate at a time, the thumbnail only for a result.
  Statement metas = db_->prepare("SELECT meta FROM frames WHERE id = ?");
  Statement thumbs = db_->prepare("SELECT thumb FROM frames WHERE id = ?");

  std::vector<FrameSummary> results;
  const auto wanted = [&] { return static_cast<std::int64_t>(results.size()) < limit; };
  bool more = wanted();
  while (more && wanted()) {
    std::vector<Candidate> batch;
    while (batch.size() < candidateBatch && (more = candidates.step())) {
      const std::int64_t id = candidates.columnInt(0);
      metas.bind({id});
      if (metas.step()) {
        batch.push_back({id, dateFromSeconds1970(candidates.columnDouble(1)), metas.columnBlob(0)});
      }
    }
    // Opening and checking the candidates is most of a search's time and needs no database.
    forEachInParallel(batch.size(), workThreads(),
                      [&](std::size_t, std::size_t i) { verify(batch[i], query); });
    for (Candidate& candidate : batch) {
      if (!wanted()) {
        break;
      }
      if (candidate.summary) {
        candidate.summary->thumbnail = openThumbnail(thumbs, candidate.summary->id);
        results.push_back(std::move(*candidate.summary));
      }
    }
  }
  return results;
}

void FrameLibrary::verify(Candidate& candidate, const SearchQuery& query) const {
  FrameMeta meta;
  try {
    meta = decodeMeta(candidate.sealedMeta, candidate.id);
  } catch (const VistrelCryptoError&) {
    return;
  } catch (const RecordDecodingError&) {
    return;
  }
  const bool hasQuery = !query.isEmpty();
  if (hasQuery && !query.matches(meta.indexText())) {
    return;
  }
  FrameSummary summary;
  summary.id = candidate.id;
  summary.date = candidate.date;
  summary.matchingLines =
      hasQuery ? Highlighter::linesMatching(meta.lines, query) : std::vector<int>{};
  summary.meta = std::move(meta);
  candidate.summary = std::move(summary);
}

Bytes FrameLibrary::openThumbnail(Statement& thumbs, std::int64_t id) const {
  thumbs.bind({id});
  if (!thumbs.step()) {
    return {};
  }
  try {
    return keys_.unseal(thumbs.columnBlob(0), sealContext::frameThumb(id));
  } catch (const VistrelCryptoError&) {
    return {};  // Listed without a picture rather than not at all.
  }
}

std::optional<FrameSummary> FrameLibrary::summary(std::int64_t id, const SearchQuery& query) {
  const std::lock_guard lock(mutex_);
  Statement statement = db_->prepare("SELECT ts, meta, thumb FROM frames WHERE id = ?");
  statement.bind({id});
  if (!statement.step()) {
    return std::nullopt;
  }
  FrameSummary summary;
  summary.id = id;
  summary.meta = decodeMeta(statement.columnBlob(1), id);
  summary.thumbnail = keys_.unseal(statement.columnBlob(2), sealContext::frameThumb(id));
  summary.date = dateFromSeconds1970(statement.columnDouble(0));
  if (!query.isEmpty()) {
    summary.matchingLines = Highlighter::linesMatching(summary.meta.lines, query);
  }
  return summary;
}

FrameMeta FrameLibrary::decodeMeta(const Bytes& sealed, std::int64_t id) const {
  const Bytes json = keys_.unseal(sealed, sealContext::frameMeta(id));
  return FrameMeta::decode(
      std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
}

std::optional<Bytes> FrameLibrary::image(std::int64_t id) {
  const std::lock_guard lock(mutex_);
  std::string relative;
  {
    Statement statement = db_->prepare("SELECT file FROM frames WHERE id = ?");
    statement.bind({id});
    if (!statement.step()) {
      return std::nullopt;
    }
    relative = statement.columnText(0);
  }
  const std::optional<fs::path> file = frameFile(relative);
  if (!file) {
    throw VistrelCryptoError::damaged();
  }
  return keys_.unseal(readFile(*file), sealContext::frameImage(id));
}

std::vector<FrameStamp> FrameLibrary::stamps(Date start, Date end) {
  const std::lock_guard lock(mutex_);
  return stampsLocked(start, end);
}

std::vector<FrameStamp> FrameLibrary::stampsLocked(Date start, Date end) {
  Statement statement =
      db_->prepare("SELECT id, ts, bytes FROM frames WHERE ts >= ? AND ts < ? ORDER BY ts, id");
  statement.bind({secondsSince1970(start), secondsSince1970(end)});
  std::vector<FrameStamp> result;
  while (statement.step()) {
    result.push_back(FrameStamp{statement.columnInt(0),
                                dateFromSeconds1970(statement.columnDouble(1)),
                                statement.columnInt(2)});
  }
  return result;
}

std::vector<FrameStamp> FrameLibrary::dayStamps(Date date) {
  const std::lock_guard lock(mutex_);
  const Date start = calendar_.startOfDay(date);
  const Date end = calendar_.addingDays(start, 1).value_or(start + Seconds(86400.0));
  return stampsLocked(start, end);
}

std::vector<FrameStamp> FrameLibrary::allStamps() {
  const std::lock_guard lock(mutex_);
  return stampsLocked(Date::min(), Date::max());
}

std::vector<AppEntry> FrameLibrary::apps() {
  const std::lock_guard lock(mutex_);
  Statement statement = db_->prepare(
      "SELECT a.tag, a.meta, COUNT(f.id) AS n FROM apps a JOIN frames f ON f.app_tag = a.tag "
      "GROUP BY a.tag ORDER BY n DESC");
  std::vector<AppEntry> result;
  while (statement.step()) {
    const Bytes tag = statement.columnBlob(0);
    AppRecord record;
    try {
      const Bytes json = keys_.unseal(statement.columnBlob(1), sealContext::app(tag));
      record = AppRecord::decode(
          std::string_view(reinterpret_cast<const char*>(json.data()), json.size()));
    } catch (const VistrelCryptoError&) {
      continue;
    } catch (const RecordDecodingError&) {
      continue;
    }
    result.push_back(AppEntry{tag, record.name, record.bundleID, statement.columnInt(2)});
  }
  return result;
}

LibraryStats FrameLibrary::stats(Date now) {
  const std::lock_guard lock(mutex_);
  LibraryStats stats;
  {
    Statement statement =
        db_->prepare("SELECT COUNT(*), IFNULL(SUM(bytes), 0), MIN(ts), MAX(ts) FROM frames");
    if (statement.step()) {
      stats.frames = statement.columnInt(0);
      stats.bytes = statement.columnInt(1);
      if (stats.frames >= 1) {
        stats.oldest = dateFromSeconds1970(statement.columnDouble(2));
        stats.newest = dateFromSeconds1970(statement.columnDouble(3));
      }
    }
  }
  Statement statement = db_->prepare("SELECT COUNT(*) FROM frames WHERE ts >= ?");
  statement.bind({secondsSince1970(calendar_.startOfDay(now))});
  if (statement.step()) {
    stats.today = statement.columnInt(0);
  }
  return stats;
}

}  // namespace vistrel
