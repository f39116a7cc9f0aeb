#include "VistrelKit/capture/Recorder.h"

#include <cmath>
#include <exception>
#include <utility>

#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/library/FrameLibrary.h"
#include "VistrelKit/library/FrameRecords.h"
#include "VistrelKit/ocr/TextRecognizer.h"

namespace vistrel {
namespace {

constexpr const char* unreadableFrame = "Couldn't read the frame";
constexpr const char* unencodableFrame = "Couldn't encode the frame";

Recorder::Recognize makeOwnRecognizer() {
  // Shared so the std::function stays copyable; only the recorder ever calls it.
  auto recognizer = std::make_shared<std::optional<TextRecognizer>>();
  return [recognizer](const Image& image, const std::vector<WindowArea>& windows) {
    if (!recognizer->has_value())
      recognizer->emplace();
    return (*recognizer)->recognize(image, windows);
  };
}

PixelBox scaledBox(const PixelBox& box, double factor) {
  auto at = [factor](int value) { return static_cast<int>(std::lround(value * factor)); };
  return {at(box.left), at(box.top), at(box.right), at(box.bottom)};
}

std::vector<WindowArea> scaledAreas(const std::vector<WindowArea>& windows, double factor) {
  std::vector<WindowArea> scaled;
  for (const WindowArea& window : windows) {
    WindowArea area{scaledBox(window.bounds, factor), {}};
    for (const PixelBox& part : window.visible)
      area.visible.push_back(scaledBox(part, factor));
    scaled.push_back(std::move(area));
  }
  return scaled;
}

struct EncodedFrame {
  Image scaled;
  Bytes jpeg;
  Bytes thumbnail;
};

std::optional<EncodedFrame> encode(const Image& image, int maxWidth, int thumbnailWidth,
                                   double quality) {
  std::optional<Image> scaled = Imaging::scale(image, maxWidth, false);
  if (!scaled)
    return std::nullopt;
  std::optional<Bytes> jpeg = Imaging::jpeg(*scaled, quality);
  if (!jpeg)
    return std::nullopt;
  std::optional<Image> small = Imaging::scale(*scaled, thumbnailWidth, false);
  if (!small)
    return std::nullopt;
  std::optional<Bytes> thumbnail = Imaging::jpeg(*small, quality);
  if (!thumbnail)
    return std::nullopt;
  return EncodedFrame{std::move(*scaled), std::move(*jpeg), std::move(*thumbnail)};
}

}  // namespace

Recorder::Recorder(std::shared_ptr<FrameLibrary> library, int maxWidth, Recognize recognize)
    : library_(std::move(library)),
      maxWidth_(maxWidth),
      recognize_(recognize ? std::move(recognize) : makeOwnRecognizer()) {}

Recorder::~Recorder() = default;

Recorder::Outcome Recorder::record(const Image& image, const std::string& appName,
                                   const std::optional<std::string>& bundleID,
                                   const std::optional<std::string>& title, Date date,
                                   const std::vector<WindowArea>& windows) {
  std::lock_guard recording(recordMutex_);
  std::optional<FrameSignature> signature = FrameSignature::from(image);
  if (!signature)
    return Failed{unreadableFrame};
  if (!passChangeTest(*signature))
    return Unchanged{};

  std::optional<EncodedFrame> encoded = encode(image, maxWidth_, thumbnailWidth_, quality_);
  if (!encoded)
    return Failed{unencodableFrame};

  NewFrame frame;
  frame.date = date;
  frame.meta.appName = appName;
  frame.meta.bundleID = bundleID;
  frame.meta.title = title;
  frame.meta.width = encoded->scaled.width();
  frame.meta.height = encoded->scaled.height();
  frame.meta.lines = readText(image, windows);
  frame.jpeg = std::move(encoded->jpeg);
  frame.thumbnail = std::move(encoded->thumbnail);

  const auto lineCount = static_cast<std::int64_t>(frame.meta.lines.size());
  try {
    return Stored{library_->store(frame), lineCount};
  } catch (const std::exception& error) {
    return Failed{error.what()};
  }
}

bool Recorder::passChangeTest(const FrameSignature& signature) {
  std::lock_guard guard(lastMutex_);
  if (last_ && signature.difference(*last_, signatureTolerance) < threshold_)
    return false;
  // Before any encoding, so a frame that fails later still becomes the reference.
  last_ = signature;
  return true;
}

std::vector<TextLine> Recorder::readText(const Image& image,
                                         const std::vector<WindowArea>& windows) {
  try {
    if (image.width() <= textReadingWidth)
      return recognize_(image, windows);
    std::optional<Image> smaller = Imaging::scale(image, textReadingWidth, false);
    if (!smaller)
      return {};
    return recognize_(*smaller,
                      scaledAreas(windows, static_cast<double>(smaller->width()) / image.width()));
  } catch (...) {
    // A frame without text is still worth keeping: the image is the history.
    return {};
  }
}

void Recorder::reset() {
  std::lock_guard guard(lastMutex_);
  last_.reset();
}

std::optional<FrameSignature> Recorder::last() const {
  std::lock_guard guard(lastMutex_);
  return last_;
}

}  // namespace vistrel
