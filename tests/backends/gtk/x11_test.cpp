#include "backends/gtk/x11/x11.h"

#include <gtest/gtest.h>

#include <utility>

// After gtest: Xlib defines macros (None, Bool) that gtest's own names would take.
#include <X11/Xlib.h>

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

// The server's news of a destruction or a new size is believed; the same event sent by another client
// (XSendEvent sets send_event) is not.
TEST(DecodeStructureEvent, BelievesTheServerNotAnotherClient) {
  using Kind = forms::gtk::x11::StructureEvent::Kind;
  XEvent destroyed{};
  destroyed.xdestroywindow.type = DestroyNotify;
  destroyed.xdestroywindow.event = destroyed.xdestroywindow.window = 0x400001;
  XEvent configured{};
  configured.xconfigure.type = ConfigureNotify;
  configured.xconfigure.event = configured.xconfigure.window = 0x400001;
  configured.xconfigure.width = configured.xconfigure.height = 32000;
  for (const auto& [event, kind] : {std::pair{destroyed, Kind::Destroyed}, std::pair{configured, Kind::Configured}}) {
    XEvent from_server = event;
    EXPECT_EQ(forms::gtk::x11::decode(&from_server).kind, kind) << "event type " << event.type;
    XEvent forged = event;
    forged.xany.send_event = True;
    EXPECT_EQ(forms::gtk::x11::decode(&forged).kind, Kind::Other) << "forged event type " << event.type;
  }
}

}  // namespace
