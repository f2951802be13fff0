#include "windows/saver/frmmain.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cmath>

#include "headless_fixture.h"
#include "startup/startup.h"
#include "support/allocation_counter.h"
#include "trace_recorder.h"

namespace {

using saver::frmmain;

class FrmmainTest : public HeadlessTest {
 protected:
  // Starts the saver as the program does, on one screen of this many pixels, with the drawing traced.
  frmmain& start_saver(int width, int height, double dpi = 96) {
    platform->screens = {forms::Monitor{{0, 0, width, height}, dpi}};
    platform->trace = &trace;
    platform->trace_form = "frmmain";
    platform->command = "/S";
    platform->run_guarded(startup::Main);
    return forms::instance<frmmain>();
  }
  std::vector<TracedOp> face(const std::string& op) const { return trace.face(op); }
  std::vector<forms::Pixel> pixels_of(frmmain& form) {
    forms::Size size;
    return platform->snapshot(form, size);
  }

  TraceRecorder trace;
};

TEST_F(FrmmainTest, TheFaceOfA1024By768ScreenHasItsGeometryAndPasses) {
  stored("BACK_COLOR", "1");
  stored("COLOR1", "2");
  stored("COLOR2", "3");
  frmmain& form = start_saver(1024, 768);
  EXPECT_FLOAT_EQ(form.Picture1.ScaleWidth(), 15360);
  EXPECT_FLOAT_EQ(form.Picture1.ScaleHeight(), 11520);
  EXPECT_FLOAT_EQ(form.mRadius, 4860);
  EXPECT_FLOAT_EQ(form.mCenterX, 7680);
  EXPECT_FLOAT_EQ(form.mCenterY, 5760);
  EXPECT_EQ(form.mHalfDiagonal, 9600);

  const auto circles = face("circle");
  const auto boxes = face("box");
  std::vector<TracedOp> field, pattern, bezel;
  for (const TracedOp& c : circles) {
    (c.color == 1 ? field : c.color == 2 ? pattern : bezel).push_back(c);
  }
  ASSERT_EQ(field.size(), 95u);
  EXPECT_EQ(field.front().args[2], 4860);
  EXPECT_EQ(field.back().args[2], 9560);
  EXPECT_EQ(field.front().pen, 5);
  ASSERT_EQ(pattern.size(), 23u);
  EXPECT_EQ(pattern.front().args[2], 5010);
  ASSERT_EQ(boxes.size(), 23u);
  EXPECT_EQ(boxes.front().args, (std::vector<double>{7680 - 5110, 5760 - 5110, 7680 + 5110, 5760 + 5110}));
  EXPECT_EQ(boxes.front().color, 3);
  EXPECT_EQ(boxes.back().args[2] - 7680, 9510);
  ASSERT_EQ(bezel.size(), 27u);
  EXPECT_EQ(bezel.front().args[2], 5010);
  EXPECT_EQ(bezel.back().args[2], 5660);
  for (std::size_t i = 0; i < bezel.size(); ++i) {
    EXPECT_EQ(bezel[i].color, i % 2 == 0 ? 0xB4B4B4 : 0xFFFFFF) << "bezel ring " << i;
  }

  const auto dots = face("pset");
  ASSERT_EQ(dots.size(), 49u);  // the green centre dot, then 48 minute dots
  EXPECT_EQ(dots.front().args, (std::vector<double>{7680, 5760}));
  EXPECT_EQ(dots.front().color, 65280);
  EXPECT_EQ(dots[1].color, 0xEADCF1);
  const auto labels = face("print");
  ASSERT_EQ(labels.size(), 13u);
  const char* expected[] = {" 3", " 4", " 5", " 6", " 7", " 8", " 9", " 10", " 11", " 12", " 1", " 2", " 3"};
  for (std::size_t i = 0; i < labels.size(); ++i) {
    EXPECT_EQ(labels[i].text, expected[i]);
    EXPECT_EQ(labels[i].color, 2);
  }
  EXPECT_EQ(labels.front().args, (std::vector<double>{7680 + 4860 - 150, 5760 - 100}));
  EXPECT_EQ(labels.back().args, labels.front().args) << "the label at 360 repeats the one at 0";
  EXPECT_FLOAT_EQ(form.Picture1.FontSize, 16.2f);
  EXPECT_TRUE(form.Picture1.FontBold);
  EXPECT_EQ(form.Picture1.FontName, "Verdana");
}

TEST_F(FrmmainTest, StretchedOrNotThePicturePaintsItsRectangleFirst) {
  frmmain& form = start_saver(1920, 1080);
  EXPECT_FLOAT_EQ(form.mRadius, 7200);
  EXPECT_EQ(form.mHalfDiagonal, 16522);
  EXPECT_EQ(face("circle").front().pen, 7);
  EXPECT_FLOAT_EQ(form.Picture1.FontSize, 24);
  ASSERT_EQ(trace.ops.front().op, "picture");
  EXPECT_EQ(trace.ops.front().args, (std::vector<double>{14400 - 4800, 8100 - 4800, 9600, 9600}));

  TearDown();
  SetUp();
  trace.ops.clear();
  stored("STRETCH_PIc", "False");
  start_saver(1920, 1080);
  EXPECT_EQ(trace.ops.front().args, (std::vector<double>{0, 0, 28800, 16200}));
}

TEST_F(FrmmainTest, PortraitAndSquareScreensTakeTheRadiusFromTheSmallerSide) {
  frmmain& portrait = start_saver(768, 1024);
  EXPECT_FLOAT_EQ(portrait.mRadius, 768 * 15 / 2 - 900);
  EXPECT_FLOAT_EQ(portrait.mCenterX, 768 * 15 / 2);
  TearDown();
  SetUp();
  frmmain& square = start_saver(900, 900);
  EXPECT_FLOAT_EQ(square.mRadius, 900 * 15 / 2 - 900);
}

TEST_F(FrmmainTest, ScreensBeyond16BitCountersDrawTheWholeFace) {
  frmmain& form = start_saver(3840, 2160);
  EXPECT_EQ(form.mHalfDiagonal, 33044);
  const auto circles = face("circle");
  EXPECT_EQ(circles.front().args[2], form.mRadius);
  EXPECT_EQ(circles[354].args[2], 15300 + 354 * 50) << "the field reaches the corners";
  // The corner pixel belongs to the field, painted in the background colour (white by default).
  auto image = pixels_of(form);
  EXPECT_EQ(image.back() & 0xFFFFFF, 0xFFFFFFu);
}

// The hand ends as the tick leaves them; angles in degrees clockwise from 3 o'clock.
struct Ends {
  double minute_x, minute_y, hour_x, hour_y, second_x, second_y;
};

Ends ends_at(frmmain& form) {
  return {form.mPrevMinuteX, form.mPrevMinuteY, form.mPrevHourX, form.mPrevHourY, form.mPrevSecondX, form.mPrevSecondY};
}

TEST_F(FrmmainTest, TheHandsPointWhereTheTimeSays) {
  frmmain& form = start_saver(1024, 768);
  platform->set_time(2, 59, 59);
  platform->advance_ms(1000);  // 3:00:00
  Ends e = ends_at(form);
  EXPECT_NEAR(e.hour_x, 10920, 0.01);
  EXPECT_NEAR(e.hour_y, 5760, 0.01);
  EXPECT_NEAR(e.minute_x, 7680, 0.01);
  EXPECT_NEAR(e.minute_y, 1548, 0.01);
  EXPECT_NEAR(e.second_x, 7680, 0.01);
  EXPECT_NEAR(e.second_y, 1062, 0.01);

  const auto expect_angles = [&](double minute, double hour, double second) {
    const double k = 3.14159265358979 / 180;
    const double R = 4860;
    Ends got = ends_at(form);
    EXPECT_NEAR(got.minute_x, R * 5.2 / 6 * std::cos(k * minute) + 7680, 0.01);
    EXPECT_NEAR(got.minute_y, R * 5.2 / 6 * std::sin(k * minute) + 5760, 0.01);
    EXPECT_NEAR(got.hour_x, R * 4 / 6 * std::cos(k * hour) + 7680, 0.01);
    EXPECT_NEAR(got.hour_y, R * 4 / 6 * std::sin(k * hour) + 5760, 0.01);
    EXPECT_NEAR(got.second_x, R * 5.8 / 6 * std::cos(k * second) + 7680, 0.01);
    EXPECT_NEAR(got.second_y, R * 5.8 / 6 * std::sin(k * second) + 5760, 0.01);
  };
  platform->set_time(6, 29, 59);
  platform->advance_ms(1000);
  expect_angles(450, 465, 270);
  platform->set_time(10, 10, 29);
  platform->advance_ms(1000);
  expect_angles(333, 575.25, 450);
  const Ends ten_past_ten = ends_at(form);
  platform->set_time(22, 10, 29);
  platform->advance_ms(1000);
  Ends evening = ends_at(form);
  EXPECT_NEAR(evening.hour_x, ten_past_ten.hour_x, 0.01) << "a 24-hour clock gives the same picture";
  EXPECT_NEAR(evening.hour_y, ten_past_ten.hour_y, 0.01);
}

TEST_F(FrmmainTest, TheFirstTickErasesNothingAndLaterTicksEraseEachHand) {
  frmmain& form = start_saver(1024, 768);
  const auto before = pixels_of(form);
  trace.ops.clear();
  platform->advance_ms(1000);
  auto lines = trace.of("line");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].pen, 5);
  EXPECT_EQ(lines[1].pen, 8);
  EXPECT_EQ(lines[2].pen, 3);
  for (const TracedOp& l : lines) {
    EXPECT_EQ(l.color, 255);
    EXPECT_EQ(l.mode, 10);
    EXPECT_EQ(l.args[0], 7680);
    EXPECT_EQ(l.args[1], 5760);
  }
  trace.ops.clear();
  platform->advance_ms(1000);
  lines = trace.of("line");
  ASSERT_EQ(lines.size(), 6u);
  // Each hand is erased, then drawn: erasing the three new lines by hand gives back the bare face.
  form.Picture1.DrawMode = forms::vbNotXorPen;
  for (std::size_t i = 1; i < 6; i += 2) {
    EXPECT_EQ(lines[i - 1].pen, lines[i].pen);
    form.Picture1.DrawWidth = lines[i].pen;
    form.Picture1.Line(7680, 5760, static_cast<float>(lines[i].args[2]), static_cast<float>(lines[i].args[3]), 255);
  }
  EXPECT_TRUE(pixels_of(form) == before);
}

