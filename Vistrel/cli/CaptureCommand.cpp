#include <QCoreApplication>
#include <QEventLoop>
#include <optional>

#include "Vistrel/model/AppModel.h"
#include "Vistrel/cli/Arguments.h"
#include "Vistrel/cli/Commands.h"
#include "Vistrel/platform/linux/LinuxEnvironment.h"

namespace vistrel::cli {

namespace {

nlohmann::ordered_json tickJSON(int number, const TickReport& report, const std::string& status) {
  nlohmann::ordered_json line;
  line["tick"] = number;
  switch (report.kind) {
    case TickReport::Kind::skipped:
      line["outcome"] = "skipped";
      line["message"] = report.describe();
      break;
    case TickReport::Kind::captureFailed:
      line["outcome"] = "captureFailed";
      line["message"] = report.message;
      break;
    case TickReport::Kind::recorded:
      if (const auto* stored = std::get_if<Recorder::Stored>(&*report.outcome)) {
        line["outcome"] = "stored";
        line["id"] = stored->id;
        line["lines"] = stored->lines;
      } else if (const auto* failed = std::get_if<Recorder::Failed>(&*report.outcome)) {
        line["outcome"] = "failed";
        line["message"] = failed->message;
      } else {
        line["outcome"] = "unchanged";
      }
      break;
  }
  line["status"] = status;
  return line;
}

}  // namespace

int runCapture(Session& session, const std::vector<std::string>& arguments) {
  const Arguments parsed(arguments, {{"--ticks"}});
  if (!parsed.positionals().empty())
    throw UsageError("capture takes no file or word arguments.");
  const std::int64_t ticks =
      parsed.value("--ticks") ? parseInteger(*parsed.value("--ticks"), "--ticks") : 1;
  if (ticks < 1 || ticks > 1000000)
    throw UsageError("--ticks must be between 1 and 1000000.");

  // The model's jobs and the probes' D-Bus calls need an event loop.
  std::optional<QCoreApplication> application;
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "vistrel-cli";
    static char* argv[] = {name, nullptr};
    application.emplace(argc, argv);
  }

  LinuxEnvironmentOptions options;
  options.dataFolder = session.dataFolder();
  options.keyStore = session.keyStore();
  options.hotkeys = false;
  AppEnvironment environment = makeLinuxEnvironment(options);
  environment.saveSettings = false;
  AppModel model(std::move(environment));

  QEventLoop loop;
  int finished = 0;
  QObject::connect(&model, &AppModel::tickFinished, &model, [&](const TickReport& report) {
    ++finished;
    if (finished > ticks)
      return;
    const std::string status = model.statusLine();
    if (session.json()) {
      session.printJSONLine(tickJSON(finished, report, status));
    } else {
      session.out() << "Tick " << finished << ": " << report.describe() << '\n'
                    << "Status: " << status << '\n';
      session.out().flush();
    }
    if (finished == ticks)
      loop.quit();
  });

  model.start();
  if (!model.config().captureEnabled) {
    VistrelConfig on = model.config();
    on.captureEnabled = true;
    model.setConfig(std::move(on));
  }
  if (finished < ticks)
    loop.exec();
  model.shutdown();
  if (model.libraryProblem())
    throw CommandFailure(*model.libraryProblem());
  return 0;
}

}  // namespace vistrel::cli
