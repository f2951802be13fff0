// Xlib on the display GDK opened, for windows named by id: a preview host's window, XScreenSaver's
// window, a running instance's top-level window. Any such window can vanish between two calls, so every
// call runs inside an X error trap and reports a vanished window as a failure instead of an X error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "values/geometry.h"

#include <gdk/gdk.h>

namespace forms::gtk::x11 {

using XId = unsigned long;

// Whether a window can be destroyed by another client while requests for it are on their way: one of the
// program's own that lives (or has lived) inside a foreign window, a preview host's or XScreenSaver's,
// dies with that window. One that never has is destroyed only by the program, after its requests.
enum class WindowFate { OursAlone, MayGoWithHost };

// The X window behind a realised GDK window, and the root window.
XId id_of(GdkWindow* window);
XId root();

// The socket of the display connection.
int connection_fd();

// The X resource Xft.dpi, when set.
std::optional<double> xft_dpi();

// What a window living inside a foreign window needs to know of an X event.
struct StructureEvent {
  // ActiveChanged: the window manager named another active window (_NET_ACTIVE_WINDOW on the root).
  enum class Kind { Other, Destroyed, Reparented, Configured, ActiveChanged } kind = Kind::Other;
  XId window = 0;  // the window the event is about
  XId event = 0;   // the window whose selection reported it
  XId parent = 0;  // Reparented: the new parent
  Size size;       // Configured: the new size
};
// Events another client sent (send_event set) decode as Other: they are not believed.
StructureEvent decode(const void* xevent);

// X resource ids have their top three bits clear.
constexpr XId kMaxResourceId = 0x1FFFFFFF;

// A window id as XScreenSaver passes it in XSCREENSAVER_WINDOW: hexadecimal after "0x", else decimal,
// non-zero and within kMaxResourceId.
std::optional<XId> parse_window_id(std::string_view text);

// The window's size in pixels, at most the screen's (no frame is made larger than what can be seen);
// nullopt when the id names no window.
std::optional<Size> window_size(XId window);

// A top-level window whose name (WM_NAME) is `name`: a child of the root, or a client window a window
// manager has put in a frame (it carries WM_STATE). 0 when there is none.
XId find_top_level(const std::string& name);

// Each returns false when a window is gone.
bool reparent(XId window, XId parent, int x, int y);
// Sizes the window, and moves it too when `move` is set.
bool configure(XId window, int x, int y, int width, int height, bool move);
bool map(XId window);
// Selects the window's property changes for this client, beside any selection other clients made.
bool watch_properties(XId window);

// The window the window manager says is active (_NET_ACTIVE_WINDOW), or 0 when it names none.
XId active_window();
// Whether the window is one of this program's own top-level windows (any GTK window, dialogs included).
bool is_own(XId window);

// The time of the user's last interaction with the program, for a focus request (as GTK's own).
std::uint32_t user_time();

// Stops the server clearing the window's exposed parts: the program paints every part itself.
void keep_background(XId window);

// Selects the window's structure events (destruction, resizing) for this client, beside any selection
// other clients made.
bool watch_structure(XId window);

}  // namespace forms::gtk::x11
