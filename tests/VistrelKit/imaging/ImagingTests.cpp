#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <turbojpeg.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string_view>

#include "VistrelKit/imaging/Imaging.h"

namespace vistrel {
namespace {

using Paint = std::function<void(int x, int y, std::uint8_t* pixel)>;

Image makeImage(int width, int height, PixelFormat format, const Paint& paint) {
  Image image(width, height, format);
  const int channels = bytesPerPixel(format);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      paint(x, y, image.row(y) + static_cast<std::size_t>(x) * channels);
    }
  }
  return image;
}

Image solid(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  Image image(width, height, PixelFormat::rgbx);
  for (int x = 0; x < width; ++x) {
    std::uint8_t* pixel = image.row(0) + x * 4;
    pixel[0] = r;
    pixel[1] = g;
    pixel[2] = b;
  }
  for (int y = 1; y < height; ++y) {
    std::memcpy(image.row(y), image.row(0), image.stride());
  }
  return image;
}

Image gradient(int width, int height) {
  return makeImage(width, height, PixelFormat::rgbx, [&](int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(x * 255 / width);
    p[1] = static_cast<std::uint8_t>(y * 255 / height);
    p[2] = static_cast<std::uint8_t>((x + y) % 256);
  });
}

struct SizeCase {
  int width, height, maxWidth;
  int expectedWidth, expectedHeight;
};

TEST(ImagingTest, ScaledSizesKeepTheAspectRatioRoundedHalfAway) {
  const SizeCase cases[] = {
      {2880, 1800, 1600, 1600, 1000},
      {2880, 1800, 360, 360, 225},
      {1000, 1, 10, 10, 1},  // never drops to zero rows
      {4, 5, 2, 2, 3},       // 2.5 rounds away from zero
      {4, 3, 2, 2, 2},       // 1.5 too
      {1920, 1080, 1600, 1600, 900},
      {1600, 1000, 1600, 1600, 1000},
  };
  for (const SizeCase& c : cases) {
    const Image source(c.width, c.height, PixelFormat::rgbx);
    for (bool grey : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " to " << c.maxWidth
                                      << (grey ? " grey" : " colour"));
      const auto scaled = Imaging::scale(source, c.maxWidth, grey);
      ASSERT_TRUE(scaled);
      EXPECT_EQ(scaled->width(), c.expectedWidth);
      EXPECT_EQ(scaled->height(), c.expectedHeight);
      EXPECT_EQ(scaled->format(), grey ? PixelFormat::grey : PixelFormat::rgbx);
    }
  }
}

TEST(ImagingTest, NarrowColourImageIsReturnedUntouched) {
  const Image source = gradient(500, 300);
  for (int maxWidth : {500, 640}) {
    const auto same = Imaging::scale(source, maxWidth, false);
    ASSERT_TRUE(same);
    EXPECT_TRUE(same->sharesPixelsWith(source));
    EXPECT_EQ(same->width(), 500);
  }
}

TEST(ImagingTest, GreyFlagAlwaysRedrawsAsGrey) {
  const Image red = solid(500, 300, 255, 0, 0);
  const auto grey = Imaging::scale(red, 640, true);
  ASSERT_TRUE(grey);
  EXPECT_FALSE(grey->sharesPixelsWith(red));
  EXPECT_EQ(grey->format(), PixelFormat::grey);
  EXPECT_EQ(grey->width(), 500);
  EXPECT_EQ(grey->height(), 300);
  // Luma of pure red: 0.299 of full scale.
  EXPECT_NEAR(grey->row(150)[250], 77, 1);
}

TEST(ImagingTest, FlatAreasStayExactlyFlat) {
  const auto scaled = Imaging::scale(solid(2880, 1800, 12, 200, 99), 1600, false);
  ASSERT_TRUE(scaled);
  for (int y : {0, 500, 999}) {
    for (int x : {0, 800, 1599}) {
      const std::uint8_t* p = scaled->row(y) + x * 4;
      EXPECT_EQ(p[0], 12);
      EXPECT_EQ(p[1], 200);
      EXPECT_EQ(p[2], 99);
    }
  }
}

