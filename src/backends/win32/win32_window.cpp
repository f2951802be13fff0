// The window's life and its procedure: the class, the window made from the definition and placed on its
// monitor, the messages handed to their handlers, the saver's keys and mouse moves, and the NativeWindow
// calls on the window's own state. Once WM_NCDESTROY has come, or the object is gone, no message reaches it.
#include "backends/win32/win32_window.h"

#include <windowsx.h>

#include <cmath>
#include <stdexcept>
#include <utility>

#include "backends/win32/win32_platform.h"
#include "backends/win32_services/wide_text.h"
#include "pictures/icon_file.h"

namespace forms::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"dialsaver.window";

DWORD window_style(const WindowDef& def) {
  DWORD style = WS_CLIPCHILDREN;
  switch (def.border_style) {
    case BorderStyle::None:
      return style | WS_POPUP;
    case BorderStyle::FixedDialog:
      return style | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    case BorderStyle::FixedSingle:
      style |= WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_BORDER;
      break;
    case BorderStyle::Sizable:
      style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
      break;
  }
  if (def.max_button) style |= WS_MAXIMIZEBOX;
  if (def.min_button) style |= WS_MINIMIZEBOX;
  return style;
}

// A window that stays out of the taskbar is owned by a hidden window (see Win32Platform::hidden_owner)
// rather than made a tool window. Under Wine a tool window becomes a normal X window that skips the
// taskbar, which a window manager such as openbox never focuses when it maps; an owned one becomes a
// dialog, which it does, and the saver must take the keyboard as it shows.
DWORD window_ex_style(const WindowDef& def) {
  DWORD ex = 0;
  if (def.border_style == BorderStyle::FixedDialog) ex |= WS_EX_DLGMODALFRAME;
  return ex;
}

RECT monitor_area(const Monitor& monitor, bool work_area) {
  const RECT bounds{monitor.bounds.left, monitor.bounds.top, monitor.bounds.right, monitor.bounds.bottom};
  if (!work_area) return bounds;
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(MonitorFromRect(&bounds, MONITOR_DEFAULTTONEAREST), &info) == 0) return bounds;
  return info.rcWork;
}

void adjust_for_frame(RECT& rect, DWORD style, DWORD ex_style, double dpi) {
  using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = optional_function<AdjustForDpi>(L"user32.dll", "AdjustWindowRectExForDpi");
  if (adjust != nullptr) {
    adjust(&rect, style, FALSE, ex_style, static_cast<UINT>(std::lround(dpi)));
  } else {
    AdjustWindowRectEx(&rect, style, FALSE, ex_style);
  }
}

// The icon of an .ico file's image that suits `size` pixels best (see best_icon_image).
HICON icon_from_file(std::span<const std::byte> file, int size) {
  const auto image = best_icon_image(file, size);
  if (!image) return nullptr;
  auto* bytes = reinterpret_cast<PBYTE>(const_cast<std::byte*>(image->data()));
  return CreateIconFromResourceEx(bytes, static_cast<DWORD>(image->size()), TRUE, 0x00030000, size, size,
                                  LR_DEFAULTCOLOR);
}

}  // namespace

void Win32Window::register_class(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = window_proc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
}

Win32Window::Win32Window(Win32Platform& platform, Form& form)
    : m_platform(platform), m_form(form), m_window_state(form.WindowState()) {
  const WindowDef& def = form.def();
  const DWORD style = window_style(def);
  const DWORD ex_style = window_ex_style(def);
  const RECT r = window_rect_for(m_window_state);
  HWND owner = def.show_in_taskbar ? nullptr : platform.hidden_owner();
  CreateWindowExW(ex_style, kWindowClass, widen(form.Caption()).c_str(), style, r.left, r.top, r.right - r.left,
                  r.bottom - r.top, owner, nullptr, platform.instance(), this);
  if (m_hwnd == nullptr)
    throw std::runtime_error("cannot make the window " + form.name() + ": " + error_text(GetLastError()));
  GetCursorPos(&m_last_cursor);
  if (!def.icon.empty()) {
    m_icon_big.reset(icon_from_file(def.icon, GetSystemMetrics(SM_CXICON)));
    m_icon_small.reset(icon_from_file(def.icon, GetSystemMetrics(SM_CXSMICON)));
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon_big.get()));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon_small.get()));
  }
  try {
    create_controls();
  } catch (...) {
    // No destructor runs for an object whose constructor throws: the window must not outlive it.
    SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
    DestroyWindow(m_hwnd);
    throw;
  }
}

Win32Window::~Win32Window() {
  m_platform.forget(*this);
  if (m_hwnd == nullptr) return;
  // Whatever happens to the window from here on, no message reaches this object again.
  SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
  if (!m_destroying) DestroyWindow(m_hwnd);
}

// A maximised borderless window covers its whole monitor; any other window has the definition's client
// size, centred on its monitor's work area unless the definition places it.
RECT Win32Window::window_rect_for(WindowStateKind state) const {
  const WindowDef& def = m_form.def();
  const Monitor& monitor = m_form.monitor();
  if (state == WindowStateKind::Maximized) return monitor_area(monitor, def.border_style != BorderStyle::None);
  const Rect client = client_rect_on(def, monitor.bounds, monitor.dpi);
  RECT r{0, 0, client.width(), client.height()};
  adjust_for_frame(r, window_style(def), window_ex_style(def), monitor.dpi);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (def.startup_position == StartUpPosition::Manual) {
    const int x = client.left + r.left;
    const int y = client.top + r.top;
    return {x, y, x + width, y + height};
  }
  const RECT area = monitor_area(monitor, true);
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  return {x, y, x + width, y + height};
}

