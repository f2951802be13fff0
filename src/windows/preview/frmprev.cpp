#include "windows/preview/frmprev.h"

#include <cmath>
#include <stdexcept>

#include "forms/user32.h"
#include "resources/definitions.h"
#include "settings/settings.h"
#include "windows/dial/dial.h"
#include "windows/saver/frmmain.h"

namespace preview {

using saver::kRadiansPerDegree;
using saver::nearest;
using settings::gBackColor;
using settings::gColor1;
using settings::gColor2;
using settings::gStretchPic;

std::int16_t to_int16(std::int64_t value) {
  if (value < INT16_MIN || value > INT16_MAX) {
    throw std::overflow_error("the preview's dial arithmetic overflows 16 bits (" + std::to_string(value) + ")");
  }
  return static_cast<std::int16_t>(value);
}

frmprev::frmprev(int monitor)
    : forms::Form(resources::frmprev_definition(), monitor),
      Picture1(control<forms::PictureBox>("Picture1")),
      Timer1(control<forms::Timer>("Timer1")),
      Picture2(control<forms::PictureBox>("Picture2")) {}

void frmprev::Form_Load() {
  forms::user32::ShowCursor(true);
  // Creating the hidden saver window runs its load, with its picture fallback. It is never shown, so its
  // timer is stopped: it would only draw hands nobody sees.
  auto& saver_window = forms::instance<saver::frmmain>();
  saver_window.WindowState(forms::WindowStateKind::Normal);
  saver_window.Timer1.Interval(0);

  Picture1.Top(Top());
  Picture1.Left(Left());
  Picture1.ScaleTop(ScaleTop());
  Picture1.ScaleLeft(ScaleLeft());
  Picture1.ScaleWidth(ScaleWidth());
  Picture1.ScaleHeight(ScaleHeight());
  Picture1.AutoRedraw = true;
  Picture2.Visible(false);
  // With no loadable picture (the default one missing too) the face is drawn without one.
  auto picture = forms::LoadPicture(settings::gPicturePath);
  Picture2.Picture(picture ? std::move(picture).value() : nullptr);
  mRingToggle = false;
  redraw();
  mPrevMinuteX = mPrevMinuteY = mPrevHourX = mPrevHourY = mPrevSecondX = mPrevSecondY = -1;
  Timer1.Interval(1000);
  Timer1.Enabled(true);
}

void frmprev::redraw() {
  forms::PictureBox& p = Picture1;
  const float W = p.ScaleWidth();
  const float H = p.ScaleHeight();
  const float m = W < H ? W : H;
  mRadius = to_int16(nearest(m / 2 - 10));
  mCenterX = to_int16(nearest(W / 2));
  mCenterY = to_int16(nearest(H / 2));
  const std::int16_t R = mRadius;
  const std::int16_t cx = mCenterX;
  const std::int16_t cy = mCenterY;

  if (gStretchPic) {
    const double corner = to_int16(std::int64_t{2} * R) / 3.0;
    const double side = to_int16(std::int64_t{4} * R) / 3.0;
    p.PaintPicture(Picture2.Picture(), static_cast<float>(cx - corner), static_cast<float>(cy - corner),
                   static_cast<float>(side), static_cast<float>(side));
  } else {
    p.PaintPicture(Picture2.Picture(), 0, 0, W, H);
  }
  p.DrawWidth = 2;

  mHalfDiagonal =
      to_int16(nearest(std::sqrt(static_cast<double>(H / 2) * (H / 2) + static_cast<double>(W / 2) * (W / 2))));
  const std::int16_t D = mHalfDiagonal;

  for (std::int16_t r = R; r <= D; r = to_int16(r + 1)) {
    p.ForeColor = gBackColor;
    p.Circle(cx, cy, r);
  }

  p.ForeColor = saver::kGreen;
  p.PSet(cx, cy);

  mRingToggle = false;
  for (std::int16_t r = to_int16(R + 15); r <= D; r = to_int16(r + 2)) {
    if (!mRingToggle) {
      p.ForeColor = gColor1;
      mRingToggle = true;
      p.Circle(cx, cy, r);
    } else {
      p.ForeColor = gColor2;
      mRingToggle = false;
      p.Box(to_int16(cx - r), to_int16(cy - r), to_int16(cx + r), to_int16(cy + r));
    }
  }

  mRingToggle = true;
  const std::int16_t bezel_end = to_int16(R + 10);
  for (std::int16_t r = to_int16(R + 1); r <= bezel_end; r = to_int16(r + 1)) {
    p.DrawWidth = 2;
    if (!mRingToggle) {
      p.ForeColor = saver::kBezelGrey;
      mRingToggle = true;
    } else {
      p.ForeColor = saver::kBezelWhite;
      mRingToggle = false;
    }
    p.Circle(cx, cy, r);
  }

  p.DrawStyle = 0;
  p.FontBold = false;
  p.FontSize = 1;
  p.FontName = "Verdana";
  p.DrawWidth = 2;

  for (double a = 0; a <= 360; a += 6) {
    const double theta = kRadiansPerDegree * a;
    const auto x = static_cast<float>(R * std::cos(theta) + cx);
    const auto y = static_cast<float>(R * std::sin(theta) + cy);
    if (nearest(a) % 30 != 0) {
      p.ForeColor = saver::kMinuteDot;
      p.PSet(x, y);
    } else {
      p.CurrentX = x - 5;
      p.CurrentY = y - 5;
      p.ForeColor = saver::kLabelColor;
      p.Print(saver::label_of(saver::hour_at(a)));
    }
  }
}

void frmprev::on_timer(forms::Timer& timer) {
  if (&timer == &Timer1) Timer1_Timer();
}

void frmprev::Timer1_Timer() {
  const forms::TimeOfDay now = forms::Time();
  const saver::HandAngles angle = saver::hand_angles(now.hour, now.minute, now.second);
  const double R = mRadius;
  const float cx = mCenterX;
  const float cy = mCenterY;
  saver::draw_hand(Picture1, cx, cy, angle.minute, R * 5.2 / 6, 2, mPrevMinuteX, mPrevMinuteY);
  saver::draw_hand(Picture1, cx, cy, angle.hour, to_int16(std::int64_t{4} * mRadius) / 6.0, 2, mPrevHourX, mPrevHourY);
  saver::draw_hand(Picture1, cx, cy, angle.second, R * 5.8 / 6, 1, mPrevSecondX, mPrevSecondY);
}

void frmprev::Form_Unload(int& Cancel) {
  (void)Cancel;
  forms::End();
}

}  // namespace preview
