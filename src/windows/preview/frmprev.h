// frmprev: the small live clock inside the host's preview window. It draws the face and hands of the
// saver window with its own constants, sized for its designed 155 x 113-pixel client area, and holds the
// dial geometry as 16-bit integers. It takes no key or mouse input; unloading it ends the program.
#pragma once

#include <cstdint>

#include "forms/form.h"

namespace preview {

class frmprev : public forms::Form {
 public:
  explicit frmprev(int monitor = 0);

  void redraw();

  void Form_Load() override;
  void Form_Unload(int& Cancel) override;
  void Timer1_Timer();

  forms::PictureBox& Picture1;
  forms::Timer& Timer1;
  forms::PictureBox& Picture2;

  std::int16_t mRadius = 0;
  std::int16_t mCenterX = 0;
  std::int16_t mCenterY = 0;
  std::int16_t mHalfDiagonal = 0;
  bool mRingToggle = false;
  float mPrevMinuteX = 0;
  float mPrevMinuteY = 0;
  float mPrevHourX = 0;
  float mPrevHourY = 0;
  float mPrevSecondX = 0;
  float mPrevSecondY = 0;

 private:
  void on_timer(forms::Timer& timer) override;
};

// 16-bit signed arithmetic that detects overflow: the value, or std::overflow_error.
std::int16_t to_int16(std::int64_t value);

}  // namespace preview
