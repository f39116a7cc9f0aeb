// The reading commands. They open an existing library only and never write to it or to the data
// folder.

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>

#include "Vistrel/cli/Arguments.h"
#include "Vistrel/cli/Commands.h"
#include "Vistrel/cli/TerminalText.h"
#include "VistrelKit/base/Base64.h"
#include "VistrelKit/base/DateRange.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/search/SearchQuery.h"

namespace vistrel::cli {

extern const std::string_view searchHelp =
    "Usage: vistrel-cli search [--app APP] [--range today|week|month|all] [--limit N] QUERY...\n"
    "\n"
    "Finds frames whose text has every word of the query at the start of one of its words, in\n"
    "any order; \"quoted words\" must follow each other. The words are joined by spaces, so quote\n"
    "a phrase for the shell as well: vistrel-cli search '\"budget review\"'. Without words, lists\n"
    "the newest frames.\n"
    "\n"
    "  --app APP    only this application: its tag (Base64, from `apps`), its application ID or\n"
    "               its name (letter case ignored)\n"
    "  --range R    today, the last 7 days (week), the last 30 days (month) or all (default)\n"
    "  --limit N    at most N results (default 150)\n"
    "\n"
    "With --json: an array of {\"id\", \"date\", \"appName\", \"bundleID\", \"title\", "
    "\"snippet\",\n"
    "\"matchingLines\"}, newest first; \"date\" in seconds since 1970.\n";

extern const std::string_view showHelp =
    "Usage: vistrel-cli show ID\n"
    "\n"
    "Prints a frame: when, which application and window, its size and its text lines.\n"
    "With --json: {\"id\", \"date\", \"appName\", \"bundleID\", \"title\", \"width\", \"height\",\n"
    "\"lines\": [{\"text\", \"x\", \"y\", \"w\", \"h\"}]}; line boxes are fractions of the "
    "image.\n";

extern const std::string_view imageHelp =
    "Usage: vistrel-cli image ID OUT.jpg\n"
    "\n"
    "Writes the frame's stored JPEG image to OUT.jpg (readable by you only), replacing it.\n";

extern const std::string_view statsHelp =
    "Usage: vistrel-cli stats\n"
    "\n"
    "Counts the frames, their stored bytes, the oldest and newest and today's frames.\n"
    "With --json: {\"frames\", \"bytes\", \"oldest\", \"newest\", \"today\"}.\n";

extern const std::string_view appsHelp =
    "Usage: vistrel-cli apps\n"
    "\n"
    "Lists the applications that have frames, most frames first.\n"
    "With --json: [{\"tag\", \"name\", \"bundleID\", \"count\"}], the tag in Base64.\n";

extern const std::string_view stampsHelp =
    "Usage: vistrel-cli stamps [--day YYYY-MM-DD]\n"
    "\n"
    "Lists the frames of one local calendar day (every frame without --day), oldest first.\n"
    "With --json: [{\"id\", \"date\", \"bytes\"}].\n";

namespace {

void requireNoPositionals(const Arguments& args, const char* command) {
  if (!args.positionals().empty())
    throw UsageError(std::string(command) + " takes no arguments, not \"" +
                     args.positionals().front() + "\".");
}

std::int64_t parseID(const std::string& text) {
  const std::int64_t id = parseInteger(text, "A frame ID");
  if (id < 1)
    throw UsageError("A frame ID is a number from 1, not \"" + text + "\".");
  return id;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b),
                                                     U_FOLD_CASE_DEFAULT) == 0;
}

// The tag of the application the user named: a tag first, then an application ID, then a name.
// Several applications of the same name cannot be told apart by it and are refused.
Bytes appTag(FrameLibrary& library, const std::string& wanted) {
  const std::vector<AppEntry> apps = library.apps();
  for (const AppEntry& app : apps) {
    if (base64Encode(app.tag) == wanted)
      return app.tag;
  }
  const std::vector<std::function<bool(const AppEntry&)>> tests = {
      [&](const AppEntry& app) { return app.bundleID && equalIgnoringCase(*app.bundleID, wanted); },
      [&](const AppEntry& app) { return equalIgnoringCase(app.name, wanted); },
  };
  for (const auto& test : tests) {
    std::vector<const AppEntry*> found;
    for (const AppEntry& app : apps) {
      if (test(app))
        found.push_back(&app);
    }
    if (found.size() == 1)
      return found.front()->tag;
    if (found.size() > 1)
      throw CommandFailure("Several applications are called \"" + wanted +
                           "\"; give the tag that `vistrel-cli apps --json` shows.");
  }
  throw CommandFailure("No application called \"" + wanted + "\" has frames.");
}

