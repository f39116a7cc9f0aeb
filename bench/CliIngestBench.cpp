// `vistrel-cli ingest` of 50 realistic text-heavy 1600x1000 screens (five layouts, light and
// dark, 12 to 16 pixel text) into a new history, run as the real program:
//   maxRSS_MB       peak resident memory of the process (target < 250 MB)
//   storedKB_frame  the library's storage estimate per frame (aim 50-150 KB)
//   s_screen        wall time per screen, text recognition included
//   cpu_s_screen    CPU time per screen
// The screens are rendered once, before the measured run.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/ScreenFixtures.h"

extern char** environ;

namespace vistrel {
namespace {

namespace fs = std::filesystem;

struct Scratch {
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "vistrel-cli-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr)
      folder = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  fs::path folder;
};

const Scratch& screensFolder() {
  static Scratch scratch;
  return scratch;
}

// The PNG files of the 50 screens; empty when ImageMagick is missing.
const std::vector<std::string>& screenFiles() {
  static const std::vector<std::string> files = [] {
    std::vector<std::string> result;
    const fs::path folder = screensFolder().folder;
    for (const fixtures::Screen& screen : fixtures::screenSet({12, 13, 14, 15, 16}, 3)) {
      const fs::path mvg = folder / (screen.name() + "-" + std::to_string(result.size()) + ".mvg");
      const fs::path png = fs::path(mvg).replace_extension(".png");
      std::ofstream(mvg) << screen.mvg();
      const std::string command =
          "convert -depth 8 'mvg:" + mvg.string() + "' 'png24:" + png.string() + "' 2>/dev/null";
      if (std::system(command.c_str()) != 0)
        return std::vector<std::string>{};
      fs::remove(mvg);
      result.push_back(png.string());
    }
    return result;
  }();
  return files;
}

struct Run {
  int status = -1;
  rusage usage{};
  std::string out;
};

Run runCli(const std::vector<std::string>& arguments, const fs::path& outFile) {
  std::vector<std::string> words = arguments;
  words.insert(words.begin(), VISTREL_CLI_PATH);
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  Run run;
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    wait4(pid, &status, 0, &run.usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(outFile);
  run.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

double seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

void Ingest50Screens(benchmark::State& state) {
  const std::vector<std::string>& files = screenFiles();
  if (files.size() != 50) {
    state.SkipWithError("could not render the screens (is ImageMagick installed?)");
    return;
  }
  for (auto _ : state) {
    Scratch scratch;
    const fs::path data = scratch.folder / "data";
    const fs::path key = scratch.folder / "key" / "history-key";
    std::vector<std::string> arguments = {"--data-dir", data.string(), "--key-file",
                                          key.string(), "--json",      "ingest"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const auto start = std::chrono::steady_clock::now();
    const Run ingest = runCli(arguments, scratch.folder / "ingest.txt");
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ingest.status != 0) {
      state.SkipWithError(("ingest failed: " + ingest.out).c_str());
      return;
    }
    const Run stats =
        runCli({"--data-dir", data.string(), "--key-file", key.string(), "--json", "stats"},
               scratch.folder / "stats.txt");
    const auto totals = nlohmann::json::parse(stats.out, nullptr, false);
    if (stats.status != 0 || totals.is_discarded()) {
      state.SkipWithError("stats failed");
      return;
    }
    const double frames = totals.at("frames").get<double>();
    state.SetIterationTime(wall);
    state.counters["frames"] = frames;
    state.counters["maxRSS_MB"] = static_cast<double>(ingest.usage.ru_maxrss) / 1024.0;
    state.counters["storedKB_frame"] = totals.at("bytes").get<double>() / 1024.0 / frames;
    state.counters["s_screen"] = wall / static_cast<double>(files.size());
    state.counters["cpu_s_screen"] =
        (seconds(ingest.usage.ru_utime) + seconds(ingest.usage.ru_stime)) /
        static_cast<double>(files.size());
  }
}
BENCHMARK(Ingest50Screens)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace vistrel