TEST_F(FrmmainTest, HoursOfTicksLeaveTheSameImageAsAFreshStart) {
  frmmain& form = start_saver(640, 480);
  platform->advance_ms(2 * 3600 * 1000 + 7000);
  const auto after = pixels_of(form);
  const auto t = platform->time_of_day();
  TearDown();
  SetUp();
  platform->set_time(t.hour, t.minute, t.second - 1);
  frmmain& fresh = start_saver(640, 480);
  platform->advance_ms(1000);
  EXPECT_TRUE(pixels_of(fresh) == after);
}

TEST_F(FrmmainTest, ThreeMouseMovesAreCountedAndTheFourthEndsTheSaver) {
  frmmain& form = start_saver(800, 600);
  for (int i = 0; i < 3; ++i) platform->mouse_move(form, 10.0f + i, 10);
  EXPECT_FALSE(platform->ended());
  EXPECT_EQ(form.mMoveCount, 3);
  platform->advance_ms(60000);  // counted moves are never forgotten
  platform->mouse_move(form, 50, 50);
  EXPECT_TRUE(platform->ended());
  EXPECT_EQ(platform->exit_status(), 0);
}

// Each monitor has its own window, and the moves over all of them are counted together.
TEST_F(FrmmainTest, TheFourthMoveEndsTheSaverWhicheverMonitorsTheMovesWereOn) {
  for (int moves_on_primary = 0; moves_on_primary <= 4; ++moves_on_primary) {
    TearDown();
    SetUp();
    platform->screens = {forms::Monitor{{0, 0, 800, 600}, 96}, forms::Monitor{{800, 0, 1824, 768}, 96}};
    platform->command = "/S";
    platform->run_guarded(startup::Main);
    const auto windows = forms::Application::get().forms();
    ASSERT_EQ(windows.size(), 2u);
    for (int i = 0; i < 4; ++i) {
      ASSERT_FALSE(platform->ended()) << moves_on_primary << " moves on the primary, move " << i;
      platform->mouse_move(*windows[i < moves_on_primary ? 0 : 1], 10.0f + i, 10);
    }
    EXPECT_TRUE(platform->ended()) << moves_on_primary << " of the four moves on the primary";
  }
}

