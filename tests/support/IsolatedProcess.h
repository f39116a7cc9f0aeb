#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern char** environ;

namespace vistrel::testing {

struct ProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

// The JSON a command printed, expecting it to have succeeded (a failure shows its error output).
inline nlohmann::json successJSON(const ProcessResult& result) {
  EXPECT_EQ(result.status, 0) << result.err;
  return nlohmann::json::parse(result.out, nullptr, /*allow_exceptions=*/false);
}

inline std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a program (found on PATH) to its end with its output captured. Its home and XDG config
// folder lie in `scratch` and its session bus leads nowhere, so neither the user's history nor a
// Secret Service is ever touched; `variables` sets further entries of its environment.
inline ProcessResult runIsolated(std::vector<std::string> arguments,
                                 const std::filesystem::path& scratch,
                                 const std::map<std::string, std::string>& variables = {}) {
  // Tests run several programs at once from different threads.
  static std::atomic<int> counter = 0;
  const int number = counter++;
  const std::filesystem::path outFile = scratch / ("out" + std::to_string(number) + ".txt");
  const std::filesystem::path errFile = scratch / ("err" + std::to_string(number) + ".txt");
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    if (const auto equals = text.find('='); equals != std::string::npos)
      environment[text.substr(0, equals)] = text.substr(equals + 1);
  }
  environment.erase("VISTREL_DATA_DIR");
  environment["HOME"] = (scratch / "home").string();
  environment["XDG_CONFIG_HOME"] = (scratch / "home" / "config").string();
  environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + (scratch / "no-bus").string();
  for (const auto& [name, value] : variables)
    environment[name] = value;
  std::vector<std::string> entries;
  for (const auto& [name, value] : environment)
    entries.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : entries)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ProcessResult result;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    return result;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = readWholeFile(outFile);
  result.err = readWholeFile(errFile);
  std::filesystem::remove(outFile);
  std::filesystem::remove(errFile);
  return result;
}

}  // namespace vistrel::testing
