#include "windows/saver/frmmain.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "forms/user32.h"
#include "resources/definitions.h"
#include "settings/settings.h"
#include "values/printable.h"
#include "windows/dial/dial.h"

namespace saver {

using settings::gBackColor;
using settings::gColor1;
using settings::gColor2;
using settings::gPicturePath;
using settings::gStretchPic;

frmmain::frmmain(int monitor)
    : forms::Form(resources::frmmain_definition(), monitor),
      Timer1(control<forms::Timer>("Timer1")),
      Picture1(control<forms::PictureBox>("Picture1")),
      Picture2(control<forms::PictureBox>("Picture2")) {}

void frmmain::Form_Load() {
  ScaleHeight(Screen().Height);
  ScaleWidth(Screen().Width);
  Picture1.Top(Top());
  Picture1.Left(Left());
  Picture1.ScaleTop(ScaleTop());
  Picture1.ScaleLeft(ScaleLeft());
  Picture1.ScaleWidth(ScaleWidth());
  Picture1.ScaleHeight(ScaleHeight());
  // The surface covers the whole client area, so the face fills the screen whatever its size.
  Picture1.Move(Picture1.Left(), Picture1.Top(), ScaleWidth(), ScaleHeight());
  WindowState(forms::WindowStateKind::Maximized);
  AlwaysOnTop(*this, true);
  Picture1.AutoRedraw = true;
  Picture2.Visible(false);

  // A picture that does not load leaves the face without one. When the file is gone or is no picture,
  // the user is told once the clock runs and the default picture is stored for the next start; a passing
  // failure (a timeout, an I/O or permission error, a drive not mounted yet) keeps the user's choice and
  // is only reported. The windows on further monitors load after the primary one has noted the failure,
  // and leave the telling to it.
  auto picture = forms::LoadPicture(gPicturePath);
  std::optional<forms::Error> failed;
  if (picture) {
    Picture2.Picture(std::move(picture).value());
  } else {
    failed = forms::Error{picture.reason(), picture.failure()};
    Picture2.Picture(nullptr);
  }
  redraw();
  mPrevMinuteX = mPrevMinuteY = mPrevHourX = mPrevHourY = mPrevSecondX = mPrevSecondY = -1;
  Timer1.Interval(1000);
  Timer1.Enabled(true);
  if (!failed) return;
  if (failed->kind == forms::Failure::Passing) {
    std::fprintf(stderr, "%s: %s\n", forms::printable(forms::App.EXEName()).c_str(),
                 forms::printable(failed->reason).c_str());
    return;
  }

  m_picture_missing = this == &forms::instance<frmmain>();
  if (!defer_picture_message) report_missing_picture();
}

void frmmain::report_missing_picture() {
  if (!m_picture_missing) return;
  m_picture_missing = false;
  forms::MsgBox("Image Not Found", forms::vbOKOnly);
  gPicturePath = settings::DefaultPicturePath();
  if (forms::Status saved = settings::SavePicturePath(); !saved) {
    std::fprintf(stderr, "%s: %s\n", forms::printable(forms::App.EXEName()).c_str(),
                 forms::printable(saved.reason()).c_str());
  }
}

void frmmain::redraw() {
  forms::PictureBox& p = Picture1;
  const float W = p.ScaleWidth();
  const float H = p.ScaleHeight();
  const float m = W < H ? W : H;
  mRadius = m / 2 - 900;
  mCenterX = W / 2;
  mCenterY = H / 2;
  const float R = mRadius;
  const float cx = mCenterX;
  const float cy = mCenterY;
  const int pen = nearest(R / 1000);

  if (gStretchPic) {
    p.PaintPicture(Picture2.Picture(), cx - 2 * R / 3, cy - 2 * R / 3, 4 * R / 3, 4 * R / 3);
  } else {
    p.PaintPicture(Picture2.Picture(), 0, 0, W, H);
  }

  mHalfDiagonal = nearest(std::sqrt(static_cast<double>(H / 2) * (H / 2) + static_cast<double>(W / 2) * (W / 2)));
  const std::int32_t D = mHalfDiagonal;

  for (std::int32_t r = nearest(R); r <= D; r += 50) {
    p.DrawWidth = pen;
    p.ForeColor = gBackColor;
    p.Circle(cx, cy, static_cast<float>(r));
  }

  p.DrawWidth = pen;
  p.ForeColor = kGreen;
  p.PSet(cx, cy);

  mRingToggle = false;
  for (std::int32_t r = nearest(R + 150); r <= D; r += 100) {
    p.DrawWidth = pen;
    if (!mRingToggle) {
      p.ForeColor = gColor1;
      mRingToggle = true;
      p.Circle(cx, cy, static_cast<float>(r));
    } else {
      p.ForeColor = gColor2;
      mRingToggle = false;
      p.Box(cx - static_cast<float>(r), cy - static_cast<float>(r), cx + static_cast<float>(r),
            cy + static_cast<float>(r));
    }
  }

  mRingToggle = false;
  const std::int32_t bezel_end = nearest(R + 800);
  for (std::int32_t r = nearest(R + 150); r <= bezel_end; r += 25) {
    p.DrawWidth = pen;
    if (!mRingToggle) {
      p.ForeColor = kBezelGrey;
      mRingToggle = true;
    } else {
      p.ForeColor = kBezelWhite;
      mRingToggle = false;
    }
    p.Circle(cx, cy, static_cast<float>(r));
  }

  p.DrawStyle = 0;
  p.FontBold = true;
  p.FontSize = R / 300;
  p.FontName = "Verdana";

  for (double a = 0; a <= 360; a += 6) {
    const double theta = kRadiansPerDegree * a;
    const auto x = static_cast<float>(R * std::cos(theta) + cx);
    const auto y = static_cast<float>(R * std::sin(theta) + cy);
    if (nearest(a) % 30 != 0) {
      p.ForeColor = kMinuteDot;
      p.PSet(x, y);
    } else {
      p.CurrentX = x - 150;
      p.CurrentY = y - 100;
      p.ForeColor = kLabelColor;
      p.Print(label_of(hour_at(a)));
    }
  }
}

void frmmain::on_timer(forms::Timer& timer) {
  if (&timer == &Timer1) Timer1_Timer();
}

void frmmain::Timer1_Timer() {
  const forms::TimeOfDay now = forms::Time();
  const HandAngles angle = hand_angles(now.hour, now.minute, now.second);
  const double R = mRadius;
  draw_hand(Picture1, mCenterX, mCenterY, angle.minute, R * 5.2 / 6, 5, mPrevMinuteX, mPrevMinuteY);
  draw_hand(Picture1, mCenterX, mCenterY, angle.hour, R * 4 / 6, 8, mPrevHourX, mPrevHourY);
  draw_hand(Picture1, mCenterX, mCenterY, angle.second, R * 5.8 / 6, 3, mPrevSecondX, mPrevSecondY);
}

void frmmain::AlwaysOnTop(forms::Form& form, bool flag) {
  if (!flag) return;
  forms::user32::SetWindowPos(form.hWnd(), forms::user32::kHwndTopmost, 0, 0, 0, 0,
                              forms::user32::kSwpNoSize | forms::user32::kSwpNoMove);
}

void frmmain::Form_KeyPress(int& KeyAscii) {
  (void)KeyAscii;
  Unload();
}

void frmmain::Form_MouseMove(int Button, int Shift, float X, float Y) {
  (void)Button, (void)Shift, (void)X, (void)Y;
  auto& counter = forms::instance<frmmain>();
  if (counter.mMoveCount < 3) {
    ++counter.mMoveCount;
  } else {
    Unload();
  }
}

void frmmain::Form_Unload(int& Cancel) {
  (void)Cancel;
  forms::user32::ShowCursor(true);
  forms::End();
}

}  // namespace saver
