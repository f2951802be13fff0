#include "backends/gtk/x11/x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <vector>

namespace forms::gtk::x11 {
namespace {

Display* display() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }

// Collects the X errors of the calls made while it lives; failed() says whether there were any.
class ErrorTrap {
 public:
  ErrorTrap() : m_display(gdk_display_get_default()) { gdk_x11_display_error_trap_push(m_display); }
  ~ErrorTrap() {
    if (!m_done) gdk_x11_display_error_trap_pop_ignored(m_display);
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;
  bool failed() {
    m_done = true;
    return gdk_x11_display_error_trap_pop(m_display) != 0;
  }

 private:
  GdkDisplay* m_display;
  bool m_done = false;
};

std::vector<Window> children_of(Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  std::vector<Window> all;
  if (XQueryTree(display(), window, &root, &parent, &children, &count) != 0 && children != nullptr) {
    all.assign(children, children + count);
  }
  if (children != nullptr) XFree(children);
  return all;
}

bool named(Window window, const std::string& name) {
  char* fetched = nullptr;
  const bool same = XFetchName(display(), window, &fetched) != 0 && fetched != nullptr && name == fetched;
  if (fetched != nullptr) XFree(fetched);
  return same;
}

bool has_wm_state(Window window) {
  const Atom wm_state = XInternAtom(display(), "WM_STATE", False);
  Atom type = 0;
  int format = 0;
  unsigned long items = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  const bool present = XGetWindowProperty(display(), window, wm_state, 0, 0, False, AnyPropertyType, &type, &format,
                                          &items, &after, &data) == Success &&
                       type != None;
  if (data != nullptr) XFree(data);
  return present;
}

}  // namespace

XId id_of(GdkWindow* window) { return window != nullptr ? GDK_WINDOW_XID(window) : 0; }

XId root() { return DefaultRootWindow(display()); }

int connection_fd() { return ConnectionNumber(display()); }

std::optional<double> xft_dpi() {
  const char* text = XGetDefault(display(), "Xft", "dpi");
  if (text == nullptr) return std::nullopt;
  char* end = nullptr;
  const double dpi = std::strtod(text, &end);
  if (end == text || dpi < 24 || dpi > 1200) return std::nullopt;
  return dpi;
}

StructureEvent decode(const void* xevent) {
  const XEvent& e = *static_cast<const XEvent*>(xevent);
  StructureEvent out;
  // Any client may send any window an event that looks like the server's (XSendEvent); only the
  // server's own news of a destruction, a reparenting or a new size is believed.
  if (e.xany.send_event != 0) return out;
  switch (e.type) {
    case DestroyNotify:
      out.kind = StructureEvent::Kind::Destroyed;
      out.window = e.xdestroywindow.window;
      out.event = e.xdestroywindow.event;
      break;
    case ReparentNotify:
      out.kind = StructureEvent::Kind::Reparented;
      out.window = e.xreparent.window;
      out.event = e.xreparent.event;
      out.parent = e.xreparent.parent;
      break;
    case ConfigureNotify:
      out.kind = StructureEvent::Kind::Configured;
      out.window = e.xconfigure.window;
      out.event = e.xconfigure.event;
      out.size = {e.xconfigure.width, e.xconfigure.height};
      break;
    case PropertyNotify:
      if (e.xproperty.window == DefaultRootWindow(e.xproperty.display) &&
          e.xproperty.atom == gdk_x11_get_xatom_by_name("_NET_ACTIVE_WINDOW")) {
        out.kind = StructureEvent::Kind::ActiveChanged;
        out.window = e.xproperty.window;
        out.event = e.xproperty.window;
      }
      break;
    default:
      break;
  }
  return out;
}

std::optional<XId> parse_window_id(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  XId id = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id, base);
  if (error != std::errc() || end != text.data() + text.size() || id == 0 || id > kMaxResourceId) {
    return std::nullopt;
  }
  return id;
}

std::optional<Size> window_size(XId window) {
  if (window == 0) return std::nullopt;
  ErrorTrap trap;
  XWindowAttributes attributes{};
  const Status got = XGetWindowAttributes(display(), window, &attributes);
  if (trap.failed() || got == 0) return std::nullopt;
  const Screen* screen = DefaultScreenOfDisplay(display());
  return Size{std::min(attributes.width, WidthOfScreen(screen)), std::min(attributes.height, HeightOfScreen(screen))};
}

XId find_top_level(const std::string& name) {
  ErrorTrap trap;
  const std::vector<Window> top = children_of(DefaultRootWindow(display()));
  for (Window window : top) {
    if (named(window, name)) return window;
  }
  for (Window frame : top) {
    for (Window client : children_of(frame)) {
      if (has_wm_state(client) && named(client, name)) return client;
    }
  }
  return 0;
}

bool reparent(XId window, XId parent, int x, int y) {
  ErrorTrap trap;
  XReparentWindow(display(), window, parent, x, y);
  return !trap.failed();
}

bool configure(XId window, int x, int y, int width, int height, bool move) {
  if (width <= 0 || height <= 0) return false;
  ErrorTrap trap;
  if (move) {
    XMoveResizeWindow(display(), window, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
  } else {
    XResizeWindow(display(), window, static_cast<unsigned>(width), static_cast<unsigned>(height));
  }
  return !trap.failed();
}

bool map(XId window) {
  ErrorTrap trap;
  XMapWindow(display(), window);
  return !trap.failed();
}

namespace {

bool add_to_selection(XId window, long mask) {
  ErrorTrap trap;
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display(), window, &attributes) == 0) return false;
  XSelectInput(display(), window, attributes.your_event_mask | mask);
  return !trap.failed();
}

}  // namespace

bool watch_structure(XId window) { return add_to_selection(window, StructureNotifyMask); }

bool watch_properties(XId window) { return add_to_selection(window, PropertyChangeMask); }

XId active_window() {
  ErrorTrap trap;
  Atom type = 0;
  int format = 0;
  unsigned long items = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  XId active = 0;
  if (XGetWindowProperty(display(), DefaultRootWindow(display()), gdk_x11_get_xatom_by_name("_NET_ACTIVE_WINDOW"), 0, 1,
                         False, XA_WINDOW, &type, &format, &items, &after, &data) == Success &&
      type == XA_WINDOW && format == 32 && items == 1 && data != nullptr) {
    active = *reinterpret_cast<Window*>(data);
  }
  if (data != nullptr) XFree(data);
  return trap.failed() ? 0 : active;
}

bool is_own(XId window) {
  return window != 0 && gdk_x11_window_lookup_for_display(gdk_display_get_default(), window) != nullptr;
}

std::uint32_t user_time() { return gdk_x11_display_get_user_time(gdk_display_get_default()); }

void keep_background(XId window) { XSetWindowBackgroundPixmap(display(), window, None); }

}  // namespace forms::gtk::x11
