#include "Vistrel/cli/Arguments.h"
#include "Vistrel/cli/Commands.h"
#include "VistrelKit/settings/ConfigFile.h"

namespace vistrel::cli {

extern const std::string_view settingsHelp =
    "Usage: vistrel-cli settings\n"
    "\n"
    "Prints the effective settings in config.json's own form: the file read with the tolerant\n"
    "rules (a bad value gives that setting's default, a missing or broken file all defaults).\n"
    "Writes nothing.\n";

int runSettings(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {});
  if (!args.positionals().empty())
    throw UsageError("settings takes no arguments, not \"" + args.positionals().front() + "\".");
  std::string text = ConfigFile::encode(session.settings());
  if (text.empty() || text.back() != '\n')
    text.push_back('\n');
  session.out() << text;
  return 0;
}

}  // namespace vistrel::cli