nlohmann::ordered_json lineJSON(const TextLine& line) {
  return {{"text", line.text}, {"x", line.x}, {"y", line.y}, {"w", line.w}, {"h", line.h}};
}

void printWritten(Session& session, const std::filesystem::path& file, std::size_t bytes) {
  if (session.json())
    session.printJSON({{"file", file.string()}, {"bytes", bytes}});
  else
    session.out() << "Wrote " << bytes << " bytes to " << file.string() << '\n';
}

// Writes the whole content to a new file beside the target and renames it over the target: the
// result is readable by its owner only whatever the old file's mode was, a link at the target is
// replaced rather than followed, and a failed write leaves the old file as it was.
void writePrivateFile(const std::filesystem::path& file, const Bytes& bytes) {
  const auto failure = [&](int error) {
    return CommandFailure("Couldn't write " + file.string() + ": " + std::strerror(error));
  };
  std::string temporary = file.string() + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0)
    throw failure(errno);
  const auto abandon = [&](int error) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return failure(error);
  };
  if (::fchmod(fd, 0600) != 0)
    throw abandon(errno);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      throw abandon(errno);
    written += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0)
    throw abandon(errno);
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw failure(error);
  }
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw failure(error);
  }
}

}  // namespace

int runSearch(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {{"--app"}, {"--range"}, {"--limit"}});
  std::string text;
  for (const std::string& word : args.positionals())
    text += (text.empty() ? "" : " ") + word;
  DateRange range = DateRange::all;
  if (const auto text = args.value("--range")) {
    const std::optional<DateRange> named = dateRangeFromRawValue(*text);
    if (!named)
      throw UsageError("--range must be today, week, month or all, not \"" + *text + "\".");
    range = *named;
  }
  std::int64_t limit = 150;
  if (args.value("--limit")) {
    limit = parseInteger(*args.value("--limit"), "--limit");
    if (limit < 1)
      throw UsageError("--limit must be at least 1.");
  }

  const auto library = session.openLibrary();
  std::optional<Bytes> tag;
  if (args.value("--app"))
    tag = appTag(*library, *args.value("--app"));
  const SearchQuery query = SearchQuery::parse(text);
  const std::vector<FrameSummary> hits = library->search(
      query, tag, earliestDate(range, now(), library->calendar()), std::nullopt, limit);

  if (session.json()) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FrameSummary& hit : hits) {
      list.push_back({{"id", hit.id},
                      {"date", secondsSince1970(hit.date)},
                      {"appName", hit.meta.appName},
                      {"bundleID", jsonText(hit.meta.bundleID)},
                      {"title", jsonText(hit.meta.title)},
                      {"snippet", hit.snippet()},
                      {"matchingLines", hit.matchingLines}});
    }
    session.printJSON(list);
    return 0;
  }
  std::ostream& out = session.out();
  if (hits.empty())
    out << "No frames found.\n";
  for (const FrameSummary& hit : hits) {
    out << '#' << hit.id << "  " << localTimeText(hit.date) << "  "
        << terminalSafe(hit.meta.appName);
    if (hit.meta.title)
      out << " - " << terminalSafe(*hit.meta.title);
    out << "\n    " << terminalSafe(hit.snippet()) << '\n';
  }
  return 0;
}

int runShow(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {});
  if (args.positionals().size() != 1)
    throw UsageError("show needs one frame ID.");
  const std::int64_t id = parseID(args.positionals().front());
  const auto library = session.openLibrary();
  const std::optional<FrameSummary> frame = library->summary(id, SearchQuery{});
  if (!frame)
    throw CommandFailure("No frame " + std::to_string(id) + ".");

  const FrameMeta& meta = frame->meta;
  if (session.json()) {
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (const TextLine& line : meta.lines)
      lines.push_back(lineJSON(line));
    session.printJSON({{"id", frame->id},
                       {"date", secondsSince1970(frame->date)},
                       {"appName", meta.appName},
                       {"bundleID", jsonText(meta.bundleID)},
                       {"title", jsonText(meta.title)},
                       {"width", meta.width},
                       {"height", meta.height},
                       {"lines", lines}});
    return 0;
  }
  std::ostream& out = session.out();
  out << "Frame " << frame->id << ", " << localTimeText(frame->date) << '\n'
      << "App:   " << terminalSafe(meta.appName)
      << (meta.bundleID ? " (" + terminalSafe(*meta.bundleID) + ")" : "") << '\n';
  if (meta.title)
    out << "Title: " << terminalSafe(*meta.title) << '\n';
  out << "Size:  " << meta.width << " x " << meta.height << '\n'
      << meta.lines.size() << (meta.lines.size() == 1 ? " text line" : " text lines")
      << (meta.lines.empty() ? "\n" : ":\n");
  for (const TextLine& line : meta.lines)
    out << "  " << terminalSafe(line.text) << '\n';
  return 0;
}

