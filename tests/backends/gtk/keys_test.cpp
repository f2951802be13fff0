#include "backends/gtk/keys.h"

#include <gtest/gtest.h>

// After GoogleTest, whose names X's macros would clash with.
#include <X11/X.h>
#include <X11/keysym.h>

// Key values and modifier masks are X's, which GDK passes on unchanged.
namespace {

using forms::gtk::char_code_of;

struct Key {
  const char* name;
  unsigned keyval;
  unsigned state;
  int code;
};

TEST(CharCodeOf, KeysThatTypeACharacterGiveItsCode) {
  const Key keys[] = {
      {"a", XK_a, 0, 'a'},
      {"Shift+A", XK_A, ShiftMask, 'A'},
      {"7", XK_7, 0, '7'},
      {"keypad 1", XK_KP_1, Mod2Mask, '1'},
      {"Space", XK_space, 0, ' '},
      {"Enter", XK_Return, 0, '\r'},
      {"keypad Enter", XK_KP_Enter, 0, '\r'},
      {"Esc", XK_Escape, 0, 27},
      {"Backspace", XK_BackSpace, 0, 8},
      {"Tab", XK_Tab, 0, '\t'},
      {"Shift+Tab", XK_ISO_Left_Tab, ShiftMask, '\t'},
      {"Ctrl+a", XK_a, ControlMask, 1},
      {"Ctrl+Shift+Z", XK_Z, ControlMask | ShiftMask, 26},
      {"e acute", XK_eacute, 0, 0xE9},
  };
  for (const Key& key : keys) EXPECT_EQ(char_code_of(key.keyval, key.state), key.code) << key.name;
}

TEST(CharCodeOf, KeysThatTypeNothingGiveZero) {
  const Key keys[] = {
      {"Shift", XK_Shift_L, 0, 0},
      {"Ctrl", XK_Control_L, 0, 0},
      {"Alt", XK_Alt_L, 0, 0},
      {"Caps Lock", XK_Caps_Lock, 0, 0},
      {"Left", XK_Left, 0, 0},
      {"Up", XK_Up, 0, 0},
      {"Home", XK_Home, 0, 0},
      {"Insert", XK_Insert, 0, 0},
      {"F1", XK_F1, 0, 0},
      {"F12", XK_F12, 0, 0},
      {"Delete", XK_Delete, 0, 0},
      {"keypad Delete", XK_KP_Delete, 0, 0},
      {"Ctrl+Left", XK_Left, ControlMask, 0},
  };
  for (const Key& key : keys) EXPECT_EQ(char_code_of(key.keyval, key.state), 0) << key.name;
}

}  // namespace
