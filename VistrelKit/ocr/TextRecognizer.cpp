#include "VistrelKit/ocr/TextRecognizer.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "VistrelKit/base/ParallelWork.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/ocr/SerialOpenMP.h"
#include "VistrelKit/ocr/TextLayout.h"

namespace vistrel {

namespace {

// The LSTM models take line images 36 pixels high; a line prepared at exactly that height is not
// resampled again inside the engine.
constexpr int kEngineHeight = 36;
// Text thinner than this fraction of the image height is not reported.
constexpr double kMinimumTextHeight = 0.008;
// The height of text is the size of its type; the ink of a line of digits and capitals, as a
// log line's date and level, covers only about this much of it. Judged by ink alone, a terminal's
// 11-pixel type on a 1080-pixel screen would count as too small to read.
constexpr double kCapitalsShare = 0.7;
// Screens have no physical resolution; this only steers a few of Tesseract's noise thresholds.
constexpr int kScreenResolution = 70;
// Grey-level distance from the background that marks a pixel as ink when judging polarity.
constexpr int kInkContrast = 32;

struct TextDeleter {
  void operator()(char* text) const { delete[] text; }
};
using TesseractText = std::unique_ptr<char, TextDeleter>;

std::uint8_t median(std::vector<std::uint8_t>& values) {
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// What the border of a region mostly shows.
std::uint8_t backgroundOf(const Image& grey, const PixelBox& region) {
  std::vector<std::uint8_t> border;
  for (int x = region.left; x < region.right; ++x) {
    border.push_back(grey.row(region.top)[x]);
    border.push_back(grey.row(region.bottom - 1)[x]);
  }
  for (int y = region.top; y < region.bottom; ++y) {
    border.push_back(grey.row(y)[region.left]);
    border.push_back(grey.row(y)[region.right - 1]);
  }
  return median(border);
}

// Light text on a dark background becomes dark on light, the polarity the models were trained on.
void makeDarkOnLight(Image& crop, int background) {
  int lighter = 0;
  int darker = 0;
  for (int y = 0; y < crop.height(); ++y) {
    const std::uint8_t* row = crop.row(y);
    for (int x = 0; x < crop.width(); ++x) {
      lighter += row[x] > background + kInkContrast;
      darker += row[x] < background - kInkContrast;
    }
  }
  if (lighter <= darker) {
    return;
  }
  for (int y = 0; y < crop.height(); ++y) {
    std::uint8_t* row = crop.row(y);
    for (int x = 0; x < crop.width(); ++x) {
      row[x] = static_cast<std::uint8_t>(255 - row[x]);
    }
  }
}

// The line on a plain margin, dark on light, scaled so its ink is inkHeight of kEngineHeight
// rows. The margin is painted with the background: whatever surrounds the line on screen (grid
// lines, the edges of a highlight, the descenders of the line above) is not part of it.
std::optional<Image> lineImage(const Image& grey, const PixelBox& box, int inkHeight) {
  const double scale = static_cast<double>(inkHeight) / box.height();
  const int verticalMargin =
      std::max(1, static_cast<int>(std::lround((kEngineHeight / scale - box.height()) / 2)));
  const int horizontalMargin = std::max(2, box.height() / 4);
  const PixelBox region{std::max(0, box.left - horizontalMargin),
                        std::max(0, box.top - verticalMargin),
                        std::min(grey.width(), box.right + horizontalMargin),
                        std::min(grey.height(), box.bottom + verticalMargin)};
  // The ink box plus the faint outer fringe of antialiased glyphs.
  const PixelBox ink{std::max(region.left, box.left - 1), std::max(region.top, box.top - 1),
                     std::min(region.right, box.right + 1),
                     std::min(region.bottom, box.bottom + 1)};
  const std::uint8_t background = backgroundOf(grey, region);
  Image crop = Image::forOverwrite(region.width(), region.height(), PixelFormat::grey);
  for (int y = region.top; y < region.bottom; ++y) {
    std::uint8_t* row = crop.row(y - region.top);
    std::memset(row, background, static_cast<std::size_t>(region.width()));
    if (y >= ink.top && y < ink.bottom) {
      std::memcpy(row + (ink.left - region.left), grey.row(y) + ink.left,
                  static_cast<std::size_t>(ink.width()));
    }
  }
  makeDarkOnLight(crop, background);
  const int width = std::max(1, static_cast<int>(std::lround(static_cast<double>(crop.width()) *
                                                             kEngineHeight / crop.height())));
  return Imaging::redraw(crop, width, kEngineHeight, PixelFormat::grey);
}

// One window's content on its own: the pixels of its visible parts, and everything else in its
// box (other windows over it, the screen's edge) painted in its most common grey, so that no
// edge or glyph of another window reaches its lines.
struct WindowPicture {
  PixelBox bounds;
  Image grey;
};

std::optional<WindowPicture> windowPicture(const Image& grey, const WindowArea& area) {
  const PixelBox bounds = intersected(area.bounds, {0, 0, grey.width(), grey.height()});
  if (bounds.width() < 2 || bounds.height() < 2) {
    return std::nullopt;
  }
  std::vector<PixelBox> parts;
  std::array<std::int64_t, 256> histogram{};
  for (const PixelBox& visible : area.visible) {
    const PixelBox part = intersected(visible, bounds);
    if (part.empty()) {
      continue;
    }
    parts.push_back(part);
    for (int y = part.top; y < part.bottom; ++y) {
      const std::uint8_t* row = grey.row(y);
      for (int x = part.left; x < part.right; ++x) {
        ++histogram[row[x]];
      }
    }
  }
  if (parts.empty()) {
    return std::nullopt;
  }
  const auto fill = static_cast<std::uint8_t>(std::max_element(histogram.begin(), histogram.end()) -
                                              histogram.begin());
  Image picture = Image::forOverwrite(bounds.width(), bounds.height(), PixelFormat::grey);
  for (int y = 0; y < picture.height(); ++y) {
    std::memset(picture.row(y), fill, static_cast<std::size_t>(picture.width()));
  }
  for (const PixelBox& part : parts) {
    for (int y = part.top; y < part.bottom; ++y) {
      std::memcpy(picture.row(y - bounds.top) + (part.left - bounds.left), grey.row(y) + part.left,
                  static_cast<std::size_t>(part.width()));
    }
  }
  return WindowPicture{bounds, std::move(picture)};
}

bool coversWholeImage(const WindowArea& area, const Image& image) {
  const PixelBox whole{0, 0, image.width(), image.height()};
  return std::any_of(area.visible.begin(), area.visible.end(),
                     [&](const PixelBox& part) { return intersected(part, whole) == whole; });
}

std::uint64_t pixelHash(const Image& image) {
  std::uint64_t hash =
      static_cast<std::uint64_t>(image.width()) << 32 | static_cast<std::uint32_t>(image.height());
  const std::hash<std::string_view> rowHash;
  for (int y = 0; y < image.height(); ++y) {
    const std::string_view row(reinterpret_cast<const char*>(image.row(y)),
                               static_cast<std::size_t>(image.width()));
    hash = (hash ^ rowHash(row)) * 0x100000001b3ULL;
  }
  return hash;
}

int engineCount(const TextRecognizer::Options& options) {
  if (options.layout != TextRecognizer::Options::Layout::screenLines) {
    return 1;
  }
  if (options.engines > 0) {
    return options.engines;
  }
  return static_cast<int>(workThreads());
}

std::unique_ptr<tesseract::TessBaseAPI> startEngine(const TextRecognizer::Options& options) {
  auto api = std::make_unique<tesseract::TessBaseAPI>();
  const char* dataPath = options.dataPath.empty() ? nullptr : options.dataPath.c_str();
  if (api->Init(dataPath, options.languages.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
    throw TextRecognitionError("Text recognition is unavailable: the language data \"" +
                               options.languages + "\" could not be loaded");
  }
  // Tesseract's notes would go to standard error; nobody reads them there.
  api->SetVariable("debug_file", "/dev/null");
  if (options.layout == TextRecognizer::Options::Layout::screenLines) {
    // Polarity is settled before a line reaches the engine, so it need not read lines twice.
    api->SetVariable("tessedit_do_invert", "0");
  }
  return api;
}

std::string readLine(tesseract::TessBaseAPI& api, const Image& line) {
  api.SetPageSegMode(tesseract::PSM_RAW_LINE);
  api.SetImage(line.row(0), line.width(), line.height(), 1, static_cast<int>(line.stride()));
  api.SetSourceResolution(kScreenResolution);
  if (api.Recognize(nullptr) != 0) {
    throw TextRecognitionError("Text recognition failed");
  }
  const TesseractText text(api.GetUTF8Text());
  return text ? std::string(text.get()) : std::string();
}

// Reads the line images with every engine at once, the widest first so that the engines finish
// together. The first failure stops the others and is thrown once all have stopped.
std::vector<std::string> readLines(std::vector<std::unique_ptr<tesseract::TessBaseAPI>>& apis,
                                   const std::vector<const Image*>& lines) {
  std::vector<std::size_t> order(lines.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return lines[a]->width() > lines[b]->width();
  });
  std::vector<std::string> texts(lines.size());
  forEachInParallel(order.size(), apis.size(), [&](std::size_t engine, std::size_t i) {
    texts[order[i]] = readLine(*apis[engine], *lines[order[i]]);
  });
  return texts;
}

}  // namespace

struct TextRecognizer::Engine {
  Options options;
  std::vector<std::unique_ptr<tesseract::TessBaseAPI>> apis;
  Statistics statistics;
  // Text of the lines read by the previous call and by the current one, by their pixels.
  std::unordered_map<std::uint64_t, std::string> previousLines;
  std::unordered_map<std::uint64_t, std::string> currentLines;