TEST_F(FrmmainTest, AnyCharacterKeyEndsTheSaverAfterRaisingThePointer) {
  for (int key : {int{'a'}, int{'7'}, int{' '}, 13, 27}) {
    TearDown();
    SetUp();
    frmmain& form = start_saver(800, 600);
    const int cursor = platform->cursor_count;
    platform->key_press(form, key);
    ASSERT_TRUE(platform->ended()) << "key " << key;
    EXPECT_EQ(platform->cursor_count, cursor + 1);
    const auto& log = platform->log;
    EXPECT_EQ(log[log.size() - 2], "ShowCursor 1");
    EXPECT_EQ(log.back(), "End");
  }
}

TEST_F(FrmmainTest, AClosedWindowEndsTheProgramToo) {
  frmmain& form = start_saver(800, 600);
  platform->close(form);
  EXPECT_TRUE(platform->ended());
}

TEST_F(FrmmainTest, LoadSizesMaximisesAndRaisesBeforeLoadingThePicture) {
  start_saver(800, 600);
  std::vector<std::string> steps;
  for (const std::string& line : platform->log) {
    if (line.rfind("WindowState", 0) == 0 || line.rfind("SetWindowPos", 0) == 0) steps.push_back(line.substr(0, 12));
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"WindowState ", "SetWindowPos"}));
  ASSERT_EQ(platform->pictures_loaded.size(), 1u);
  EXPECT_EQ(platform->running_timers(), 1);
  EXPECT_EQ(forms::instance<frmmain>().Timer1.Interval(), 1000);
}

