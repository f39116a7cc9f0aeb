// vistrel-cli's side of the commands that read screens: it hands them, with the same options, to
// vistrel-cli-record, so that the reading commands never load Tesseract, X11 or Qt.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "Vistrel/cli/Commands.h"

namespace vistrel::cli {
namespace {

constexpr const char* recorderName = "vistrel-cli-record";

// Beside this program in the build tree; in the libexec folder once installed.
std::filesystem::path findRecorder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error)
    throw std::runtime_error(std::string("Can't find ") + recorderName + ": " + error.message() +
                             ".");
  const std::filesystem::path folder = self.parent_path();
  const std::filesystem::path candidates[] = {
      folder / recorderName, (folder / VISTREL_RECORDER_FROM_BINDIR).lexically_normal()};
  for (const std::filesystem::path& candidate : candidates) {
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  throw std::runtime_error(std::string("Can't find ") + recorderName + " beside " +
                           folder.string() + " or at " + candidates[1].string() + ".");
}

[[noreturn]] void handOver(Session& session, std::string_view command,
                           const std::vector<std::string>& arguments) {
  const std::filesystem::path recorder = findRecorder();
  std::vector<std::string> words{recorder.string(), "--data-dir=" + session.dataFolder().string()};
  if (session.keyFile())
    words.push_back("--key-file=" + session.keyFile()->string());
  if (session.json())
    words.emplace_back("--json");
  words.emplace_back(command);
  words.insert(words.end(), arguments.begin(), arguments.end());

  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  session.out().flush();
  session.err().flush();
  ::execv(recorder.c_str(), argv.data());
  throw std::runtime_error("Can't start " + recorder.string() + ": " + std::strerror(errno) + ".");
}

}  // namespace

int runIngest(Session& session, const std::vector<std::string>& arguments) {
  handOver(session, "ingest", arguments);
}

int runCapture(Session& session, const std::vector<std::string>& arguments) {
  handOver(session, "capture", arguments);
}

}  // namespace vistrel::cli
