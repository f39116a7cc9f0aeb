#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <variant>

#include "Vistrel/cli/Arguments.h"
#include "Vistrel/cli/Commands.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/capture/Recorder.h"

namespace vistrel::cli {

namespace {

// Far beyond any screenshot; keeps a mistaken argument (a disk image, a video) from being read
// into memory whole.
constexpr std::uintmax_t maximumImageFileSize = 256ull * 1024 * 1024;

struct Loaded {
  std::optional<Image> image;
  std::string problem;
};

Loaded loadImage(const std::string& file) {
  std::error_code error;
  if (std::filesystem::is_directory(file, error))
    return {std::nullopt, "Couldn't read the file: it is a folder"};
  std::ifstream in(file, std::ios::binary);
  if (!in)
    return {std::nullopt, std::string("Couldn't read the file: ") + std::strerror(errno)};
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (!error && size > maximumImageFileSize)
    return {std::nullopt, "Not a screenshot: the file is larger than 256 MB"};
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    return {std::nullopt, "Couldn't read the file"};
  std::optional<Image> image = Imaging::decode(bytes);
  if (!image)
    return {std::nullopt, "Not a readable PNG or JPEG image"};
  return {std::move(image), {}};
}

struct Line {
  std::string file;
  std::string outcome;
  std::optional<std::int64_t> id;
  std::optional<std::int64_t> lines;
  std::optional<std::string> message;
};

Line lineOf(const std::string& file, const Recorder::Outcome& outcome) {
  if (const auto* stored = std::get_if<Recorder::Stored>(&outcome))
    return {file, "stored", stored->id, stored->lines, std::nullopt};
  if (const auto* failed = std::get_if<Recorder::Failed>(&outcome))
    return {file, "failed", std::nullopt, std::nullopt, failed->message};
  return {file, "unchanged", std::nullopt, std::nullopt, std::nullopt};
}

void print(Session& session, const Line& line) {
  if (session.json()) {
    nlohmann::ordered_json object{{"file", line.file}, {"outcome", line.outcome}};
    if (line.id)
      object["id"] = *line.id;
    if (line.lines)
      object["lines"] = *line.lines;
    if (line.message)
      object["message"] = *line.message;
    session.printJSONLine(object);
    return;
  }
  std::ostream& out = session.out();
  out << line.file << ": ";
  if (line.outcome == "stored")
    out << "stored as frame " << *line.id << " (" << *line.lines
        << (*line.lines == 1 ? " text line)" : " text lines)");
  else if (line.outcome == "unchanged")
    out << "unchanged since the previous image, not stored";
  else
    out << "failed: " << *line.message;
  out << std::endl;
}

}  // namespace

int runIngest(Session& session, const std::vector<std::string>& arguments) {
  const Arguments args(arguments, {{"--app"}, {"--bundle-id"}, {"--title"}, {"--at"}});
  const std::vector<std::string>& files = args.positionals();
  if (files.empty())
    throw UsageError("ingest needs at least one image file.");
  const std::string appName = args.value("--app").value_or("Desktop");
  if (appName.empty())
    throw UsageError("--app needs a name.");
  const std::optional<std::string> bundleID = args.value("--bundle-id");
  const std::optional<std::string> title = args.value("--title");
  const Date start =
      args.value("--at") ? dateFromSeconds1970(parseNumber(*args.value("--at"), "--at")) : now();

  // The library (and with it a new key) is made only once there is a frame to put in it.
  std::unique_ptr<Recorder> recorder;
  std::size_t failures = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    Loaded loaded = loadImage(files[i]);
    if (!loaded.image) {
      ++failures;
      print(session, {files[i], "failed", std::nullopt, std::nullopt, loaded.problem});
      continue;
    }
    if (!recorder)
      recorder =
          std::make_unique<Recorder>(session.openOrCreateLibrary(), session.settings().maxWidth);
    const Date date = start + Seconds(static_cast<double>(i));
    const Recorder::Outcome outcome =
        recorder->record(*loaded.image, appName, bundleID, title, date);
    if (std::holds_alternative<Recorder::Failed>(outcome))
      ++failures;
    print(session, lineOf(files[i], outcome));
  }
  if (failures > 0) {
    session.err() << failures << " of " << files.size()
                  << (files.size() == 1 ? " image was" : " images were") << " not recorded.\n";
    return 1;
  }
  return 0;
}

}  // namespace vistrel::cli