TEST_F(FrmmainTest, AMissingPictureIsReportedAndReplacedByTheDefaultButTheClockStillRuns) {
  stored("PICTURE_PATH", gone_file());
  bool ticked_during_message = false;
  bool shown_under_the_box = false;
  std::size_t rings_under_the_box = 0;
  platform->during_message_box = [&](const forms::headless::MessageRecord& message) {
    // The clock is already on screen, its face drawn, and the box belongs to it.
    auto& shown = forms::instance<frmmain>();
    const auto* window = platform->window_of(shown);
    shown_under_the_box = window != nullptr && window->visible && message.owner_handle == window->handle;
    rings_under_the_box = face("circle").size();
    platform->advance_ms(1000);  // the message box's loop still delivers ticks
    ticked_during_message = true;
  };
  frmmain& form = start_saver(800, 600);
  ASSERT_TRUE(ticked_during_message);
  EXPECT_TRUE(shown_under_the_box);
  EXPECT_EQ(rings_under_the_box, 79u + 19u + 27u);
  ASSERT_EQ(platform->messages.size(), 1u);
  EXPECT_EQ(platform->messages[0].text, "Image Not Found");
  EXPECT_EQ(platform->messages[0].buttons, 0);
  EXPECT_EQ(settings::gPicturePath, settings::DefaultPicturePath());
  EXPECT_EQ(stored("PICTURE_PATH"), settings::DefaultPicturePath());
  EXPECT_EQ(store().writes, std::vector<std::string>{"PICTURE_PATH"});
  EXPECT_EQ(form.Picture2.Picture(), nullptr);
  // The face stands without its picture and the hands run from the centre.
  // 800 x 600: R 3,600, D 7,500: 79 field rings, 19 pattern circles, 27 bezel rings.
  EXPECT_EQ(face("circle").size(), 79u + 19u + 27u);
  EXPECT_EQ(trace.of("picture").size(), 1u);
  const auto lines = trace.of("line");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].args[0], form.mCenterX);
  EXPECT_FALSE(platform->ended());
}

// A picture whose folder is not there (a drive not mounted yet) may come back: the face is drawn without
// it and the user's choice stays, unannounced and unwritten.
TEST_F(FrmmainTest, APictureThatFailsForAPassingReasonKeepsTheUsersChoice) {
  const std::string unmounted =
      (std::filesystem::temp_directory_path() / "dialsaver-no-such-drive" / "holiday.jpg").string();
  stored("PICTURE_PATH", unmounted);
  frmmain& form = start_saver(800, 600);
  EXPECT_TRUE(platform->messages.empty());
  EXPECT_EQ(settings::gPicturePath, unmounted);
  EXPECT_EQ(stored("PICTURE_PATH"), unmounted);
  EXPECT_TRUE(store().writes.empty());
  EXPECT_EQ(form.Picture2.Picture(), nullptr);
  EXPECT_EQ(face("circle").size(), 79u + 19u + 27u);
  EXPECT_FALSE(platform->ended());
}

