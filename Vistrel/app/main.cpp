// vistrel: the application. With a display it is the desktop application (tray icon and main
// window), one per user session. With --headless, or without a display, it captures with the
// saved settings and prints the status line on stdout whenever it changes. Either ends on
// SIGINT or SIGTERM with the settings saved.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "Vistrel/gui/common/SystemClipboard.h"
#include "Vistrel/gui/shell/DesktopShell.h"
#include "Vistrel/gui/shell/SingleInstance.h"
#include "Vistrel/model/AppModel.h"
#include "Vistrel/platform/linux/LinuxEnvironment.h"
#include "VistrelKit/base/ProcessHardening.h"

namespace {

constexpr const char* usageText =
    "Usage: vistrel [--headless] [--data-dir DIR] [--key-file FILE]\n"
    "\n"
    "Keeps a private, searchable history of your screen. With a display it starts the desktop\n"
    "application (a tray icon and the main window); a second start shows the first one's window.\n"
    "With --headless, or without a display, it records with the saved settings (config.json in\n"
    "the data folder) and prints the capture status whenever it changes, until interrupted\n"
    "(Ctrl-C or SIGTERM), then saves the settings and exits.\n";

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

bool hasDisplay() {
  return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
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
  const bool desktop = !options->headless && hasDisplay();
  if (!options->headless && !desktop)
    std::cerr << "vistrel: no display; running headless.\n";

  std::unique_ptr<QCoreApplication> application;
  if (desktop)
    application = std::make_unique<QApplication>(argc, argv);
  else
    application = std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Vistrel"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VISTREL_VERSION));
  QCoreApplication::setOrganizationDomain(QStringLiteral("tevrin77.com"));

  vistrel::SingleInstance instance;
  if (desktop) {
    if (!instance.claim())
      return vistrel::SingleInstance::activateRunning() ? 0 : 1;
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Vistrel"));
    QGuiApplication::setDesktopFileName(QStringLiteral("com.tevrin77.Vistrel"));
    QApplication::setQuitOnLastWindowClosed(false);
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
  }

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
  if (desktop)
    environmentOptions.clipboard = std::make_shared<vistrel::SystemClipboard>();
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

  bool shutDown = false;
  const auto quit = [&] {
    if (!shutDown)
      model->shutdown();
    shutDown = true;
    QCoreApplication::quit();
  };
  QSocketNotifier signalWatcher(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalWatcher, &QSocketNotifier::activated, application.get(), [&] {
    char drained[16];
    while (::read(signalPipe[0], drained, sizeof drained) > 0) {
    }
    quit();
  });

  std::cout << "Data folder: " << model->dataFolder().string() << std::endl;
  std::unique_ptr<vistrel::DesktopShell> shell;
  if (desktop) {
    shell = std::make_unique<vistrel::DesktopShell>(*model);
    QObject::connect(shell.get(), &vistrel::DesktopShell::quitRequested, application.get(), quit);
    QObject::connect(&instance, &vistrel::SingleInstance::activated, shell.get(),
                     &vistrel::DesktopShell::activate);
    // The session is ending: the settings are written now, whatever the session manager does next.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, application.get(),
                     [&] { model->saveNow(); });
    QObject::connect(application.get(), &QCoreApplication::aboutToQuit, application.get(), [&] {
      if (!shutDown)
        model->shutdown();
      shutDown = true;
    });
  }
  model->start();
  if (shell)
    shell->start();
  printStatus();
  const int status = application->exec();
  shell.reset();
  model.reset();
  return status;
}
