// The form's controls: command buttons and check boxes as child windows made in tab order, the others
// drawn by the window; their clicks, the focus and the default button. sync() is the one way the native
// side follows a control, whatever property changed.
#include "backends/win32/win32_window.h"

#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <stdexcept>
#include <utility>

#include "backends/win32/win32_platform.h"
#include "backends/win32_services/wide_text.h"

namespace forms::win32 {
namespace {

constexpr int kFirstControlId = 1000;

bool takes_focus(ControlKind kind) { return kind == ControlKind::CommandButton || kind == ControlKind::CheckBox; }

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

}  // namespace

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

void Win32Window::control_changed(Control& control) {
  if (ControlView* view = view_of(control)) sync(*view);
}

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

}  // namespace forms::win32