// The system's services, counting the pictures decoded from bytes (the design-time pictures).
class CountingServices final : public forms::NativeServices {
 public:
  std::unique_ptr<forms::FrameBuffer> create_frame(forms::Size size) override { return m_base->create_frame(size); }
  forms::Rect draw_text(forms::FrameBuffer& frame, int x, int y, std::string_view text, const forms::TextStyle& style,
                        double dpi, forms::Pixel color, const forms::Rect& clip) override {
    return m_base->draw_text(frame, x, y, text, style, dpi, color, clip);
  }
  forms::Size measure_text(std::string_view text, const forms::TextStyle& style, double dpi) override {
    return m_base->measure_text(text, style, dpi);
  }
  forms::Result<forms::PictureRef> load_picture(const std::string& path, forms::Size bound) override {
    return m_base->load_picture(path, bound);
  }
  forms::Result<forms::PictureRef> decode_picture(std::span<const std::byte> bytes, forms::Size bound) override {
    ++decoded;
    return m_base->decode_picture(bytes, bound);
  }
  std::unique_ptr<forms::SettingsStore> user_settings_store() override { return m_base->user_settings_store(); }

  int decoded = 0;

 private:
  std::unique_ptr<forms::NativeServices> m_base = forms::make_native_services();
};

// The design-time picture is decoded when it is first read: the saver, whose Form_Load replaces it before
// anything reads it, never decodes it, while a window left unloaded still gives it, decoded once.
TEST_F(FrmmainTest, TheDesignTimePictureIsDecodedOnlyWhenRead) {
  auto services = std::make_unique<CountingServices>();
  CountingServices& counting = *services;
  platform = std::make_unique<forms::headless::HeadlessPlatform>(std::move(services));
  platform->path = DIALSAVER_RESOURCES;
  platform->set_time(10, 10, 30);
  forms::install_platform(platform.get());
  frmmain& shown = start_saver(800, 600);
  ASSERT_NE(shown.Picture2.Picture(), nullptr);
  EXPECT_EQ(counting.decoded, 0) << "the saver decoded the design-time picture that Form_Load replaces";

  frmmain unloaded;
  const forms::PictureRef& design = unloaded.Picture2.Picture();
  ASSERT_NE(design, nullptr);
  EXPECT_EQ(design->size(), (forms::Size{601, 601}));
  EXPECT_EQ(unloaded.Picture2.Picture(), design);
  EXPECT_EQ(counting.decoded, 1);
}

// The saver on a 4K screen: each second's erase and redraw of the three hands changes a small part of
// the screen, reports it as such, and allocates nothing, nor does the count of loaded forms around it.
TEST_F(FrmmainTest, ClockTickIsSmallAndAllocatesNothing) {
  platform->screens = {forms::Monitor{{0, 0, 3840, 2160}, 96}};
  settings::LoadSettings();
  auto& form = forms::instance<saver::frmmain>();
  form.Timer1.Enabled(false);
  form.Picture1.pixels();
  form.Timer1_Timer();
  form.Picture1.clear_dirty();
  for (int second = 31; second < 31 + 60; ++second) {
    platform->set_time(10, 10 + second / 60, second % 60);
    const std::size_t allocations = allocation_counter::count();
    form.Timer1_Timer();
    // The timers' thread asks for the loaded forms around each tick.
    EXPECT_EQ(forms::Application::get().loaded_count(), 1);
    long long area = 0;
    for (const forms::Rect& r : form.Picture1.dirty()) area += r.area();
    if (allocation_counter::available()) {
      EXPECT_EQ(allocation_counter::count(), allocations) << "allocations in the tick at second " << second;
    }
    EXPECT_GT(area, 0);
    EXPECT_LT(area, 3840LL * 2160 / 50) << "dirty area at second " << second;
    form.Picture1.clear_dirty();
  }
}

}  // namespace