TEST(ImagingTest, DownscalingAveragesFineDetailInsteadOfAliasing) {
  // One-pixel black and white stripes: a point sampler would give stripes of pure black or white.
  const Image stripes = makeImage(1000, 100, PixelFormat::rgbx, [](int x, int, std::uint8_t* p) {
    p[0] = p[1] = p[2] = (x % 2) ? 255 : 0;
  });
  const auto scaled = Imaging::scale(stripes, 370, true);
  ASSERT_TRUE(scaled);
  for (int x = 2; x < scaled->width() - 2; ++x) {
    EXPECT_NEAR(scaled->row(18)[x], 128, 24) << "column " << x;
  }
}

TEST(ImagingTest, ScalingRefusesEmptyImagesAndWidthsBelowOne) {
  EXPECT_FALSE(Imaging::scale(Image(), 100, false));
  EXPECT_FALSE(Imaging::scale(Image(0, 10, PixelFormat::rgbx), 100, true));
  EXPECT_FALSE(Imaging::scale(solid(10, 10, 0, 0, 0), 0, false));
  EXPECT_FALSE(Imaging::scale(solid(10, 10, 0, 0, 0), -5, true));
}

double meanAbsoluteError(const Image& a, const Image& b) {
  double total = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      for (int c = 0; c < 3; ++c) {
        total += std::abs(a.row(y)[x * 4 + c] - b.row(y)[x * 4 + c]);
      }
    }
  }
  return total / (3.0 * a.width() * a.height());
}

TEST(ImagingTest, JPEGRoundTripKeepsSizeAndPicture) {
  const Image source = gradient(320, 200);
  const auto bytes = Imaging::jpeg(source, 0.6);
  ASSERT_TRUE(bytes);
  ASSERT_GT(bytes->size(), 4u);
  EXPECT_EQ((*bytes)[0], 0xff);
  EXPECT_EQ((*bytes)[1], 0xd8);
  const auto decoded = Imaging::decodeJPEG(*bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->width(), 320);
  EXPECT_EQ(decoded->height(), 200);
  EXPECT_EQ(decoded->format(), PixelFormat::rgbx);
  EXPECT_LT(meanAbsoluteError(source, *decoded), 4.0);

  const auto better = Imaging::jpeg(source, 0.95);
  ASSERT_TRUE(better);
  EXPECT_GT(better->size(), bytes->size());
}

TEST(ImagingTest, GreyJPEGDecodesToEqualChannels) {
  const auto grey = Imaging::scale(gradient(200, 100), 200, true);
  ASSERT_TRUE(grey);
  const auto bytes = Imaging::jpeg(*grey, 0.8);
  ASSERT_TRUE(bytes);
  const auto decoded = Imaging::decode(*bytes);
  ASSERT_TRUE(decoded);
  const std::uint8_t* p = decoded->row(50) + 100 * 4;
  EXPECT_EQ(p[0], p[1]);
  EXPECT_EQ(p[1], p[2]);
  EXPECT_NEAR(p[0], grey->row(50)[100], 6);
}

TEST(ImagingTest, JPEGRefusesEmptyImageAndNonFiniteQuality) {
  EXPECT_FALSE(Imaging::jpeg(Image(), 0.6));
  EXPECT_FALSE(Imaging::jpeg(solid(8, 8, 1, 2, 3), std::nan("")));
}

Bytes pngOf(const Image& rgba) {
  png_image control{};
  control.version = PNG_IMAGE_VERSION;
  control.width = static_cast<png_uint_32>(rgba.width());
  control.height = static_cast<png_uint_32>(rgba.height());
  control.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  EXPECT_NE(png_image_write_get_memory_size(control, size, 0, rgba.row(0),
                                            static_cast<png_int_32>(rgba.stride()), nullptr),
            0);
  Bytes bytes(size);
  EXPECT_NE(png_image_write_to_memory(&control, bytes.data(), &size, 0, rgba.row(0),
                                      static_cast<png_int_32>(rgba.stride()), nullptr),
            0);
  bytes.resize(size);
  return bytes;
}

