// The deleting commands, with the ranges, selection and order of the application's own actions.
// None of them creates a library or a key.

#include <algorithm>
#include <climits>
#include <system_error>

#include "Vistrel/cli/Arguments.h"
#include "Vistrel/cli/Commands.h"
#include "VistrelKit/library/FrameLibrary.h"

namespace vistrel::cli {

extern const std::string_view deleteHelp =
    "Usage: vistrel-cli delete ID...\n"
    "\n"
    "Deletes the frames with these IDs (their rows, index entries and image files). IDs that do\n"
    "not exist are not counted. Prints how many were deleted; with --json {\"deleted\": N}.\n";

extern const std::string_view deleteRecentHelp =
    "Usage: vistrel-cli delete-recent MINUTES|today\n"
    "\n"
    "Deletes the frames of the last MINUTES minutes, or of today since midnight, up to a minute\n"
    "from now (so a frame being stored at this moment goes too). Prints how many were deleted;\n"
    "with --json {\"deleted\": N}.\n";

extern const std::string_view cleanupHelp =
    "Usage: vistrel-cli cleanup [--days N] [--cap-gb X]\n"
    "\n"
    "Deletes the frames older than N days, then the oldest of the rest until they take no more\n"
    "than X gigabytes (2^30 bytes). The defaults are the settings' retentionDays and capGB; as\n"
    "in the application, fewer than 1 day counts as 1 and less than 0.25 GB as 0.25.\n"
    "Prints how many were deleted; with --json {\"deleted\": N}.\n";

extern const std::string_view deleteEverythingHelp =
    "Usage: vistrel-cli delete-everything --yes\n"
    "\n"
    "Deletes the whole history (history.sqlite with its -wal and -shm files and the frames\n"
    "folder) and its key. config.json is kept. Capture is not started again. Prints\n"
    "{\"deleted\": true} with --json.\n";

namespace {

void printDeleted(Session& session, std::int64_t count) {
  if (session.json())
    session.printJSON({{"deleted", count}});
  else
    session.out() << (count == 1 ? "Deleted 1 frame.\n"
                                 : "Deleted " + std::to_string(count) + " frames.\n");
}

}  // namespace

int runDelete(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {});
  if (args.positionals().empty())
    throw UsageError("delete needs at least one frame ID.");
  std::vector<std::int64_t> ids;
  for (const std::string& word : args.positionals()) {
    const std::int64_t id = parseInteger(word, "A frame ID");
    if (id < 1)
      throw UsageError("A frame ID is a number from 1, not \"" + word + "\".");
    ids.push_back(id);
  }
  const auto library = session.openLibrary();
  printDeleted(session, library->remove(ids));
  // The application purges deleted frames' terms in the background; a command ends only once
  // they are gone, or the next open would have to finish it.
  library->waitForPurge();
  return 0;
}

int runDeleteRecent(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {});
  if (args.positionals().size() != 1)
    throw UsageError("delete-recent needs a number of minutes or \"today\".");
  const std::string& what = args.positionals().front();
  std::optional<std::int64_t> minutes;
  if (what != "today") {
    minutes = parseInteger(what, "MINUTES");
    if (*minutes < 1)
      throw UsageError("MINUTES must be at least 1.");
  }
  const auto library = session.openLibrary();
  const Date moment = now();
  const Date start = minutes ? moment - Seconds(static_cast<double>(*minutes) * 60.0)
                             : library->calendar().startOfDay(moment);
  printDeleted(session, library->deleteRange(start, moment + Seconds(60.0)));
  library->waitForPurge();
  return 0;
}

int runCleanup(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {{"--days"}, {"--cap-gb"}});
  if (!args.positionals().empty())
    throw UsageError("cleanup takes no arguments, not \"" + args.positionals().front() + "\".");
  VistrelConfig settings = session.settings();
  if (const auto days = args.value("--days"))
    settings.retentionDays =
        static_cast<int>(std::clamp<std::int64_t>(parseInteger(*days, "--days"), INT_MIN, INT_MAX));
  if (const auto cap = args.value("--cap-gb"))
    settings.capGB = parseNumber(*cap, "--cap-gb");
  const auto library = session.openLibrary();
  printDeleted(session, library->cleanup(settings.retention(), now()));
  library->waitForPurge();
  return 0;
}

int runDeleteEverything(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {{"--yes", false}});
  if (!args.positionals().empty())
    throw UsageError("delete-everything takes no arguments, not \"" + args.positionals().front() +
                     "\".");
  if (!args.flag("--yes"))
    throw UsageError("delete-everything deletes the whole history and its key; add --yes.");
  // Chosen first: a key file that may not be used stops the command before anything is gone.
  std::unique_ptr<KeyStore> store = session.keyStore();

  const std::filesystem::path& folder = session.dataFolder();
  const std::string database(FrameLibrary::databaseFileName);
  std::error_code ignored;
  std::filesystem::remove(folder / database, ignored);
  std::filesystem::remove(folder / (database + "-wal"), ignored);
  std::filesystem::remove(folder / (database + "-shm"), ignored);
  std::filesystem::remove_all(folder / "frames", ignored);
  try {
    store->remove();
  } catch (...) {
    // As in the application: what is left is found by the next library that is made.
  }

  if (session.json())
    session.printJSON({{"deleted", true}});
  else
    session.out() << "Deleted the whole history and its key.\n";
  return 0;
}

}  // namespace vistrel::cli
