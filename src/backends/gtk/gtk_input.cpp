// The saver's own input: a window with drawing surfaces and no widgets takes the keys that type a
// character, Alt+F4, and the pointer's moves, and, covering its monitor, grabs the keyboard. Only a move that
// changes the pointer's position reaches the form.
#include "backends/gtk/gtk_window.h"

#include "backends/gtk/gtk_platform.h"
#include "backends/gtk/keys.h"

namespace forms::gtk {
namespace {

constexpr int kGrabTries = 20;
constexpr unsigned kGrabRetryMs = 100;

}  // namespace

gboolean FormWindow::on_key_press(GtkWidget* /*widget*/, GdkEventKey* event, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  if (!window->m_takes_input) return window->handle_dialog_key(*event) ? TRUE : FALSE;
  // The saver holds the keyboard, so the window manager never sees Alt+F4: the window takes it as the
  // close request it is. A window inside a host leaves it to the host.
  if (event->keyval == GDK_KEY_F4 && (event->state & GDK_MOD1_MASK) != 0 && window->m_host == 0) {
    window->m_platform.dispatch([window] { window->m_form.close_request(); });
    return TRUE;
  }
  const int code = char_code_of(event->keyval, event->state);
  if (code != 0) window->m_platform.dispatch([window, code] { window->m_form.key_press(code); });
  return TRUE;
}

gboolean FormWindow::on_motion(GtkWidget* /*widget*/, GdkEventMotion* event, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  if (!window->m_platform.pointer_moved(event->x_root, event->y_root)) return TRUE;
  const unsigned state = event->state;
  const int button = ((state & GDK_BUTTON1_MASK) != 0 ? 1 : 0) | ((state & GDK_BUTTON3_MASK) != 0 ? 2 : 0) |
                     ((state & GDK_BUTTON2_MASK) != 0 ? 4 : 0);
  const int shift = ((state & GDK_SHIFT_MASK) != 0 ? 1 : 0) | ((state & GDK_CONTROL_MASK) != 0 ? 2 : 0) |
                    ((state & GDK_MOD1_MASK) != 0 ? 4 : 0);
  const auto x = static_cast<float>(event->x * window->m_scale);
  const auto y = static_cast<float>(event->y * window->m_scale);
  window->m_platform.dispatch([=] { window->m_form.mouse_move(button, shift, x, y); });
  return TRUE;
}

// A shown window that covers its monitor (the saver) takes the keyboard, as a screen saver does, so that
// every key reaches it whichever window had the focus; keys meant for the program's other windows still
// reach them. A window living in another (the preview) leaves the keyboard to its host.
gboolean FormWindow::on_map(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  const bool covers = window->m_form.WindowState() == WindowStateKind::Maximized;
  if (window->m_takes_input && covers && window->m_host == 0 && !window->grab_keyboard()) {
    window->m_grab_tries = 0;
    g_timeout_add(kGrabRetryMs, retry_grab, window);
  }
  return FALSE;
}

gboolean FormWindow::retry_grab(gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  if (!window->mapped()) return G_SOURCE_REMOVE;
  if (window->grab_keyboard() || ++window->m_grab_tries >= kGrabTries) return G_SOURCE_REMOVE;
  return G_SOURCE_CONTINUE;
}

bool FormWindow::grab_keyboard() {
  GdkWindow* window = toplevel();
  if (window == nullptr) return false;
  GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
  return gdk_seat_grab(seat, window, GDK_SEAT_CAPABILITY_KEYBOARD, TRUE, nullptr, nullptr, nullptr, nullptr) ==
         GDK_GRAB_SUCCESS;
}

}  // namespace forms::gtk