TEST(ImagingTest, PNGDecodesAndCompositesTransparencyOverWhite) {
  // Left half opaque blue, right half fully transparent black.
  const Image rgba = makeImage(40, 10, PixelFormat::rgbx, [](int x, int, std::uint8_t* p) {
    p[0] = 0;
    p[1] = 0;
    p[2] = x < 20 ? 255 : 0;
    p[3] = x < 20 ? 255 : 0;
  });
  const Bytes bytes = pngOf(rgba);
  for (const auto& decoded : {Imaging::decodePNG(bytes), Imaging::decode(bytes)}) {
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 40);
    EXPECT_EQ(decoded->height(), 10);
    const std::uint8_t* blue = decoded->row(5) + 5 * 4;
    const std::uint8_t* clear = decoded->row(5) + 30 * 4;
    EXPECT_EQ(blue[0], 0);
    EXPECT_EQ(blue[2], 255);
    EXPECT_EQ(clear[0], 255);
    EXPECT_EQ(clear[1], 255);
    EXPECT_EQ(clear[2], 255);
  }
}

// A chunk with a correct checksum, put in right after the IHDR chunk (which ends at byte 33).
Bytes withChunk(const Bytes& png, std::string_view type, const Bytes& data) {
  Bytes chunk = {
      static_cast<std::uint8_t>(data.size() >> 24), static_cast<std::uint8_t>(data.size() >> 16),
      static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size())};
  chunk.insert(chunk.end(), type.begin(), type.end());
  chunk.insert(chunk.end(), data.begin(), data.end());
  const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  for (int i = 0; i < 4; ++i) {
    chunk.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
  }
  Bytes result = png;
  result.insert(result.begin() + 33, chunk.begin(), chunk.end());
  return result;
}

long peakResidentKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(ImagingTest, PNGTextProfileAndPrivateChunksDoNotChangeThePicture) {
  const Image rgba = makeImage(12, 8, PixelFormat::rgbx, [](int x, int y, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(x * 20);
    p[1] = static_cast<std::uint8_t>(y * 30);
    p[2] = 90;
    p[3] = 255;
  });
  const Bytes plain = pngOf(rgba);
  // A deflated text of a megabyte of zeros, as an inflation bomb would be, only smaller.
  const Bytes zeros(1 << 20, 0);
  uLongf packedSize = compressBound(zeros.size());
  Bytes packed(packedSize);
  ASSERT_EQ(compress(packed.data(), &packedSize, zeros.data(), zeros.size()), Z_OK);
  packed.resize(packedSize);
  Bytes compressedText = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
  compressedText.insert(compressedText.end(), packed.begin(), packed.end());

  Bytes decorated = withChunk(plain, "tEXt", {'T', 'i', 't', 'l', 'e', 0, 'h', 'i'});
  decorated = withChunk(decorated, "zTXt", compressedText);
  decorated = withChunk(decorated, "prVt", {1, 2, 3});
  const auto expected = Imaging::decodePNG(plain);
  const auto decoded = Imaging::decodePNG(decorated);
  ASSERT_TRUE(expected);
  ASSERT_TRUE(decoded);
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(std::memcmp(decoded->row(y), expected->row(y), 12 * 4), 0) << y;
  }
}

// Found by fuzzing: 57 bytes whose text chunk claims 1.3 GB made libpng allocate and clear that
// much before finding the file too short.
TEST(ImagingTest, PNGChunkClaimingMoreThanTheFileIsRefusedWithoutAllocatingIt) {
  const Bytes fuzzed = {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d,
                        0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02,
                        0x08, 0x06, 0x00, 0x00, 0x00, 0x9d, 0x74, 0x66, 0x1a, 0x00, 0x00, 0x00,
                        0x04, 0x67, 0x41, 0x4d, 0x41, 0x00, 0x00, 0x17, 0x70, 0x9c, 0xba, 0x83,
                        0x29, 0x4f, 0x25, 0x02, 0x25, 0x74, 0x45, 0x58, 0x74};
  const long before = peakResidentKilobytes();
  EXPECT_FALSE(Imaging::decodePNG(fuzzed));
  EXPECT_FALSE(Imaging::decode(fuzzed));
  EXPECT_LT(peakResidentKilobytes() - before, 64 * 1024);

  // The same lie in an otherwise valid picture.
  const Bytes png = withChunk(pngOf(solid(4, 4, 1, 2, 3)), "tEXt", {'a', 0, 'b'});
  Bytes lying = png;
  lying[33] = 0x25;  // the text chunk's length, now about 620 MB
  EXPECT_FALSE(Imaging::decodePNG(lying));
  EXPECT_LT(peakResidentKilobytes() - before, 64 * 1024);
}