  explicit Engine(Options chosen) : options(std::move(chosen)) {
    serialOpenMPRegions();
    for (int i = engineCount(options); i > 0; --i) {
      apis.push_back(startEngine(options));
    }
  }

  std::vector<RecognizedObservation> readScreenLines(const Image& grey,
                                                     const std::vector<WindowArea>& windows) {
    currentLines.clear();
    struct Found {
      PixelBox box;
      Image line;
      std::uint64_t key = 0;
      std::optional<std::size_t> reading;  // index into `toRead`, when the engine reads it
      std::string text;
    };
    std::vector<Found> found;
    std::vector<const Image*> toRead;
    std::unordered_map<std::uint64_t, std::size_t> readingByKey;
    const double minimumHeight = kMinimumTextHeight * kCapitalsShare * grey.height();
    auto findLines = [&](const Image& picture, int left, int top) {
      for (const PixelBox& box : findTextLines(picture)) {
        if (box.height() < minimumHeight) {
          continue;
        }
        ++statistics.linesFound;
        std::optional<Image> line = lineImage(picture, box, options.inkHeight);
        if (line) {
          found.push_back({{box.left + left, box.top + top, box.right + left, box.bottom + top},
                           std::move(*line)});
        }
      }
    };
    if (windows.empty() || (windows.size() == 1 && coversWholeImage(windows.front(), grey))) {
      findLines(grey, 0, 0);
    } else {
      for (const WindowArea& area : windows) {
        if (std::optional<WindowPicture> picture = windowPicture(grey, area)) {
          findLines(picture->grey, picture->bounds.left, picture->bounds.top);
        }
      }
    }
    // Pointers into `found` stay valid from here on: it no longer grows.
    for (Found& item : found) {
      if (!options.reuseUnchangedLines) {
        item.reading = toRead.size();
        toRead.push_back(&item.line);
        continue;
      }
      item.key = pixelHash(item.line);
      if (auto known = previousLines.find(item.key); known != previousLines.end()) {
        item.text = known->second;
      } else if (auto same = readingByKey.find(item.key); same != readingByKey.end()) {
        item.reading = same->second;
      } else {
        item.reading = readingByKey[item.key] = toRead.size();
        toRead.push_back(&item.line);
      }
    }
    const std::vector<std::string> texts = readLines(apis, toRead);
    for (const Image* line : toRead) {
      ++statistics.linesRead;
      statistics.engineColumns += line->width();
    }
    std::vector<RecognizedObservation> observations;
    for (Found& item : found) {
      if (item.reading) {
        item.text = texts[*item.reading];
      }
      if (options.reuseUnchangedLines) {
        currentLines.emplace(item.key, item.text);
      }
      observations.push_back(RecognizedObservation::fromPixelBox(
          std::move(item.text), item.box.left, item.box.top, item.box.right, item.box.bottom,
          grey.width(), grey.height()));
    }
    previousLines.swap(currentLines);
    return observations;
  }

