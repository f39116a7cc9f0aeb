// Stores frames with given texts straight into a real library (sealed, indexed, with image and
// thumbnail files), without text recognition, so that the end-to-end tests can have a library of
// a thousand known frames in seconds.
//
//   SearchTestFrames DATA_DIR KEY_FILE APP BUNDLE_ID COUNT FIRST_UNIX_SECONDS LINE...
//
// Frame i (from 0) is dated FIRST + i seconds; "{i}" in a line becomes i. An empty BUNDLE_ID
// stores none. Prints the identifiers stored, one a line.

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "VistrelKit/base/Calendar.h"
#include "VistrelKit/imaging/Imaging.h"
#include "VistrelKit/keys/KeyFileStore.h"
#include "VistrelKit/library/FrameLibrary.h"

namespace {

std::string substitute(std::string text, int index) {
  const std::string mark = "{i}";
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at))
    text.replace(at, mark.size(), std::to_string(index));
  return text;
}

vistrel::Bytes solidJPEG(int width, int height, std::uint8_t shade) {
  vistrel::Image image(width, height, vistrel::PixelFormat::rgbx);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width * 4; ++x)
      image.row(y)[x] = std::uint8_t(shade + (x / 4 + y) % 32);
  return *vistrel::Imaging::jpeg(image, 0.8);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 8) {
    std::cerr << "usage: SearchTestFrames DATA_DIR KEY_FILE APP BUNDLE_ID COUNT FIRST LINE...\n";
    return 2;
  }
  using namespace vistrel;
  KeyFileStore keys(argv[2]);
  const auto library = FrameLibrary::open(argv[1], keys, true, Calendar::systemDefault());
  const int count = std::atoi(argv[5]);
  const double first = std::atof(argv[6]);
  const Bytes image = solidJPEG(800, 500, 180);
  const Bytes thumbnail = solidJPEG(320, 200, 120);
  const int lineCount = argc - 7;
  for (int i = 0; i < count; ++i) {
    NewFrame frame;
    frame.date = dateFromSeconds1970(first + i);
    frame.meta.appName = argv[3];
    if (argv[4][0] != '\0')
      frame.meta.bundleID = argv[4];
    frame.meta.width = 800;
    frame.meta.height = 500;
    for (int line = 0; line < lineCount; ++line) {
      frame.meta.lines.push_back(
          TextLine{substitute(argv[7 + line], i), 0.05, 0.1 + 0.8 * line / lineCount, 0.6, 0.05});
    }
    frame.jpeg = image;
    frame.thumbnail = thumbnail;
    std::cout << library->store(frame) << '\n';
  }
  return 0;
}
