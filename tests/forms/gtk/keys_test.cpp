#include "forms/gtk/keys.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>

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
      {"a", GDK_KEY_a, 0, 'a'},
      {"Shift+A", GDK_KEY_A, GDK_SHIFT_MASK, 'A'},
      {"7", GDK_KEY_7, 0, '7'},
      {"keypad 1", GDK_KEY_KP_1, GDK_MOD2_MASK, '1'},
      {"Space", GDK_KEY_space, 0, ' '},
      {"Enter", GDK_KEY_Return, 0, '\r'},
      {"keypad Enter", GDK_KEY_KP_Enter, 0, '\r'},
      {"Esc", GDK_KEY_Escape, 0, 27},
      {"Backspace", GDK_KEY_BackSpace, 0, 8},
      {"Tab", GDK_KEY_Tab, 0, '\t'},
      {"Shift+Tab", GDK_KEY_ISO_Left_Tab, GDK_SHIFT_MASK, '\t'},
      {"Ctrl+a", GDK_KEY_a, GDK_CONTROL_MASK, 1},
      {"Ctrl+Shift+Z", GDK_KEY_Z, GDK_CONTROL_MASK | GDK_SHIFT_MASK, 26},
      {"e acute", GDK_KEY_eacute, 0, 0xE9},
  };
  for (const Key& key : keys) EXPECT_EQ(char_code_of(key.keyval, key.state), key.code) << key.name;
}

TEST(CharCodeOf, KeysThatTypeNothingGiveZero) {
  const Key keys[] = {
      {"Shift", GDK_KEY_Shift_L, 0, 0},    {"Ctrl", GDK_KEY_Control_L, 0, 0},
      {"Alt", GDK_KEY_Alt_L, 0, 0},        {"Caps Lock", GDK_KEY_Caps_Lock, 0, 0},
      {"Left", GDK_KEY_Left, 0, 0},        {"Up", GDK_KEY_Up, 0, 0},
      {"Home", GDK_KEY_Home, 0, 0},        {"Insert", GDK_KEY_Insert, 0, 0},
      {"F1", GDK_KEY_F1, 0, 0},            {"F12", GDK_KEY_F12, 0, 0},
      {"Delete", GDK_KEY_Delete, 0, 0},    {"keypad Delete", GDK_KEY_KP_Delete, 0, 0},
      {"Ctrl+Left", GDK_KEY_Left, GDK_CONTROL_MASK, 0},
  };
  for (const Key& key : keys) EXPECT_EQ(char_code_of(key.keyval, key.state), 0) << key.name;
}

}  // namespace
