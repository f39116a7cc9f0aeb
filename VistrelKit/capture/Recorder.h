#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "VistrelKit/base/Date.h"
#include "VistrelKit/imaging/FrameSignature.h"
#include "VistrelKit/imaging/Image.h"
#include "VistrelKit/imaging/PixelBox.h"
#include "VistrelKit/search/TextLine.h"

namespace vistrel {

class FrameLibrary;

// Turns one screenshot into a stored frame, or into the decision that the screen did not change
// enough since the last kept frame. The cheap change test runs first so a still screen costs one
// tiny downscale per tick; scaling, JPEG, recognition and the store follow only for a change.
//
// Thread-safety: record calls run one at a time. reset and the accessors may run while a record
// is encoding, reading text or waiting for the library, and a reset made then wins: the frame
// after it is kept whatever the record in flight does.
class Recorder {
 public:
  struct Stored {
    std::int64_t id = 0;
    std::int64_t lines = 0;
    friend bool operator==(const Stored&, const Stored&) = default;
  };
  struct Failed {
    std::string message;
    friend bool operator==(const Failed&, const Failed&) = default;
  };
  struct Unchanged {
    friend bool operator==(const Unchanged&, const Unchanged&) = default;
  };
  using Outcome = std::variant<Stored, Failed, Unchanged>;

  // Reads the text of a frame, window by window when the windows are known; may throw, which
  // stores the frame without text.
  using Recognize =
      std::function<std::vector<TextLine>(const Image&, const std::vector<WindowArea>&)>;

  static constexpr int defaultThumbnailWidth = 360;
  static constexpr double defaultQuality = 0.6;
  static constexpr double defaultThreshold = 0.004;
  static constexpr int signatureTolerance = 8;
  // Text is read at the resolution the screen was captured at, up to this width, before the
  // frame is scaled down to be stored: scaled, a terminal's small print becomes rows too close
  // to tell apart. The boxes stored are fractions of the frame, so they fit the stored image.
  static constexpr int textReadingWidth = 2560;

  // With no recognize function the recorder reads text with its own TextRecognizer, made on the
  // first frame that needs it (a missing language pack then stores frames without text).
  Recorder(std::shared_ptr<FrameLibrary> library, int maxWidth, Recognize recognize = {});
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // `windows` are the window contents of `image`, when the capture knows them (see
  // WindowArea); an image without them is read as a whole.
  Outcome record(const Image& image, const std::string& appName,
                 const std::optional<std::string>& bundleID,
                 const std::optional<std::string>& title, Date date,
                 const std::vector<WindowArea>& windows = {});

  void reset();

  const std::shared_ptr<FrameLibrary>& library() const { return library_; }
  int maxWidth() const { return maxWidth_; }
  int thumbnailWidth() const { return thumbnailWidth_; }
  double quality() const { return quality_; }
  double threshold() const { return threshold_; }
  std::optional<FrameSignature> last() const;

 private:
  // Decides whether the frame is kept and, if so, makes its signature the reference.
  bool passChangeTest(const FrameSignature& signature);
  std::vector<TextLine> readText(const Image& image, const std::vector<WindowArea>& windows);

  const std::shared_ptr<FrameLibrary> library_;
  const int maxWidth_;
  const int thumbnailWidth_ = defaultThumbnailWidth;
  const double quality_ = defaultQuality;
  const double threshold_ = defaultThreshold;

  std::mutex recordMutex_;  // one record at a time; guards recognize_
  Recognize recognize_;

  mutable std::mutex lastMutex_;
  std::optional<FrameSignature> last_;  // guarded by lastMutex_
};

}  // namespace vistrel