// Found by fuzzing: a 25-byte JPEG whose header promises 1,024 x 62,980 pixels, within the decode
// limit, made the decoder take a quarter of a gigabyte and seconds before finding the data missing.
// A PNG header over a few bytes of image data is the same lie.
TEST(ImagingTest, HeadersPromisingFarMorePixelsThanTheDataCanHoldAreRefusedAtOnce) {
  const Bytes fuzzedJPEG = {0xff, 0xd8, 0xff, 0xc0, 0x00, 0x0b, 0x08, 0xf6, 0x04,
                            0x04, 0x00, 0x01, 0x01, 0x11, 0x80, 0xff, 0xda, 0x00,
                            0x08, 0x01, 0x01, 0x00, 0x00, 0x2e, 0x00};
  Bytes arithmeticJPEG = fuzzedJPEG;
  arithmeticJPEG[3] = 0xca;  // the same frame, progressive and arithmetic-coded
  Bytes tallPNG = pngOf(solid(4, 4, 1, 2, 3));
  tallPNG[20] = 0x00;  // IHDR height: 4 -> 62,980
  tallPNG[21] = 0x00;
  tallPNG[22] = 0xf6;
  tallPNG[23] = 0x04;
  tallPNG[16] = 0x00;  // IHDR width: 4 -> 1,024
  tallPNG[17] = 0x00;
  tallPNG[18] = 0x04;
  tallPNG[19] = 0x00;
  const uLong crc = crc32(0, tallPNG.data() + 12, 17);
  for (int i = 0; i < 4; ++i) {
    tallPNG[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  }
  const long before = peakResidentKilobytes();
  EXPECT_FALSE(Imaging::decode(fuzzedJPEG));
  EXPECT_FALSE(Imaging::decodeJPEG(fuzzedJPEG));
  EXPECT_FALSE(Imaging::decodeJPEG(arithmeticJPEG));
  EXPECT_FALSE(Imaging::decode(tallPNG));
  EXPECT_FALSE(Imaging::decodePNG(tallPNG));
  EXPECT_LT(peakResidentKilobytes() - before, 64 * 1024);
}

TEST(ImagingTest, LargeImagesThatCompressExtremelyWellStillDecode) {
  const Image plain = makeImage(2400, 1200, PixelFormat::rgbx, [](int, int, std::uint8_t* p) {
    p[0] = 40;
    p[1] = 80;
    p[2] = 120;
    p[3] = 255;  // opaque, as PNG alpha
  });
  const Bytes png = pngOf(plain);
  const auto fromPNG = Imaging::decodePNG(png);
  ASSERT_TRUE(fromPNG) << png.size() << " bytes";
  EXPECT_EQ(fromPNG->height(), 1200);
  EXPECT_EQ(fromPNG->row(1199)[4 * 2399 + 2], 120);
  const auto jpeg = Imaging::jpeg(plain, 0.1);
  ASSERT_TRUE(jpeg);
  const auto fromJPEG = Imaging::decodeJPEG(*jpeg);
  ASSERT_TRUE(fromJPEG) << jpeg->size() << " bytes";
  EXPECT_EQ(fromJPEG->width(), 2400);
}

TEST(ImagingTest, DamagedOrHostileDataDecodesToNothing) {
  const Bytes jpeg = *Imaging::jpeg(gradient(64, 64), 0.6);
  const Bytes png = pngOf(solid(64, 64, 1, 2, 3));

  std::mt19937 random(7);
  Bytes noise(5000);
  for (auto& byte : noise) {
    byte = static_cast<std::uint8_t>(random());
  }
  Bytes jpegHeaderThenNoise(jpeg.begin(), jpeg.begin() + 200);
  jpegHeaderThenNoise.insert(jpegHeaderThenNoise.end(), noise.begin(), noise.end());
  Bytes scrambledJPEG = jpeg;
  for (std::size_t i = jpeg.size() / 3; i < jpeg.size(); i += 7) {
    scrambledJPEG[i] ^= 0x5a;
  }
  Bytes pngWithBadChecksum = png;
  pngWithBadChecksum[pngWithBadChecksum.size() / 2] ^= 0xff;
  // Headers claiming 65,000 x 65,000 pixels, otherwise intact: refused before anything that
  // large is allocated.
  Bytes giantPNG = png;
  for (int offset : {16, 20}) {
    giantPNG[offset] = 0x00;
    giantPNG[offset + 1] = 0x00;
    giantPNG[offset + 2] = 0xfd;
    giantPNG[offset + 3] = 0xe8;
  }
  const uLong crc = crc32(0, giantPNG.data() + 12, 17);  // IHDR type and data
  for (int i = 0; i < 4; ++i) {
    giantPNG[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  }
  Bytes giantJPEG = jpeg;
  for (std::size_t i = 0; i + 8 < giantJPEG.size(); ++i) {
    if (giantJPEG[i] == 0xff && giantJPEG[i + 1] == 0xc0) {  // start of frame: height, width
      giantJPEG[i + 5] = giantJPEG[i + 7] = 0xfd;
      giantJPEG[i + 6] = giantJPEG[i + 8] = 0xe8;
      break;
    }
  }
  {
    // Both headers really are readable and that large, so only the size limit refuses them.
    png_image header{};
    header.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_memory(&header, giantPNG.data(), giantPNG.size()), 0);
    EXPECT_EQ(header.width, 65000u);
    png_image_free(&header);
    tjhandle handle = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourSpace = 0;
    ASSERT_EQ(tjDecompressHeader3(handle, giantJPEG.data(), giantJPEG.size(), &width, &height,
                                  &subsampling, &colourSpace),
              0);
    tjDestroy(handle);
    EXPECT_EQ(width, 65000);
    EXPECT_EQ(height, 65000);
  }

  const std::pair<const char*, Bytes> cases[] = {
      {"empty", {}},
      {"noise", noise},
      {"jpeg magic only", {0xff, 0xd8, 0xff}},
      {"truncated jpeg", Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() / 2)},
      {"jpeg header then noise", jpegHeaderThenNoise},
      {"scrambled jpeg", scrambledJPEG},
      {"truncated png", Bytes(png.begin(), png.begin() + png.size() / 2)},
      {"png with bad checksum", pngWithBadChecksum},
      {"giant png", giantPNG},
      {"giant jpeg", giantJPEG},
      // A header of 4,227,989,500 x 4,291,807,700 pixels, whose count does not fit 64 bits.
      {"png header beyond 64 bits",
       {0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d,
        0x49, 0x48, 0x44, 0x52, 0xfc, 0x01, 0xff, 0xfc, 0xff, 0xcf, 0xc9, 0xd4,
        0xc7, 0xd9, 0x00, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0xf7, 0x00, 0x00, 0x60}},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(Imaging::decode(bytes));
    EXPECT_FALSE(Imaging::decodeJPEG(bytes));
    EXPECT_FALSE(Imaging::decodePNG(bytes));
  }
}

TEST(ImagingTest, SingleColourLooksAtEveryPixelButNotThePadding) {
  for (const PixelFormat format : {PixelFormat::rgbx, PixelFormat::grey}) {
    Image image(7, 5, format);
    EXPECT_TRUE(Imaging::isSingleColour(image));
    if (format == PixelFormat::rgbx) {
      image.row(4)[4 * 6 + 3] = 255;  // the padding byte of the last pixel
      EXPECT_TRUE(Imaging::isSingleColour(image));
    }
    image.row(4)[bytesPerPixel(format) * 6] = 1;  // the last pixel's first channel
    EXPECT_FALSE(Imaging::isSingleColour(image));
  }
  EXPECT_TRUE(Imaging::isSingleColour(Image(0, 0, PixelFormat::rgbx)));
}

}  // namespace
}  // namespace vistrel
