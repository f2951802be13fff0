// A copy batch shared out in bands of rows among threads gives the pixels it gives on one thread.
#include "graphics/copy_batch.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "graphics/frame_buffer.h"

namespace {

using forms::CopyBatch;
using forms::Pixel;
namespace raster = forms::raster;

// A face-like batch: a fill, a picture with translucent pixels under everything, a field of rings round
// one centre with pens wider or narrower than their spacing, and boxes, lines and dots over it.
void make_face(CopyBatch& batch, std::mt19937& random, int width, int height, const forms::PictureRef& picture) {
  std::uniform_real_distribution<double> x(-0.2 * width, 1.2 * width);
  std::uniform_real_distribution<double> y(-0.2 * height, 1.2 * height);
  const auto color = [&] { return static_cast<Pixel>(random() % 0x1000000); };
  batch.fill(color());
  batch.picture(forms::PictureScaler(picture, x(random), y(random), x(random), y(random), {width, height}));
  const raster::Point centre = raster::snap(x(random), y(random), 3);
  const int pen = 1 + static_cast<int>(random() % 9);
  for (double r = 5; r < width; r += 1 + static_cast<double>(random() % 5)) {
    batch.add(raster::Figure(raster::Ring(centre, r, pen)), color());
  }
  for (int i = 0; i < 60; ++i) {
    const int w = 1 + static_cast<int>(random() % 12);
    const raster::Point a = raster::snap(x(random), y(random), w);
    const raster::Point b = raster::snap(x(random), y(random), w);
    switch (random() % 3) {
      case 0:
        batch.add(raster::Figure(raster::BoxOutline(a, b, w)), color());
        break;
      case 1:
        batch.add(raster::Figure(raster::Capsule(a, b, w)), color());
        break;
      default:
        batch.add(raster::Figure(raster::Dot(a, w)), color());
        break;
    }
  }
}

std::string first_difference(const forms::FrameBuffer& actual, const forms::FrameBuffer& expected) {
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      if (actual.row(y)[x] == expected.row(y)[x]) continue;
      std::ostringstream out;
      out << "pixel (" << x << ", " << y << "): actual " << std::hex << actual.row(y)[x] << ", expected "
          << expected.row(y)[x];
      return out.str();
    }
  }
  return "";
}

TEST(CopyBatchTest, BandsResolvedOnSeveralThreadsGiveThePixelsOfOneThread) {
  std::mt19937 random(7);
  // Just over the size a batch is shared out from, with a height no thread count divides evenly.
  const int width = 1201;
  const int height = 877;
  ASSERT_GE(static_cast<long long>(width) * height, CopyBatch::kSharedPixels);
  std::vector<std::uint32_t> argb(23 * 17);
  for (auto& p : argb) {
    const std::uint32_t a = random() % 3 == 0 ? random() % 256 : 255;
    p = (a << 24) | ((random() % 256) * a / 255 << 16) | ((random() % 256) * a / 255 << 8) | (random() % 256) * a / 255;
  }
  const auto picture = std::make_shared<forms::Picture>(23, 17, std::move(argb));
  for (int trial = 0; trial < 4; ++trial) {
    const auto expected = forms::make_memory_frame({width, height});
    const auto shared = forms::make_memory_frame({width, height});
    const unsigned seed = random();
    CopyBatch one;
    CopyBatch several;
    std::mt19937 first(seed);
    std::mt19937 second(seed);
    make_face(one, first, width, height, picture);
    make_face(several, second, width, height, picture);
    one.resolve(*expected, 1);
    several.resolve(*shared, 2 + static_cast<unsigned>(trial % 3));
    ASSERT_EQ(first_difference(*shared, *expected), "") << "trial " << trial << ", seed " << seed;
  }
}

}  // namespace
