#include "windows/preview/frmprev.h"

#include <gtest/gtest.h>

#include "headless_fixture.h"
#include "startup/startup.h"
#include "trace_recorder.h"
#include "windows/saver/frmmain.h"

namespace {

using preview::frmprev;

class FrmprevTest : public HeadlessTest {
 protected:
  frmprev& start_preview(forms::Size host_size = {152, 112}) {
    host = platform->add_foreign_window("host", host_size);
    platform->trace = &trace;
    platform->trace_form = "frmprev";
    platform->command = "/p " + std::to_string(host);
    platform->run_guarded(startup::Main);
    return forms::instance<frmprev>();
  }
  std::vector<TracedOp> face(const std::string& op) const { return trace.face(op); }

  TraceRecorder trace;
  forms::WindowHandle host = 0;
};

TEST_F(FrmprevTest, TheDesignedSurfaceGivesTheSmallDialItsNumbers) {
  stored("BACK_COLOR", "1");
  stored("COLOR1", "2");
  stored("COLOR2", "3");
  frmprev& form = start_preview();
  EXPECT_FLOAT_EQ(form.Picture1.ScaleWidth(), 155);
  EXPECT_FLOAT_EQ(form.Picture1.ScaleHeight(), 113);
  EXPECT_EQ(form.mRadius, 46);   // nearest(46.5): halves go to the even neighbour
  EXPECT_EQ(form.mCenterX, 78);  // nearest(77.5)
  EXPECT_EQ(form.mCenterY, 56);  // nearest(56.5)
  EXPECT_EQ(form.mHalfDiagonal, 96);

  std::vector<double> field, pattern_circles, bezel_white, bezel_grey;
  for (const TracedOp& c : face("circle")) {
    EXPECT_EQ(c.pen, 2);
    if (c.color == 1) field.push_back(c.args[2]);
    if (c.color == 2) pattern_circles.push_back(c.args[2]);
    if (c.color == 0xFFFFFF) bezel_white.push_back(c.args[2]);
    if (c.color == 0xB4B4B4) bezel_grey.push_back(c.args[2]);
  }
  EXPECT_EQ(field.size(), 51u);
  EXPECT_EQ(field.front(), 46);
  EXPECT_EQ(field.back(), 96);
  EXPECT_EQ(pattern_circles, (std::vector<double>{61, 65, 69, 73, 77, 81, 85, 89, 93}));
  std::vector<double> squares;
  for (const TracedOp& b : face("box")) squares.push_back(b.args[2] - 78);
  EXPECT_EQ(squares, (std::vector<double>{63, 67, 71, 75, 79, 83, 87, 91, 95}));
  EXPECT_EQ(bezel_white, (std::vector<double>{47, 49, 51, 53, 55}));
  EXPECT_EQ(bezel_grey, (std::vector<double>{48, 50, 52, 54, 56}));
  EXPECT_EQ(face("pset").size(), 49u);
  EXPECT_EQ(face("print").size(), 13u);
  EXPECT_EQ(face("print").front().args, (std::vector<double>{78 + 46 - 5, 56 - 5}));
  EXPECT_FALSE(form.Picture1.FontBold);
  EXPECT_FLOAT_EQ(form.Picture1.FontSize, 1);

  const TracedOp& picture = trace.ops.front();
  ASSERT_EQ(picture.op, "picture");
  EXPECT_NEAR(picture.args[0], 47.333, 0.001);
  EXPECT_NEAR(picture.args[1], 25.333, 0.001);
  EXPECT_NEAR(picture.args[2], 61.333, 0.001);
}

TEST_F(FrmprevTest, ItsHandsHaveTheirOwnLengthsAndWidths) {
  frmprev& form = start_preview();
  platform->set_time(2, 59, 59);
  platform->advance_ms(1000);  // 3:00:00: minute and second up, hour right
  const auto lines = trace.of("line");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NEAR(56 - lines[0].args[3], 39.87, 0.01);
  EXPECT_NEAR(lines[1].args[2] - 78, 30.67, 0.01);
  EXPECT_NEAR(56 - lines[2].args[3], 44.47, 0.01);
  EXPECT_EQ(lines[0].pen, 2);
  EXPECT_EQ(lines[1].pen, 2);
  EXPECT_EQ(lines[2].pen, 1);
  EXPECT_FLOAT_EQ(form.mPrevHourY, 56);
}

TEST_F(FrmprevTest, TheHostsSizeDoesNotRescaleTheFace) {
  frmprev& small = start_preview({152, 112});
  const int radius = small.mRadius;
  TearDown();
  SetUp();
  frmprev& large = start_preview({400, 300});
  EXPECT_EQ(large.mRadius, radius);
  EXPECT_EQ(large.Picture1.pixel_size(), (forms::Size{160, 113}));
  forms::Size size;
  const auto image = platform->snapshot(large, size);
  EXPECT_EQ(size, (forms::Size{400, 300}));
  EXPECT_EQ(image.back(), 0u) << "the rest of the host's window shows the window's black";
}

TEST_F(FrmprevTest, KeysAndTheMouseDoNothing) {
  frmprev& form = start_preview();
  for (int i = 0; i < 10; ++i) platform->mouse_move(form, 5.0f * i, 5);
  platform->key_press(form, 'q');
  EXPECT_FALSE(platform->ended());
}

TEST_F(FrmprevTest, LoadingMakesTheHiddenSaverWindowFirstAndKeepsItAsleep) {
  start_preview();
  std::vector<std::string> created;
  for (const std::string& line : platform->log) {
    if (line.rfind("create", 0) == 0) created.push_back(line);
  }
  EXPECT_EQ(created, (std::vector<std::string>{"create frmprev", "create frmmain"}));
  auto& hidden = forms::instance<saver::frmmain>();
  EXPECT_FALSE(hidden.Visible());
  EXPECT_EQ(hidden.Timer1.Interval(), 0);
  EXPECT_EQ(platform->running_timers(), 1) << "only the preview's timer wakes the program";
  EXPECT_FALSE(hidden.Picture1.realized()) << "the hidden saver window holds no full-screen image";
  EXPECT_EQ(platform->cursor_count, 1);
}

TEST_F(FrmprevTest, AMissingPictureIsReportedByTheHiddenSaverWindowAndTheDefaultIsDrawn) {
  stored("PICTURE_PATH", gone_file());
  frmprev& form = start_preview();
  ASSERT_EQ(platform->messages.size(), 1u);
  EXPECT_EQ(platform->messages[0].text, "Image Not Found");
  EXPECT_EQ(stored("PICTURE_PATH"), settings::DefaultPicturePath());
  ASSERT_EQ(platform->pictures_loaded.size(), 2u);
  EXPECT_EQ(platform->pictures_loaded[1], settings::DefaultPicturePath());
  EXPECT_NE(form.Picture2.Picture(), nullptr);
}

TEST_F(FrmprevTest, WithNoLoadablePictureAtAllTheFaceIsDrawnWithoutOne) {
  platform->path = "/nowhere";
  frmprev& form = start_preview();
  EXPECT_FALSE(platform->ended());
  EXPECT_EQ(form.Picture2.Picture(), nullptr);
  EXPECT_EQ(face("circle").size(), 51u + 9u + 10u);
}

TEST_F(FrmprevTest, TheHostDestroyingItsWindowEndsThePreviewWithoutTheSaversUnload) {
  start_preview();
  platform->advance_ms(3000);
  const int cursor = platform->cursor_count;
  platform->destroy_foreign(host);
  EXPECT_TRUE(platform->ended());
  EXPECT_EQ(platform->cursor_count, cursor);
}

}  // namespace
