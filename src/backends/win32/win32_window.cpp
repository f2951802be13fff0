#include "backends/win32/win32_window.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "backends/win32/win32_platform.h"
#include "backends/win32_services/dib_frame.h"
#include "backends/win32_services/wide_text.h"
#include "pictures/icon_file.h"

namespace forms::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"dialsaver.window";
constexpr int kFirstControlId = 1000;

COLORREF to_colorref(OleColor color) { return static_cast<COLORREF>(color & 0xFFFFFF); }

// The local clock in milliseconds since midnight.
std::int64_t local_clock_ms() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return ((now.wHour * 60LL + now.wMinute) * 60 + now.wSecond) * 1000 + now.wMilliseconds;
}

bool takes_focus(ControlKind kind) { return kind == ControlKind::CommandButton || kind == ControlKind::CheckBox; }

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

// A borderless window leaves the taskbar as a tool window; a captioned one keeps its normal caption and is
// owned by a hidden window instead (see Win32Platform::hidden_owner).
DWORD window_ex_style(const WindowDef& def) {
  DWORD ex = 0;
  if (def.border_style == BorderStyle::FixedDialog) ex |= WS_EX_DLGMODALFRAME;
  if (!def.show_in_taskbar && def.border_style == BorderStyle::None) ex |= WS_EX_TOOLWINDOW;
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

HFONT make_font(const FontDef& font, double dpi) {
  LOGFONTW lf{};
  lf.lfHeight = -std::max(1, static_cast<int>(std::lround(font.size_points * dpi / 72.0)));
  lf.lfWeight = font.weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  const std::wstring face = widen(font.face).substr(0, LF_FACESIZE - 1);
  std::copy(face.begin(), face.end(), lf.lfFaceName);
  return CreateFontIndirectW(&lf);
}

// The icon of an .ico file's image that suits `size` pixels best (see best_icon_image).
HICON icon_from_file(std::span<const std::byte> file, int size) {
  const auto image = best_icon_image(file, size);
  if (!image) return nullptr;
  auto* bytes = reinterpret_cast<PBYTE>(const_cast<std::byte*>(image->data()));
  return CreateIconFromResourceEx(bytes, static_cast<DWORD>(image->size()), TRUE, 0x00030000, size, size,
                                  LR_DEFAULTCOLOR);
}

const DibFrame* dib_of(const FrameBuffer& frame) { return dynamic_cast<const DibFrame*>(&frame); }

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
  HWND owner = def.show_in_taskbar || def.border_style == BorderStyle::None ? nullptr : platform.hidden_owner();
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

// ---- Handlers ----

void Win32Window::on_paint() {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(m_hwnd, &ps);
  if (dc != nullptr) paint(dc, ps.rcPaint);
  EndPaint(m_hwnd, &ps);
}

// What the window shows, drawn into a device context someone else holds: a host capturing the preview,
// or a themed control painting its parent's background under itself.
LRESULT Win32Window::on_print_client(HDC dc) {
  if (dc == nullptr || GetObjectType(dc) == 0) return 0;
  RECT client{};
  GetClientRect(m_hwnd, &client);
  paint(dc, client);
  return 0;
}

void Win32Window::on_timer(UINT_PTR id) {
  auto it = m_timers.find(id);
  if (it == m_timers.end()) {
    KillTimer(m_hwnd, id);
    return;
  }
  auto* timer = reinterpret_cast<Timer*>(id);
  const TickSchedule::Step step = it->second.fired(local_clock_ms());
  arm(id, step.next_delay_ms);
  if (step.deliver) timer->tick();
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

void Win32Window::on_command(WPARAM wparam, LPARAM lparam) {
  const int code = HIWORD(wparam);
  if (code == BN_SETFOCUS) {
    show_default_button(reinterpret_cast<HWND>(lparam));
    return;
  }
  if (code != BN_CLICKED) return;
  ControlView* view = view_of_id(LOWORD(wparam));
  if (view == nullptr || view->child == nullptr || IsWindowEnabled(view->child) == 0) return;
  m_form.click(*view->control);
}

// A click is a press and a release on the same label (or image, or frame); shapes take no part.
void Win32Window::on_left_button(UINT message, LPARAM lparam) {
  const POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  if (message == WM_LBUTTONDOWN) {
    m_pressed = label_at(at);
    if (m_pressed != nullptr) SetCapture(m_hwnd);
    return;
  }
  Control* pressed = std::exchange(m_pressed, nullptr);
  if (GetCapture() == m_hwnd) ReleaseCapture();
  if (pressed != nullptr && pressed == label_at(at)) m_form.click(*pressed);
}

// The focus returns to the control that had it when the window was last active; the first time, to the
// first control in the tab order.
void Win32Window::on_activate(WPARAM wparam) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(m_hwnd, focus)) m_last_focus = focus;
    return;
  }
  HWND target = m_last_focus;
  if (target == nullptr || IsWindow(target) == 0 || IsWindowEnabled(target) == 0) {
    target = GetNextDlgTabItem(m_hwnd, nullptr, FALSE);
  }
  if (target != nullptr) SetFocus(target);
}

