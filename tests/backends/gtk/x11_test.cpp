#include "backends/gtk/x11.h"

#include <gtest/gtest.h>

namespace {

using forms::gtk::x11::parse_window_id;

TEST(ParseWindowId, TakesXScreenSaversHexadecimalAndDecimal) {
  EXPECT_EQ(parse_window_id("0x40000C"), 0x40000CUL);
  EXPECT_EQ(parse_window_id("0X1a"), 0x1AUL);
  EXPECT_EQ(parse_window_id("4194316"), 4194316UL);
}

TEST(ParseWindowId, RefusesWhatNamesNoWindow) {
  for (const char* text : {"", "0", "0x", "0x0", "12abc", "-5", " 12", "0xZZ", "99999999999999999999999",
                           "0x100000040000C", "0x20000000", "4294967297"}) {
    EXPECT_FALSE(parse_window_id(text).has_value()) << '"' << text << '"';
  }
}

}  // namespace