  std::vector<RecognizedObservation> readPage(const Image& grey) {
    const double scale = options.pageScale > 0 ? options.pageScale : 1.0;
    std::optional<Image> page = grey;
    if (scale != 1.0) {
      page = Imaging::redraw(grey, std::max(1, static_cast<int>(std::lround(grey.width() * scale))),
                             std::max(1, static_cast<int>(std::lround(grey.height() * scale))),
                             PixelFormat::grey);
      if (!page) {
        throw TextRecognitionError("Text recognition failed");
      }
    }
    tesseract::TessBaseAPI& api = *apis.front();
    api.SetPageSegMode(static_cast<tesseract::PageSegMode>(options.pageSegmentation));
    api.SetImage(page->row(0), page->width(), page->height(), 1, static_cast<int>(page->stride()));
    if (api.Recognize(nullptr) != 0) {
      throw TextRecognitionError("Text recognition failed");
    }
    std::vector<RecognizedObservation> observations;
    const std::unique_ptr<tesseract::ResultIterator> lines(api.GetIterator());
    if (!lines || lines->Empty(tesseract::RIL_TEXTLINE)) {
      return observations;
    }
    const double minimumHeight = kMinimumTextHeight * page->height();
    do {
      int left = 0, top = 0, right = 0, bottom = 0;
      if (!lines->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom) ||
          bottom - top < minimumHeight) {
        continue;
      }
      const TesseractText text(lines->GetUTF8Text(tesseract::RIL_TEXTLINE));
      ++statistics.linesFound;
      observations.push_back(RecognizedObservation::fromPixelBox(
          text ? std::optional<std::string>(text.get()) : std::nullopt, left, top, right, bottom,
          page->width(), page->height()));
    } while (lines->Next(tesseract::RIL_TEXTLINE));
    return observations;
  }
};

TextRecognizer::TextRecognizer() : TextRecognizer(Options{}) {}

TextRecognizer::TextRecognizer(Options options)
    : engine_(std::make_unique<Engine>(std::move(options))) {}

TextRecognizer::~TextRecognizer() = default;
TextRecognizer::TextRecognizer(TextRecognizer&&) noexcept = default;
TextRecognizer& TextRecognizer::operator=(TextRecognizer&&) noexcept = default;

std::vector<TextLine> TextRecognizer::recognize(const Image& image,
                                                const std::vector<WindowArea>& windows) {
  engine_->statistics = {};
  if (image.empty()) {
    return {};
  }
  const std::optional<Image> grey = image.format() == PixelFormat::grey
                                        ? std::optional<Image>(image)
                                        : Imaging::scale(image, image.width(), true);
  if (!grey) {
    throw TextRecognitionError("Text recognition failed");
  }
  const std::vector<RecognizedObservation> observations =
      engine_->options.layout == Options::Layout::screenLines
          ? engine_->readScreenLines(*grey, windows)
          : engine_->readPage(*grey);
  return linesFromObservations(observations);
}

TextRecognizer::Statistics TextRecognizer::lastStatistics() const {
  return engine_->statistics;
}

}  // namespace vistrel
