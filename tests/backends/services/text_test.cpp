// Text through the operating system (GDI on Windows, Pango on Linux): it lands in the frame's own pixels, changes only
// glyph pixels (each one only towards the text's colour), stays inside the rectangle it reports and the clip, and is
// sized in points.
#include <gtest/gtest.h>

#include <vector>

#include "forms/native_services.h"

namespace {

using forms::Pixel;

// A background where every pixel differs from its neighbours, so a stray write cannot go unnoticed.
Pixel background(int x, int y) { return static_cast<Pixel>((x * 2654435761u) ^ (y * 40503u)) & 0x7F7F7F; }

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame = forms::make_memory_frame({200, 80});
    for (int y = 0; y < frame->height(); ++y) {
      for (int x = 0; x < frame->width(); ++x) frame->row(y)[x] = background(x, y);
    }
  }

  std::unique_ptr<forms::NativeServices> services = forms::make_native_services();
  std::unique_ptr<forms::FrameBuffer> frame;
  const forms::TextStyle style{"Verdana", 24, true};
};

TEST_F(TextTest, ChangesOnlyGlyphPixelsTowardsTheTextColour) {
  const Pixel white = 0xFFFFFF;
  const forms::Rect clip{0, 0, 200, 80};
  const forms::Rect changed = services->draw_text(*frame, 20, 10, " 12", style, 96, white, clip);
  int touched = 0;
  for (int y = 0; y < frame->height(); ++y) {
    for (int x = 0; x < frame->width(); ++x) {
      const Pixel was = background(x, y);
      const Pixel now = frame->row(y)[x];
      if (now == was) continue;
      ++touched;
      ASSERT_TRUE(changed.contains(x, y)) << "pixel (" << x << ", " << y << ") changed outside the reported rectangle";
      ASSERT_GE(y, 10) << "text reaches above its cell's top";
      for (int shift : {16, 8, 0}) {
        ASSERT_GE((now >> shift) & 0xFF, (was >> shift) & 0xFF)
            << "pixel (" << x << ", " << y << ") moved away from white";
      }
    }
  }
  // Two bold digits of 32 pixels cover a few hundred pixels, but nowhere near their whole cell.
  const forms::Size cell = services->measure_text(" 12", style, 96);
  EXPECT_GT(touched, 150);
  EXPECT_LT(touched, cell.width * cell.height / 2);
}

TEST_F(TextTest, StaysInsideTheClip) {
  const forms::Rect clip{30, 15, 45, 40};
  services->draw_text(*frame, 20, 10, "WWW", style, 96, 0xFFFFFF, clip);
  for (int y = 0; y < frame->height(); ++y) {
    for (int x = 0; x < frame->width(); ++x) {
      if (clip.contains(x, y)) continue;
      ASSERT_EQ(frame->row(y)[x], background(x, y)) << "(" << x << ", " << y << ")";
    }
  }
}

TEST_F(TextTest, SizesFollowPointsAndResolution) {
  const forms::Size at96 = services->measure_text("12", style, 96);
  const forms::Size at192 = services->measure_text("12", style, 192);
  const forms::Size small = services->measure_text("12", {"Verdana", 12, true}, 96);
  const forms::Size regular = services->measure_text("12", {"Verdana", 24, false}, 96);
  EXPECT_GE(at96.height, 32);  // 24 pt at 96 dpi: a 32-pixel em, and the cell is taller
  EXPECT_NEAR(at192.height, 2 * at96.height, 3);
  EXPECT_NEAR(small.height * 2, at96.height, 3);
  EXPECT_LE(regular.width, at96.width);
  // A fractional size rounds to whole pixels, and the smallest still draws something measurable.
  EXPECT_EQ(services->measure_text("8", {"Verdana", 9.75, true}, 96).height,
            services->measure_text("8", {"Verdana", 9.8, true}, 96).height);
  EXPECT_GT(services->measure_text(" 3", {"Verdana", 1, false}, 96).height, 0);
}

}  // namespace
