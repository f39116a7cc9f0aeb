#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Vistrel/cli/Session.h"

namespace vistrel::cli {

// What a command is handed: the session (data folder, key choice, output form, streams) and its
// own arguments, with the global options and "--help" already taken out.
using CommandFunction = int (*)(Session& session, const std::vector<std::string>& arguments);

struct Command {
  std::string_view name;
  std::string_view summary;  // one line, for the list of commands
  std::string_view help;     // the whole text of "COMMAND --help", starting with its usage line
  CommandFunction run;
};

// Every command of the tool, in the order the help lists them. To add one, write its function
// (and help text) in a file of its own and add one line to the table in Commands.cpp.
std::span<const Command> commands();

// The command of that name, or null.
const Command* findCommand(std::string_view name);

// The one entry point: parses the global options, dispatches, turns errors into exit statuses
// (0 success, 1 failure with its description on stderr, 2 usage error).
int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// The commands, one function each (IngestCommand.cpp, CaptureCommand.cpp, QueryCommands.cpp,
// DeleteCommands.cpp, SettingsCommand.cpp).
int runIngest(Session& session, const std::vector<std::string>& arguments);
int runCapture(Session& session, const std::vector<std::string>& arguments);
int runSearch(Session& session, const std::vector<std::string>& arguments);
int runShow(Session& session, const std::vector<std::string>& arguments);
int runImage(Session& session, const std::vector<std::string>& arguments);
int runStats(Session& session, const std::vector<std::string>& arguments);
int runApps(Session& session, const std::vector<std::string>& arguments);
int runStamps(Session& session, const std::vector<std::string>& arguments);
int runSettings(Session& session, const std::vector<std::string>& arguments);
int runDelete(Session& session, const std::vector<std::string>& arguments);
int runDeleteRecent(Session& session, const std::vector<std::string>& arguments);
int runCleanup(Session& session, const std::vector<std::string>& arguments);
int runDeleteEverything(Session& session, const std::vector<std::string>& arguments);

extern const std::string_view ingestHelp;
extern const std::string_view captureHelp;
extern const std::string_view searchHelp;
extern const std::string_view showHelp;
extern const std::string_view imageHelp;
extern const std::string_view statsHelp;
extern const std::string_view appsHelp;
extern const std::string_view stampsHelp;
extern const std::string_view settingsHelp;
extern const std::string_view deleteHelp;
extern const std::string_view deleteRecentHelp;
extern const std::string_view cleanupHelp;
extern const std::string_view deleteEverythingHelp;

}  // namespace vistrel::cli