int runImage(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {});
  if (args.positionals().size() != 2)
    throw UsageError("image needs a frame ID and an output file.");
  const std::int64_t id = parseID(args.positionals()[0]);
  const std::filesystem::path file = args.positionals()[1];
  const auto library = session.openLibrary();
  const std::optional<Bytes> jpeg = library->image(id);
  if (!jpeg)
    throw CommandFailure("No frame " + std::to_string(id) + ".");
  writePrivateFile(file, *jpeg);
  printWritten(session, file, jpeg->size());
  return 0;
}

int runStats(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {});
  requireNoPositionals(args, "stats");
  const auto library = session.openLibrary();
  const LibraryStats stats = library->stats(now());
  if (session.json()) {
    session.printJSON({{"frames", stats.frames},
                       {"bytes", stats.bytes},
                       {"oldest", jsonDate(stats.oldest)},
                       {"newest", jsonDate(stats.newest)},
                       {"today", stats.today}});
    return 0;
  }
  std::ostream& out = session.out();
  out << "Frames: " << stats.frames << " (" << stats.today << " today)\n"
      << "Size:   " << stats.bytes << " bytes\n";
  if (stats.oldest && stats.newest)
    out << "From:   " << localTimeText(*stats.oldest) << '\n'
        << "To:     " << localTimeText(*stats.newest) << '\n';
  return 0;
}

int runApps(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {});
  requireNoPositionals(args, "apps");
  const auto library = session.openLibrary();
  const std::vector<AppEntry> apps = library->apps();
  if (session.json()) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const AppEntry& app : apps) {
      list.push_back({{"tag", base64Encode(app.tag)},
                      {"name", app.name},
                      {"bundleID", jsonText(app.bundleID)},
                      {"count", app.count}});
    }
    session.printJSON(list);
    return 0;
  }
  if (apps.empty())
    session.out() << "No applications have frames.\n";
  for (const AppEntry& app : apps) {
    session.out() << app.count << (app.count == 1 ? " frame   " : " frames  ")
                  << terminalSafe(app.name)
                  << (app.bundleID ? " (" + terminalSafe(*app.bundleID) + ")" : "") << '\n';
  }
  return 0;
}

int runStamps(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {{"--day"}});
  requireNoPositionals(args, "stamps");
  // The library's calendar is the system's, fixed when it opens; a day that does not exist is a
  // usage error found before anything is opened.
  std::optional<Date> dayStart;
  if (const auto text = args.value("--day")) {
    static const std::regex shape("([0-9]{4})-([0-9]{2})-([0-9]{2})");
    std::smatch parts;
    if (!std::regex_match(*text, parts, shape))
      throw UsageError("--day must be a date as YYYY-MM-DD, not \"" + *text + "\".");
    dayStart = Calendar::systemDefault().startOf(
        Calendar::Day{std::stoi(parts[1]), std::stoi(parts[2]), std::stoi(parts[3])});
    if (!dayStart)
      throw UsageError("There is no day " + *text + ".");
  }
  const auto library = session.openLibrary();
  const std::vector<FrameStamp> stamps =
      dayStart ? library->dayStamps(*dayStart) : library->allStamps();
  if (session.json()) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FrameStamp& stamp : stamps)
      list.push_back(
          {{"id", stamp.id}, {"date", secondsSince1970(stamp.date)}, {"bytes", stamp.bytes}});
    session.printJSON(list);
    return 0;
  }
  if (stamps.empty())
    session.out() << "No frames.\n";
  for (const FrameStamp& stamp : stamps)
    session.out() << '#' << stamp.id << "  " << localTimeText(stamp.date) << "  " << stamp.bytes
                  << " bytes\n";
  return 0;
}

}  // namespace vistrel::cli
