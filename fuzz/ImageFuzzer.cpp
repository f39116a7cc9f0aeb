// Frame files and thumbnails are decoded to be shown; a damaged or planted file must give no image,
// never a crash, a read out of bounds or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "VistrelKit/imaging/Imaging.h"
#include "fuzz/FuzzCheck.h"

using namespace vistrel;

namespace {

void check(const std::optional<Image>& image) {
  if (!image)
    return;
  FUZZ_CHECK(image->format() == PixelFormat::rgbx);
  FUZZ_CHECK(image->width() > 0 && image->height() > 0);
  FUZZ_CHECK(std::int64_t{image->width()} * image->height() <= Imaging::maxDecodedPixels);
  FUZZ_CHECK(image->stride() >= static_cast<std::size_t>(image->width()) * 4);
  // Touch the first and last pixel so a short buffer shows up under AddressSanitizer.
  volatile std::uint8_t sink = image->row(0)[0];
  sink = image->row(image->height() - 1)[image->width() * 4 - 1];
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  check(Imaging::decode(bytes));
  check(Imaging::decodeJPEG(bytes));
  check(Imaging::decodePNG(bytes));
  return 0;
}