// ---- The window procedure ----

LRESULT CALLBACK Win32Window::window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->m_hwnd = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr || Win32Platform::failing()) return DefWindowProcW(hwnd, message, wparam, lparam);
  try {
    return self->handle_message(message, wparam, lparam);
  } catch (const std::exception& error) {
    Win32Platform::fail(error.what());
  } catch (...) {
    Win32Platform::fail("an unexpected error");
  }
}

// A handler that calls into the form may unload it, which destroys this object: nothing after such a
// call touches a member.
LRESULT Win32Window::handle_message(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      on_paint();
      return 0;
    case WM_PRINTCLIENT:
      return on_print_client(reinterpret_cast<HDC>(wparam));
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers every pixel
    case WM_TIMER:
      on_timer(wparam);
      return 0;
    case WM_MOUSEMOVE:
      on_mouse_move(wparam, lparam);
      return 0;
    case WM_CHAR:
      on_char(wparam);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      on_left_button(message, lparam);
      return 0;
    case WM_COMMAND:
      on_command(wparam, lparam);
      return 0;
    case DM_GETDEFID:
      return on_get_default_id();
    case WM_ACTIVATE:
      if (!has_dialog_keys()) break;
      on_activate(wparam);
      return 0;
    case WM_SIZE:
      if (wparam != SIZE_MINIMIZED) m_form.client_resized({LOWORD(lparam), HIWORD(lparam)});
      return 0;
    case WM_CLOSE:
      m_form.close_request();
      return 0;
    case WM_ENDSESSION:
      if (wparam != 0) m_form.close_request();
      return 0;
    case WM_DESTROY:
      on_destroy();
      return 0;
    case WM_NCDESTROY: {
      HWND hwnd = std::exchange(m_hwnd, nullptr);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      return DefWindowProcW(hwnd, message, wparam, lparam);
    }
    default:
      break;
  }
  return DefWindowProcW(m_hwnd, message, wparam, lparam);
}

// Windows sends a mouse move whenever a window appears or changes under a still pointer; only a move that
// changes the pointer's position is reported.
void Win32Window::on_mouse_move(WPARAM wparam, LPARAM lparam) {
  POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  POINT screen = at;
  ClientToScreen(m_hwnd, &screen);
  if (screen.x == m_last_cursor.x && screen.y == m_last_cursor.y) return;
  m_last_cursor = screen;
  const int button = ((wparam & MK_LBUTTON) != 0 ? 1 : 0) | ((wparam & MK_RBUTTON) != 0 ? 2 : 0) |
                     ((wparam & MK_MBUTTON) != 0 ? 4 : 0);
  const int shift =
      ((wparam & MK_SHIFT) != 0 ? 1 : 0) | ((wparam & MK_CONTROL) != 0 ? 2 : 0) | (GetKeyState(VK_MENU) < 0 ? 4 : 0);
  m_form.mouse_move(button, shift, static_cast<float>(at.x), static_cast<float>(at.y));
}

void Win32Window::on_char(WPARAM wparam) { m_form.key_press(static_cast<int>(wparam)); }

// Destroyed from outside (the host's preview window went, taking its children): the form unloads.
void Win32Window::on_destroy() {
  if (m_destroying) return;
  m_destroying = true;
  m_form.native_destroyed();
}

// ---- NativeWindow ----

Size Win32Window::client_size() const {
  RECT r{};
  GetClientRect(m_hwnd, &r);
  return {r.right - r.left, r.bottom - r.top};
}

void Win32Window::set_visible(bool visible) {
  if (!visible) {
    ShowWindow(m_hwnd, SW_HIDE);
    return;
  }
  if (m_form.def().titled_by_program && m_form.Caption().empty()) {
    SetWindowTextW(m_hwnd, widen(m_platform.app_exe_name()).c_str());
  }
  GetCursorPos(&m_last_cursor);
  const bool captioned_maximised =
      m_window_state == WindowStateKind::Maximized && m_form.def().border_style != BorderStyle::None;
  ShowWindow(m_hwnd, captioned_maximised ? SW_SHOWMAXIMIZED : SW_SHOW);
  if ((GetWindowLongW(m_hwnd, GWL_STYLE) & WS_CHILD) == 0) SetForegroundWindow(m_hwnd);
}

void Win32Window::set_caption(const std::string& caption) {
  const bool program_title = m_form.def().titled_by_program && caption.empty() && IsWindowVisible(m_hwnd) != 0;
  SetWindowTextW(m_hwnd, widen(program_title ? m_platform.app_exe_name() : caption).c_str());
}

void Win32Window::set_window_state(WindowStateKind state) {
  m_window_state = state;
  const bool borderless = m_form.def().border_style == BorderStyle::None;
  if (!borderless && IsWindowVisible(m_hwnd) != 0) {
    ShowWindow(m_hwnd, state == WindowStateKind::Maximized   ? SW_MAXIMIZE
                       : state == WindowStateKind::Minimized ? SW_MINIMIZE
                                                             : SW_RESTORE);
    return;
  }
  const RECT r = window_rect_for(state);
  SetWindowPos(m_hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::destroy() {
  if (m_hwnd == nullptr || m_destroying) return;
  m_destroying = true;
  DestroyWindow(m_hwnd);
}

// The host's window stops being a window when the host destroys it or ends. Under Wine a host that ends
// takes our child window with it on the server's side without telling us (no WM_DESTROY, and the
// window's own timers stop), so our own window may stop being one too.
bool Win32Window::host_gone() const {
  if (m_host == nullptr) return false;
  return IsWindow(m_host) == 0 || m_hwnd == nullptr || IsWindow(m_hwnd) == 0;
}

}  // namespace forms::win32
