#include "Vistrel/cli/Commands.h"

#include <array>
#include <exception>
#include <iomanip>

#include "VistrelKit/base/DataFolder.h"

namespace vistrel::cli {
namespace {

// The command table. One line per command; the help lists them in this order.
const std::array commandTable{
    Command{"ingest", "Record PNG or JPEG screenshots into the history", ingestHelp, runIngest},
    Command{"capture", "Capture the screen for a few ticks, as the application does", captureHelp,
            runCapture},
    Command{"search", "Find frames by the words on screen", searchHelp, runSearch},
    Command{"show", "Print one frame and its text lines", showHelp, runShow},
    Command{"image", "Write one frame's image as a JPEG file", imageHelp, runImage},
    Command{"stats", "Count the frames and their size", statsHelp, runStats},
    Command{"apps", "List the applications that have frames", appsHelp, runApps},
    Command{"stamps", "List frames by time, for one day or all", stampsHelp, runStamps},
    Command{"settings", "Print the effective settings", settingsHelp, runSettings},
    Command{"delete", "Delete frames by ID", deleteHelp, runDelete},
    Command{"delete-recent", "Delete the last minutes or today", deleteRecentHelp, runDeleteRecent},
    Command{"cleanup", "Delete frames past the retention period or over the disk cap", cleanupHelp,
            runCleanup},
    Command{"delete-everything", "Delete the whole history and its key", deleteEverythingHelp,
            runDeleteEverything},
};

constexpr const char* globalUsage =
    "Usage: vistrel-cli [--data-dir DIR] [--key-file FILE] [--json] COMMAND [ARGS...]\n"
    "\n"
    "The searchable history of what was on your screen, from the command line.\n"
    "\n"
    "Options (before or after the command):\n"
    "  --data-dir DIR   the folder holding config.json and the history\n"
    "                   (default: $VISTREL_DATA_DIR, else $XDG_DATA_HOME/Vistrel)\n"
    "  --key-file FILE  use this 32-byte key file instead of the platform key store;\n"
    "                   created (0600) with a fresh key only when a new history is created\n"
    "  --json           machine-readable output\n"
    "  --help           this text, or a command's own with COMMAND --help\n"
    "\n"
    "Exit status: 0 success, 1 failure (described on stderr), 2 usage error.\n"
    "\n"
    "Commands:\n";

void printOverview(std::ostream& out) {
  out << globalUsage;
  for (const Command& command : commands())
    out << "  " << std::left << std::setw(19) << command.name << command.summary << '\n';
}

struct GlobalOptions {
  std::optional<std::filesystem::path> dataFolder;
  std::optional<std::filesystem::path> keyFile;
  bool json = false;
  bool help = false;
  std::vector<std::string> rest;  // the command and its own arguments
};

// The global options may stand anywhere before "--": they are taken out and the rest is kept in
// order for the command.
GlobalOptions splitGlobalOptions(const std::vector<std::string>& arguments) {
  GlobalOptions options;
  bool onlyPositionals = false;
  auto takeValue = [&](std::size_t& i, const std::string& name) {
    const std::string& word = arguments[i];
    if (word.size() > name.size() && word[name.size()] == '=')
      return word.substr(name.size() + 1);
    if (i + 1 >= arguments.size())
      throw UsageError(name + " needs a value.");
    return arguments[++i];
  };
  auto isOption = [](const std::string& word, std::string_view name) {
    return word == name ||
           (word.starts_with(name) && word.size() > name.size() && word[name.size()] == '=');
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (onlyPositionals) {
      options.rest.push_back(word);
    } else if (word == "--") {
      onlyPositionals = true;
      options.rest.push_back(word);
    } else if (isOption(word, "--data-dir")) {
      if (options.dataFolder)
        throw UsageError("--data-dir is given twice.");
      const std::string value = takeValue(i, "--data-dir");
      if (value.empty())
        throw UsageError("--data-dir needs a folder.");
      options.dataFolder = std::filesystem::absolute(value);
    } else if (isOption(word, "--key-file")) {
      if (options.keyFile)
        throw UsageError("--key-file is given twice.");
      const std::string value = takeValue(i, "--key-file");
      if (value.empty())
        throw UsageError("--key-file needs a file.");
      options.keyFile = std::filesystem::absolute(value);
    } else if (word == "--json") {
      options.json = true;
    } else if (word == "--help" || word == "-h") {
      options.help = true;
    } else {
      options.rest.push_back(word);
    }
  }
  return options;
}

int usageFailure(std::ostream& err, const std::string& message, std::string_view command) {
  err << "vistrel-cli: " << message << '\n';
  if (command.empty())
    err << "Run 'vistrel-cli --help' for the commands.\n";
  else
    err << "Run 'vistrel-cli " << command << " --help' for its usage.\n";
  return 2;
}

}  // namespace

std::span<const Command> commands() {
  return commandTable;
}

const Command* findCommand(std::string_view name) {
  for (const Command& command : commands()) {
    if (command.name == name)
      return &command;
  }
  return nullptr;
}

int runCommandLine(const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& err) {
  GlobalOptions options;
  try {
    options = splitGlobalOptions(arguments);
  } catch (const UsageError& error) {
    return usageFailure(err, error.what(), {});
  }

  std::vector<std::string> rest = std::move(options.rest);
  if (!rest.empty() && rest.front() == "help") {
    rest.erase(rest.begin());
    options.help = true;
  }
  if (rest.empty() || rest.front() == "--") {
    if (options.help) {
      printOverview(out);
      return 0;
    }
    printOverview(err);
    return 2;
  }
  const Command* command = findCommand(rest.front());
  if (command == nullptr)
    return usageFailure(err, "Unknown command \"" + rest.front() + "\".", {});
  if (options.help) {
    out << command->help;
    return 0;
  }
  rest.erase(rest.begin());

  std::filesystem::path dataFolder = options.dataFolder ? *options.dataFolder : defaultDataFolder();
  if (dataFolder.empty()) {
    err << "vistrel-cli: No data folder: neither a home folder nor VISTREL_DATA_DIR is known; "
           "use --data-dir.\n";
    return 1;
  }
  Session session(std::move(dataFolder), options.keyFile, options.json, out, err);
  try {
    return command->run(session, rest);
  } catch (const UsageError& error) {
    return usageFailure(err, error.what(), command->name);
  } catch (const std::exception& error) {
    out.flush();
    err << error.what() << '\n';
    return 1;
  }
}

}  // namespace vistrel::cli
