// The user coordinate system that forms and surfaces share.
#include "graphics/user_scale.h"

#include <gtest/gtest.h>

namespace {

using forms::UserScale;

UserScale twips_over(int width, int height) {
  UserScale scale;
  scale.set_default_unit_pixels(1.0 / 15);  // twips at 96 dpi
  scale.set_area({width, height});
  return scale;
}

TEST(UserScale, UntilSetTheExtentFollowsTheArea) {
  UserScale scale = twips_over(200, 100);
  EXPECT_EQ(scale.width(), 3000);
  EXPECT_EQ(scale.height(), 1500);
  scale.set_area({400, 100});
  EXPECT_EQ(scale.width(), 6000);
  EXPECT_DOUBLE_EQ(scale.to_pixel_x(1500), 100);
}

// Setting any one of the four keeps the others as they were, whichever is set first: an origin set
// first must not leave the extent at zero.
TEST(UserScale, SettingOneKeepsTheOthers) {
  for (int first = 0; first < 4; ++first) {
    UserScale scale = twips_over(200, 100);
    if (first == 0) scale.set_left(-10);
    if (first == 1) scale.set_top(-20);
    if (first == 2) scale.set_width(3000);
    if (first == 3) scale.set_height(1500);
    EXPECT_EQ(scale.width(), 3000) << "after setting property " << first;
    EXPECT_EQ(scale.height(), 1500) << "after setting property " << first;
    scale.set_area({400, 200});
    EXPECT_EQ(scale.width(), 3000) << "a set scale no longer follows the area";
  }
}

TEST(UserScale, PixelsAndUnitsMapBothWays) {
  UserScale scale = twips_over(200, 100);
  scale.set_left(-1000);
  scale.set_top(500);
  scale.set_width(-4000);  // a scale may run right to left
  for (const double x : {-1000.0, 0.0, 1234.5}) EXPECT_NEAR(scale.to_unit_x(scale.to_pixel_x(x)), x, 1e-9);
  for (const double y : {500.0, 1000.0, -75.25}) EXPECT_NEAR(scale.to_unit_y(scale.to_pixel_y(y)), y, 1e-9);
  EXPECT_DOUBLE_EQ(scale.to_pixel_x(-3000), 100);
  EXPECT_DOUBLE_EQ(scale.to_pixel_y(500), 0);
}

TEST(UserScale, AnEmptyExtentOrAreaMapsToTheOrigin) {
  UserScale scale = twips_over(0, 0);
  scale.set_left(7);
  EXPECT_EQ(scale.to_unit_x(5), 7) << "no area";
  scale.set_area({10, 10});
  scale.set_width(0);
  EXPECT_EQ(scale.to_pixel_x(123), 0) << "no extent";
}

}  // namespace
