// frmmain: the full-screen saver window. Its load draws the clock face once into the surface's persistent
// image (redraw); every second its timer erases the three hands by drawing their previous lines again with
// the not-XOR pen and draws them anew (Timer1_Timer). A character key or the fourth mouse move ends the
// program. One instance covers each monitor; each draws a clock sized to its own screen, and the moves over
// all of them are counted together.
#pragma once

#include <cstdint>

#include "forms/form.h"

namespace saver {

class frmmain : public forms::Form {
 public:
  explicit frmmain(int monitor = 0);

  void redraw();
  void AlwaysOnTop(forms::Form& form, bool flag);

  void Form_Load() override;
  void Form_KeyPress(int& KeyAscii) override;
  void Form_MouseMove(int Button, int Shift, float X, float Y) override;
  void Form_Unload(int& Cancel) override;
  void Timer1_Timer();

  // When set (saver mode), Form_Load only notes a picture that does not load, and the saver reports it
  // with report_missing_picture once its windows are on screen: the box then comes up over the clock,
  // never over the desktop. Otherwise (preview, configuration) Form_Load reports it at once.
  static inline bool defer_picture_message = false;
  // "Image Not Found", then the default picture's path is stored; does nothing when the picture loaded
  // or the failure was already reported.
  void report_missing_picture();

  forms::Timer& Timer1;
  forms::PictureBox& Picture1;
  forms::PictureBox& Picture2;

  // Dial geometry, set by redraw.
  float mRadius = 0;
  float mCenterX = 0;
  float mCenterY = 0;
  // The ring passes count in 32 bits so that 4K and 8K screens, whose half-diagonals pass 32,767 twips,
  // draw with the same stepping.
  std::int32_t mHalfDiagonal = 0;
  bool mRingToggle = false;

  // The hand ends as last drawn; an x of -1 means not drawn yet.
  float mPrevMinuteX = 0;
  float mPrevMinuteY = 0;
  float mPrevHourX = 0;
  float mPrevHourY = 0;
  float mPrevSecondX = 0;
  float mPrevSecondY = 0;

  // The moves counted so far. Only the default instance (the primary monitor's window) counts; the
  // windows on other monitors add theirs to its count.
  std::int32_t mMoveCount = 0;

 private:
  void on_timer(forms::Timer& timer) override;

  bool m_picture_missing = false;
};

}  // namespace saver
