#include "forms/user32.h"

#include <string>

namespace forms::user32 {

WindowHandle FindWindowA(const char* class_name, const char* title) {
  (void)class_name;
  return platform().find_window(title == nullptr ? std::string() : std::string(title));
}
bool GetClientRect(WindowHandle window, Rect& rect) { return platform().get_client_rect(window, rect); }
std::int32_t GetWindowLongA(WindowHandle window, int index) { return platform().get_window_long(window, index); }
std::intptr_t SetWindowLongA(WindowHandle window, int index, std::intptr_t value) {
  return platform().set_window_long(window, index, value);
}
WindowHandle SetParent(WindowHandle child, WindowHandle parent) { return platform().set_parent(child, parent); }
bool SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy, unsigned flags) {
  return platform().set_window_pos(window, insert_after, x, y, cx, cy, flags);
}
int ShowCursor(bool show) { return platform().show_cursor(show); }

}  // namespace forms::user32