// Enter presses the focused push button, or the definition's default button when the focus is elsewhere.
LRESULT Win32Window::on_get_default_id() {
  HWND focus = GetFocus();
  for (const ControlView& view : m_views) {
    if (view.child != nullptr && view.child == focus && view.control->kind() == ControlKind::CommandButton) {
      return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
    }
  }
  return m_default_id != 0 ? MAKELRESULT(m_default_id, DC_HASDEFID) : 0;
}

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

void Win32Window::control_changed(Control& control) {
  if (ControlView* view = view_of(control)) sync(*view);
}

// Only the dirty rectangles travel to the screen, straight from the surface's bitmap.
void Win32Window::present(PictureBox& box, std::span<const Rect> dirty) {
  if (!surface_shown(box)) return;
  const DibFrame* frame = dib_of(box.pixels());
  if (frame == nullptr) return;
  const Rect at = box.bounds_in_form();
  WindowDc dc(m_hwnd);
  if (dc.get() == nullptr) return;
  for (const Rect& r : dirty) {
    BitBlt(dc.get(), at.left + r.left, at.top + r.top, r.width(), r.height(), frame->dc(), r.left, r.top, SRCCOPY);
  }
}

void Win32Window::destroy() {
  if (m_hwnd == nullptr || m_destroying) return;
  m_destroying = true;
  DestroyWindow(m_hwnd);
}

// ---- Timers ----

void Win32Window::timer_changed(Timer& timer) {
  if (m_hwnd == nullptr) return;
  const auto id = reinterpret_cast<UINT_PTR>(&timer);
  if (!timer.running()) {
    if (m_timers.erase(id) != 0 && m_hwnd != nullptr) KillTimer(m_hwnd, id);
    return;
  }
  auto it = m_timers.find(id);
  if (it == m_timers.end() || it->second.interval_ms() != timer.Interval()) {
    it = m_timers.insert_or_assign(id, TickSchedule(timer.Interval())).first;
  }
  arm(id, it->second.first_delay_ms(local_clock_ms()));
}

// A timer the system does not coalesce with others where it can, so a tick lands when it is due.
void Win32Window::arm(UINT_PTR id, int delay_ms) {
  using SetCoalescable = UINT_PTR(WINAPI*)(HWND, UINT_PTR, UINT, TIMERPROC, ULONG);
  static const auto set_coalescable = optional_function<SetCoalescable>(L"user32.dll", "SetCoalescableTimer");
  constexpr ULONG kNoCoalescing = 0xFFFFFFFF;
  const auto delay = static_cast<UINT>(std::max(USER_TIMER_MINIMUM, delay_ms));
  if (set_coalescable == nullptr || set_coalescable(m_hwnd, id, delay, nullptr, kNoCoalescing) == 0) {
    SetTimer(m_hwnd, id, delay, nullptr);
  }
}

