// The character a key press types, as a window's KeyPress handler receives it: 0 for keys that type
// nothing (modifiers, arrows, function keys, Delete), the control code for Enter, Esc, Backspace and Tab,
// and Ctrl with a letter giving that letter's control code, as on the keyboards the handlers were
// written for.
#pragma once

namespace forms::gtk {

// `keyval` and `state` as a GdkEventKey holds them.
int char_code_of(unsigned keyval, unsigned state);

}  // namespace forms::gtk
