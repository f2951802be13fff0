// Arithmetic shared by the two clock faces.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace forms {
class PictureBox;
}

namespace saver {

// The conversion from degrees, with this exact constant divided by 180 first.
inline constexpr double kRadiansPerDegree = 3.14159265358979 / 180;

// Rounds to the nearest integer, halves to the even neighbour.
inline std::int32_t nearest(double x) { return static_cast<std::int32_t>(std::nearbyint(x)); }

// The hour number printed at dial angle a (degrees, a multiple of 30): 3 at 0, 12 at 270, 1 at 300.
inline int hour_at(double a) { return static_cast<int>(a < 300 ? a / 30 + 3 : a / 30 - 9); }

// A non-negative number as it prints, with the blank where its sign would be.
inline std::string label_of(int n) {
  std::string label(1, ' ');
  label.append(std::to_string(n));
  return label;
}

// Colours of the face.
inline constexpr std::int32_t kGreen = 65280;
inline constexpr std::int32_t kBezelGrey = 0xB4B4B4;
inline constexpr std::int32_t kBezelWhite = 0xFFFFFF;
inline constexpr std::int32_t kMinuteDot = 0xEADCF1;  // red 241, green 220, blue 234
inline constexpr std::int32_t kLabelColor = 2;
inline constexpr std::int32_t kHandColor = 255;

// The hands' angles at a time of day, in degrees clockwise from 3 o'clock: the minutes with their
// fraction of seconds, the hours with their fraction of those minutes (12- or 24-hour: whole turns apart).
struct HandAngles {
  double minute;
  double hour;
  double second;
};

inline HandAngles hand_angles(int h, int m, int s) {
  const double M = m + s / 60.0;
  const double Hr = h + M / 60.0;
  return {M * 6 + 270, Hr * 30 + 270, s * 6.0 + 270};
}

// One hand of a tick: erases the hand's previous line, when it has one (x not -1), by drawing it again
// with the not-XOR pen, then draws the hand from (cx, cy) at `angle` degrees, `length` long and `width`
// pixels wide, and keeps its new end.
void draw_hand(forms::PictureBox& surface, float cx, float cy, double angle, double length, int width, float& prev_x,
               float& prev_y);

}  // namespace saver
