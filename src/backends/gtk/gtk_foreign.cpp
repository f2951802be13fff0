// Living inside a foreign X window (a preview host, XScreenSaver's window): the window is reparented into
// it and watches its structure. Whether the host is destroyed, or this window is destroyed with it or
// taken out of it, the form unloads as if its window had been closed under it (native_destroyed).
#include "backends/gtk/gtk_window.h"

#include <algorithm>

#include "backends/gtk/gtk_platform.h"

namespace forms::gtk {

WindowHandle FormWindow::set_parent(x11::XId parent) {
  GdkWindow* window = realized();
  if (window == nullptr) return 0;
  const x11::XId previous = m_host;
  const x11::XId target = parent != 0 ? parent : x11::root();
  if (!x11::watch_structure(target) || !x11::reparent(x11::id_of(window), target, 0, 0)) {
    // The host named no window: the preview has nowhere to live, so it ends as if its host had gone,
    // once the start-up code has finished with it.
    m_lost_host = true;
    g_idle_add(
        [](gpointer self) -> gboolean {
          static_cast<FormWindow*>(self)->host_gone();
          return G_SOURCE_REMOVE;
        },
        this);
    return 0;
  }
  m_host = parent;
  if (parent != 0) m_hosted = true;
  return previous;
}

void FormWindow::host_event(const x11::StructureEvent& event) {
  if (event.kind == x11::StructureEvent::Kind::ActiveChanged) {
    stay_on_top();
    return;
  }
  if (m_host == 0 || (m_window == nullptr && m_bare == nullptr)) return;
  using Kind = x11::StructureEvent::Kind;
  const x11::XId own = x11::id_of(toplevel());
  switch (event.kind) {
    case Kind::Destroyed:
      // The host's children die first: this window's own end usually brings the news.
      if (event.window == m_host || event.window == own) host_gone();
      break;
    case Kind::Reparented:
      // Taken out of the host (saved from its destruction into the root, say): the host is gone for us.
      if (event.window == own && event.parent != m_host) {
        host_gone();
      }
      break;
    case Kind::Configured:
      // XScreenSaver's window can change size (its settings preview does); the clock keeps filling it.
      // The size is asked of the server, capped at the screen's.
      if (m_in_hack && event.window == m_host && event.event == m_host) {
        if (const auto size = x11::window_size(m_host)) resize_toplevel(size->width / m_scale, size->height / m_scale);
      }
      break;
    case Kind::ActiveChanged:
    case Kind::Other:
      break;
  }
}

void FormWindow::host_gone() {
  m_host = 0;
  m_platform.dispatch([this] { m_form.native_destroyed(); });
}

// The X window was destroyed under us: its parent (a preview host) went away, and took it along.
gboolean FormWindow::on_destroy_event(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  window->m_host = 0;
  window->m_platform.dispatch([window] { window->m_form.native_destroyed(); });
  return FALSE;
}

}  // namespace forms::gtk
