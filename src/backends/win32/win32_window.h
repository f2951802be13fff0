// One form's native window and the Win32 controls made from its definition.
//
// The window procedure follows the BaseWindow idiom: the static procedure stores `this` at WM_NCCREATE and
// hands each message to a short on_xxx handler. It is also the dispatch point: an exception escaping a
// handler ends the program with its message instead of unwinding through the system's frames.
//
// Controls: command buttons and check boxes are child windows (they take the focus, and IsDialogMessage
// moves it through them in tab order); frames, labels, images and shapes are drawn by the window itself in
// the definition's order, so a shape lies above the label it overlaps and, taking no mouse input, lets a
// click through to it. Picture boxes are the forms' drawing surfaces, presented from their frames.
//
// The members are defined by job: win32_window.cpp (life, procedure, state, the saver's input),
// win32_controls.cpp (child and windowless controls), win32_paint.cpp (painting and presenting),
// win32_timers.cpp (the form's timers).
#pragma once

#include <windows.h>

#include <climits>
#include <map>
#include <memory>
#include <vector>

#include "backends/win32_services/handles.h"
#include "forms/backend.h"
#include "forms/form.h"
#include "forms/tick_schedule.h"
#include "graphics/surface.h"

namespace forms::win32 {

class Win32Platform;

class Win32Window final : public NativeWindow {
 public:
  Win32Window(Win32Platform& platform, Form& form);
  ~Win32Window() override;

  static void register_class(HINSTANCE instance);

  // ---- NativeWindow ----
  WindowHandle handle() const override { return reinterpret_cast<WindowHandle>(m_hwnd); }
  Size client_size() const override;
  void set_visible(bool visible) override;
  void set_caption(const std::string& caption) override;
  void set_window_state(WindowStateKind state) override;
  void control_changed(Control& control) override;
  void present(PictureBox& box, std::span<const Rect> dirty) override;
  void destroy() override;

  // ---- For the platform ----
  HWND hwnd() const { return m_hwnd; }
  Form& form() const { return m_form; }
  // A window with controls that take the focus: its keyboard messages go through IsDialogMessage.
  bool has_dialog_keys() const { return m_first_tab_stop != nullptr; }
  void timer_changed(Timer& timer);
  // The window was made a child of another program's window (a host's preview window).
  void embedded_in(HWND parent) { m_host = parent; }
  // It was embedded, and the host's window (or, with it, this one) is gone.
  bool host_gone() const;

 private:
  struct ControlView {
    Control* control = nullptr;
    HWND child = nullptr;  // command buttons and check boxes
    Rect drawn;            // where it was last drawn, in the client area
    GdiObject<HFONT> font;
    std::unique_ptr<Surface> image;  // an image control's picture, scaled to the control
    PictureRef image_source;
  };

  static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);

  // win32_window.cpp
  RECT window_rect_for(WindowStateKind state) const;
  void on_mouse_move(WPARAM wparam, LPARAM lparam);
  void on_char(WPARAM wparam);
  void on_destroy();

  // win32_controls.cpp
  void create_controls();
  void create_child(ControlView& view);
  void sync(ControlView& view);
  void place_child(ControlView& view);
  Control* label_at(POINT point) const;
  ControlView* view_of(const Control& control);
  ControlView* view_of_id(int id);
  void show_default_button(HWND focused);
  void on_command(WPARAM wparam, LPARAM lparam);
  void on_left_button(UINT message, LPARAM lparam);
  void on_activate(WPARAM wparam);
  LRESULT on_get_default_id();

  // win32_paint.cpp
  void on_paint();
  LRESULT on_print_client(HDC dc);
  void paint(HDC dc, const RECT& area);
  void paint_windowless(HDC dc, ControlView& view);
  void paint_image(HDC dc, ControlView& view, const Rect& at);
  void paint_label(HDC dc, ControlView& view, const Rect& at);
  bool surface_shown(const PictureBox& box) const;

  // win32_timers.cpp
  void on_timer(UINT_PTR id);
  void arm(UINT_PTR id, int delay_ms);

  Win32Platform& m_platform;
  Form& m_form;
  HWND m_hwnd = nullptr;
  HWND m_host = nullptr;
  bool m_destroying = false;
  WindowStateKind m_window_state;
  POINT m_last_cursor{LONG_MIN, LONG_MIN};
  std::vector<ControlView> m_views;
  HWND m_first_tab_stop = nullptr;
  HWND m_last_focus = nullptr;
  int m_default_id = 0;
  Control* m_pressed = nullptr;
  Icon m_icon_big;
  Icon m_icon_small;
  std::map<UINT_PTR, TickSchedule> m_timers;
};

}  // namespace forms::win32