// The host's window stops being a window when the host destroys it or ends. Under Wine a host that ends
// takes our child window with it on the server's side without telling us (no WM_DESTROY, and the
// window's own timers stop), so our own window may stop being one too.
bool Win32Window::host_gone() const {
  if (m_host == nullptr) return false;
  return IsWindow(m_host) == 0 || m_hwnd == nullptr || IsWindow(m_hwnd) == 0;
}

// ---- Controls ----

void Win32Window::create_controls() {
  const double dpi = m_form.dpi();
  const std::optional<FontDef>& form_font = m_form.def().font;
  for (const auto& control : m_form.controls()) {
    ControlView view;
    view.control = control.get();
    const ControlKind kind = control->kind();
    if (kind == ControlKind::Label || takes_focus(kind)) {
      const std::optional<FontDef>& font = control->def().font ? control->def().font : form_font;
      if (font) view.font.reset(make_font(*font, dpi));
    }
    m_views.push_back(std::move(view));
  }
  // Children are made in tab order: IsDialogMessage moves the focus through them in that order.
  std::vector<ControlView*> focusable;
  for (ControlView& view : m_views) {
    if (takes_focus(view.control->kind())) focusable.push_back(&view);
  }
  std::stable_sort(focusable.begin(), focusable.end(), [](const ControlView* a, const ControlView* b) {
    const int ta = a->control->def().tab_index < 0 ? INT_MAX : a->control->def().tab_index;
    const int tb = b->control->def().tab_index < 0 ? INT_MAX : b->control->def().tab_index;
    return ta < tb;
  });
  HWND previous = HWND_TOP;
  for (ControlView* view : focusable) {
    create_child(*view);
    SetWindowPos(view->child, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = view->child;
    if (m_first_tab_stop == nullptr && view->control->def().tab_index >= 0) m_first_tab_stop = view->child;
  }
}

void Win32Window::create_child(ControlView& view) {
  const ControlDef& def = view.control->def();
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | BS_NOTIFY;
  if (def.kind == ControlKind::CommandButton) {
    style |= def.is_default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
  } else {
    style |= BS_CHECKBOX;  // the engine holds the value and sets the box's check
  }
  if (def.tab_index >= 0) style |= WS_TABSTOP;
  const auto index = static_cast<int>(&view - m_views.data());
  const int id = def.is_default ? IDOK : def.is_cancel ? IDCANCEL : kFirstControlId + index;
  if (def.is_default) m_default_id = id;
  view.child = CreateWindowExW(0, L"BUTTON", widen(view.control->Caption()).c_str(), style, 0, 0, 0, 0, m_hwnd,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), m_platform.instance(), nullptr);
  if (view.child == nullptr) {
    throw std::runtime_error("cannot make the control " + std::string(def.name) + ": " + error_text(GetLastError()));
  }
  HGDIOBJ font = view.font ? static_cast<HGDIOBJ>(view.font.get()) : GetStockObject(DEFAULT_GUI_FONT);
  SendMessageW(view.child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  sync(view);
}

// Brings the native side of a control up to date with the control, whatever property changed.
void Win32Window::sync(ControlView& view) {
  Control& control = *view.control;
  if (view.child != nullptr) {
    place_child(view);
    const std::wstring caption = widen(control.Caption());
    wchar_t shown[256] = {};
    GetWindowTextW(view.child, shown, static_cast<int>(std::size(shown)));
    if (caption != shown) SetWindowTextW(view.child, caption.c_str());
    EnableWindow(view.child, control.Enabled() ? TRUE : FALSE);
    if (auto* check = dynamic_cast<CheckBox*>(&control)) {
      SendMessageW(view.child, BM_SETCHECK, check->Value() == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    ShowWindow(view.child, control.Visible() ? SW_SHOWNA : SW_HIDE);
    return;
  }
  if (control.kind() == ControlKind::Timer || control.kind() == ControlKind::CommonDialog) return;
  // Drawn by the window: repaint where it was and where it is.
  const Rect now = control.Visible() ? control.bounds_in_form() : Rect{};
  for (const Rect& r : {view.drawn, now}) {
    if (r.empty()) continue;
    const RECT area{r.left, r.top, r.right, r.bottom};
    InvalidateRect(m_hwnd, &area, FALSE);
  }
  view.drawn = now;
}

void Win32Window::place_child(ControlView& view) {
  const Rect r = view.control->bounds_in_form();
  RECT current{};
  GetWindowRect(view.child, &current);
  MapWindowPoints(HWND_DESKTOP, m_hwnd, reinterpret_cast<POINT*>(&current), 2);
  if (current.left == r.left && current.top == r.top && current.right == r.right && current.bottom == r.bottom) return;
  SetWindowPos(view.child, nullptr, r.left, r.top, r.width(), r.height(), SWP_NOZORDER | SWP_NOACTIVATE);
}

// A push button that takes the focus becomes the default button; when the focus goes to anything else, the
// definition's default button is the default again.
void Win32Window::show_default_button(HWND focused) {
  HWND target = nullptr;
  HWND definition_default = nullptr;
  for (const ControlView& view : m_views) {
    if (view.child == nullptr || view.control->kind() != ControlKind::CommandButton) continue;
    if (view.child == focused) target = focused;
    if (view.control->def().is_default) definition_default = view.child;
  }
  if (target == nullptr) target = definition_default;
  for (const ControlView& view : m_views) {
    if (view.child == nullptr || view.control->kind() != ControlKind::CommandButton) continue;
    const DWORD wanted = view.child == target ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    if ((GetWindowLongW(view.child, GWL_STYLE) & BS_TYPEMASK) != wanted) {
      SendMessageW(view.child, BM_SETSTYLE, wanted | BS_NOTIFY, TRUE);
    }
  }
}

Win32Window::ControlView* Win32Window::view_of(const Control& control) {
  for (ControlView& view : m_views) {
    if (view.control == &control) return &view;
  }
  return nullptr;
}

Win32Window::ControlView* Win32Window::view_of_id(int id) {
  for (ControlView& view : m_views) {
    if (view.child != nullptr && GetDlgCtrlID(view.child) == id) return &view;
  }
  return nullptr;
}

// The topmost drawn control under a point that reports clicks; shapes are looked through.
Control* Win32Window::label_at(POINT point) const {
  // Back to front; std::views::reverse would do, but the clang that checks this code cannot read the
  // mingw libstdc++'s ranges.
  for (auto it = m_views.rbegin(); it != m_views.rend(); ++it) {  // NOLINT(modernize-loop-convert)
    Control& control = *it->control;
    const ControlKind kind = control.kind();
    if (it->child != nullptr || !control.Visible() || kind == ControlKind::Shape) continue;
    if (kind != ControlKind::Label && kind != ControlKind::Image && kind != ControlKind::Frame) continue;
    if (control.bounds_in_form().contains(point.x, point.y)) return &control;
  }
  return nullptr;
}

// ---- Drawing ----

bool Win32Window::surface_shown(const PictureBox& box) const {
  return m_hwnd != nullptr && IsWindowVisible(m_hwnd) != 0 && box.Visible() && box.container() == nullptr &&
         !box.bounds().empty();
}

// Surfaces first, each then taken out of the clip region, so the background never flashes under them;
// then the background and the drawn controls in the definition's order.
void Win32Window::paint(HDC dc, const RECT& area) {
  const int saved = SaveDC(dc);
  const Rect wanted{area.left, area.top, area.right, area.bottom};
  for (ControlView& view : m_views) {
    auto* box = dynamic_cast<PictureBox*>(view.control);
    if (box == nullptr || !surface_shown(*box)) continue;
    const Rect at = box->bounds_in_form();
    const Rect part = intersect(at, wanted);
    if (part.empty()) continue;
    if (const DibFrame* frame = dib_of(box->pixels())) {
      BitBlt(dc, part.left, part.top, part.width(), part.height(), frame->dc(), part.left - at.left, part.top - at.top,
             SRCCOPY);
    }
    ExcludeClipRect(dc, at.left, at.top, at.right, at.bottom);
  }
  const std::optional<OleColor> back = m_form.def().back_color;
  GdiObject<HBRUSH> brush(CreateSolidBrush(back ? to_colorref(*back) : GetSysColor(COLOR_BTNFACE)));
  FillRect(dc, &area, brush.get());
  for (ControlView& view : m_views) {
    if (view.child == nullptr && view.control->Visible()) paint_windowless(dc, view);
  }
  RestoreDC(dc, saved);
}

void Win32Window::paint_windowless(HDC dc, ControlView& view) {
  const Rect at = view.control->bounds_in_form();
  RECT r{at.left, at.top, at.right, at.bottom};
  switch (view.control->kind()) {
    case ControlKind::Frame:
      DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
      break;
    case ControlKind::Image:
      paint_image(dc, view, at);
      break;
    case ControlKind::Label:
      paint_label(dc, view, at);
      break;
    case ControlKind::Shape: {
      auto& shape = static_cast<Shape&>(*view.control);
      GdiObject<HBRUSH> fill(CreateSolidBrush(to_colorref(shape.FillColor())));
      GdiObject<HPEN> outline(CreatePen(PS_SOLID, 1, to_colorref(shape.BorderColor())));
      Selection use_fill(dc, fill.get());
      Selection use_outline(dc, outline.get());
      Rectangle(dc, r.left, r.top, r.right, r.bottom);
      break;
    }
    default:
      break;
  }
}

// The picture is scaled once into a surface of the control's size (the engine's own smooth resampling,
// over the dialog's colour where the picture is transparent) and blitted from there on every paint.
void Win32Window::paint_image(HDC dc, ControlView& view, const Rect& at) {
  const auto& image = static_cast<const Image&>(*view.control);
  const PictureRef& picture = image.Picture();
  if (!picture || at.empty()) {
    view.image.reset();
    return;
  }
  const Size size{at.width(), at.height()};
  if (!view.image || view.image_source != picture || view.image->pixel_size() != size) {
    view.image = std::make_unique<Surface>(m_platform.services(), m_platform.services());
    view.image->resize(size, m_form.dpi());
    view.image->BackColor = static_cast<OleColor>(GetSysColor(COLOR_BTNFACE));  // the same byte order
    const float width = image.Stretch() ? static_cast<float>(size.width) : static_cast<float>(picture->width());
    const float height = image.Stretch() ? static_cast<float>(size.height) : static_cast<float>(picture->height());
    view.image->PaintPicture(picture, 0, 0, width, height);
    view.image_source = picture;
  }
  if (const DibFrame* frame = dib_of(view.image->pixels())) {
    BitBlt(dc, at.left, at.top, size.width, size.height, frame->dc(), 0, 0, SRCCOPY);
  }
}

void Win32Window::paint_label(HDC dc, ControlView& view, const Rect& at) {
  auto& label = static_cast<Label&>(*view.control);
  RECT r{at.left, at.top, at.right, at.bottom};
  const std::optional<OleColor> back = label.def().back_color;
  GdiObject<HBRUSH> brush(CreateSolidBrush(back ? to_colorref(*back) : GetSysColor(COLOR_BTNFACE)));
  FillRect(dc, &r, brush.get());
  Selection font(dc, view.font ? static_cast<HGDIOBJ>(view.font.get()) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(label.Enabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  UINT format = DT_WORDBREAK;
  if (label.def().alignment == Alignment::Right) format |= DT_RIGHT;
  if (label.def().alignment == Alignment::Center) format |= DT_CENTER;
  const std::wstring caption = widen(label.Caption());
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &r, format);
}

}  // namespace forms::win32
