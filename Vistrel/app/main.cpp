// vistrel: the application. Until its screens exist it runs headless: capture with the saved
// settings, the status line on stdout whenever it changes, until SIGINT or SIGTERM.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "Vistrel/model/AppModel.h"
#include "Vistrel/platform/linux/LinuxEnvironment.h"
#include "VistrelKit/base/ProcessHardening.h"

namespace {

constexpr const char* usageText =
    "Usage: vistrel [--headless] [--data-dir DIR] [--key-file FILE]\n"
    "\n"
    "Keeps a private, searchable history of your screen. With --headless it records with the\n"
    "saved settings (config.json in the data folder) and prints the capture status whenever it\n"
    "changes, until interrupted (Ctrl-C or SIGTERM), then saves the settings and exits.\n";

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto ignored = ::write(signalPipe[1], &byte, 1);
}

struct Options {
  bool headless = false;
  std::filesystem::path dataFolder;
  std::optional<std::filesystem::path> keyFile;
};

std::optional<Options> parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--headless") {
      options.headless = true;
    } else if ((word == "--data-dir" || word == "--key-file") && i + 1 < argc) {
      (word == "--data-dir" ? options.dataFolder : options.keyFile.emplace()) = argv[++i];
    } else if (word.starts_with("--data-dir=")) {
      options.dataFolder = word.substr(std::strlen("--data-dir="));
    } else if (word.starts_with("--key-file=")) {
      options.keyFile = word.substr(std::strlen("--key-file="));
    } else {
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is read: the history's keys and text must not be readable by other programs.
  if (const auto problem = vistrel::hardenProcess()) {
    std::cerr << "vistrel: " << *problem << '\n';
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << usageText;
      return 0;
    }
  }
  const std::optional<Options> options = parse(argc, argv);
  if (!options) {
    std::cerr << usageText;
    return 2;
  }
  if (!options->headless)
    std::cerr << "vistrel: the windows are not built yet; running headless.\n";

  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Vistrel"));

  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::cerr << "vistrel: cannot watch for signals\n";
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  vistrel::LinuxEnvironmentOptions environmentOptions;
  environmentOptions.dataFolder = options->dataFolder;
  environmentOptions.keyFile = options->keyFile;
  environmentOptions.executable = QCoreApplication::applicationFilePath().toStdString();
  std::optional<vistrel::AppModel> model;
  try {
    model.emplace(vistrel::makeLinuxEnvironment(environmentOptions));
  } catch (const std::exception& error) {
    std::cerr << "vistrel: " << error.what() << '\n';
    return 1;
  }

  std::string printed;
  const auto printStatus = [&] {
    if (model->statusLine() != printed) {
      printed = model->statusLine();
      std::cout << printed << std::endl;
    }
  };
  QObject::connect(&*model, &vistrel::AppModel::statusLineChanged, &*model, printStatus);
  QObject::connect(&*model, &vistrel::AppModel::lastNoticeChanged, &*model, [&] {
    if (model->lastNotice())
      std::cout << "Notice: " << *model->lastNotice() << std::endl;
  });

  QSocketNotifier signalWatcher(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalWatcher, &QSocketNotifier::activated, &application, [&] {
    char drained[16];
    while (::read(signalPipe[0], drained, sizeof drained) > 0) {
    }
    model->shutdown();
    QCoreApplication::quit();
  });

  std::cout << "Data folder: " << model->dataFolder().string() << std::endl;
  model->start();
  printStatus();
  const int status = application.exec();
  model.reset();
  return status;
}
