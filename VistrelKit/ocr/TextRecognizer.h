#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "VistrelKit/imaging/Image.h"
#include "VistrelKit/imaging/PixelBox.h"
#include "VistrelKit/search/TextLine.h"

namespace vistrel {

// A failure of the recognition engine: its language data cannot be loaded or it refused an image.
class TextRecognitionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the text lines of a screen image with Tesseract's LSTM engine, on the calling thread.
//
// The engine is set up once per recognizer and reused. The default way of reading suits screens:
// the text lines are found with a layout pass made for user interfaces (TextLayout.h) and each line
// image goes to the LSTM engine on its own, polarity turned dark-on-light and scaled so that every
// text size reaches the engine at the same height. Text whose type is smaller than 0.008 of the
// image height is not read (judged by the ink of digits and capitals, about 0.7 of the type). A
// line whose pixels are exactly those of a line read by the previous call is not read again: its
// text is taken over, which gives what reading it would. The lines of one call are shared out among
// a few engines that read at once (Options::engines), so a screen is read in about half the time on
// two cores for the same processor time.
//
// Not thread-safe: one recognizer per thread, or calls serialised by the owner.
class TextRecognizer {
 public:
  struct Options {
    // Tesseract language codes joined by '+', for example "eng+deu".
    std::string languages = "eng";
    // Folder holding the ".traineddata" files; empty for Tesseract's own default.
    std::string dataPath;

    // How lines are found: by the screen layout pass and read one by one (the default), or by
    // Tesseract's page layout analysis over the whole image.
    enum class Layout { screenLines, tesseractPage };
    Layout layout = Layout::screenLines;

    // screenLines: the height, in the engine's 36-pixel input rows, that a line's ink is scaled
    // to; smaller is faster, down to the point where small print is misread.
    int inkHeight = 18;
    // screenLines: take over the text of lines unchanged since the previous call.
    bool reuseUnchangedLines = true;
    // screenLines: how many engines read the lines of a call at once, each on its own thread
    // (the caller's is one of them) and each holding its own copy of the language data. Zero
    // means two, or one on a single-core machine.
    int engines = 0;

    // tesseractPage: Tesseract's page segmentation mode (3 automatic, 11 sparse text) and a factor
    // the image is enlarged by first.
    int pageSegmentation = 3;
    double pageScale = 1.0;
  };

  // Throws TextRecognitionError when the engine or its language data cannot be loaded.
  TextRecognizer();
  explicit TextRecognizer(Options options);
  ~TextRecognizer();
  TextRecognizer(TextRecognizer&&) noexcept;
  TextRecognizer& operator=(TextRecognizer&&) noexcept;

  // The lines of the image, trimmed, non-empty and in reading order (see TextLine.h). An image
  // without text gives no lines. Throws TextRecognitionError when the engine fails.
  //
  // With `windows` (screenLines only), lines are found in each window's visible content on its
  // own and nowhere else: a line never runs from one window into the next, and title bars and
  // frames, which lie outside every window's content, are not read. Without, the whole image.
  std::vector<TextLine> recognize(const Image& image, const std::vector<WindowArea>& windows = {});

  // Counts of the last call, for benchmarks: lines found, lines read by the engine and its input
  // width in pixels (what recognition time is proportional to).
  struct Statistics {
    int linesFound = 0;
    int linesRead = 0;
    std::int64_t engineColumns = 0;
  };
  Statistics lastStatistics() const;

 private:
  struct Engine;
  std::unique_ptr<Engine> engine_;
};

}  // namespace vistrel
