// The user32 calls the start-up code makes to embed the preview, by their own names and with user32's
// meaning, on the back end's window handles (an HWND on Windows, an X11 window id on Linux).
#pragma once

#include <cstdint>

#include "forms/backend.h"

namespace forms::user32 {

constexpr int kGwlStyle = -16;
constexpr int kGwlHwndParent = -8;
constexpr std::int32_t kWsChild = 0x40000000;
constexpr unsigned kSwpNoSize = 0x1;
constexpr unsigned kSwpNoMove = 0x2;
constexpr unsigned kSwpNoZOrder = 0x4;
constexpr unsigned kSwpNoActivate = 0x10;
constexpr unsigned kSwpShowWindow = 0x40;
constexpr WindowHandle kHwndTopmost = static_cast<WindowHandle>(-1);

WindowHandle FindWindowA(const char* class_name, const char* title);
bool GetClientRect(WindowHandle window, Rect& rect);
std::int32_t GetWindowLongA(WindowHandle window, int index);
std::intptr_t SetWindowLongA(WindowHandle window, int index, std::intptr_t value);
WindowHandle SetParent(WindowHandle child, WindowHandle parent);
bool SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy, unsigned flags);
int ShowCursor(bool show);

}  // namespace forms::user32
