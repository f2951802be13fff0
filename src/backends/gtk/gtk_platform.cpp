#include "backends/gtk/gtk_platform.h"
#include "backends/linux_services/executable.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "backends/gtk/gtk_window.h"
#include "backends/gtk/work_area.h"
#include "backends/gtk/x11/x11_frames.h"
#include "forms/form.h"
#include "forms/user32.h"
#include "values/printable.h"

namespace forms::gtk {
namespace {

constexpr int vbOKCancel = 1;
constexpr int vbCancel = 2;

// The display connection's socket once the display is open, else -1.
volatile sig_atomic_t g_display_socket = -1;

// Ends the process now, from anywhere, a signal handler included. A thread blocked in the kernel (a read
// from a stalled FUSE mount, which no signal interrupts) keeps the process and its open files alive after
// _exit until the read returns; the display connection is shut down first, so that the X server drops
// this program's windows at once instead of leaving them on the screen for as long.
[[noreturn]] void leave(int exit_status) {
  if (g_display_socket >= 0) shutdown(g_display_socket, SHUT_RDWR);
  _exit(exit_status);
}

// SIGTERM (XScreenSaver's way of stopping a hack, a session's way of ending), SIGINT and SIGHUP end the
// program at once, in the handler itself, whatever the program is doing: decoding a picture, waiting for
// a file or a lock. Nothing runs after the signal, so no setting is written after it either; a save
// under way leaves the old settings file, since a save is a rename.
void on_terminate(int /*signal*/) { leave(0); }

void end_on_signals() {
  struct sigaction action {};
  action.sa_handler = on_terminate;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

FormWindow* native_of(Form* form) { return form != nullptr ? dynamic_cast<FormWindow*>(form->native()) : nullptr; }

GtkWindow* window_of(Form* form) {
  FormWindow* native = native_of(form);
  return native != nullptr ? native->gtk_window() : nullptr;
}

GdkWindow* toplevel_of(Form* form) {
  FormWindow* native = native_of(form);
  return native != nullptr ? native->toplevel() : nullptr;
}

// GDK hands a bare toplevel's events to its window; every other event goes to GTK, once GTK runs (before,
// no GTK widget exists that could take it).
void route_event(GdkEvent* event, gpointer data) {
  const auto* platform = static_cast<const GtkPlatform*>(data);
  if (GdkWindow* target = event->any.window; target != nullptr) {
    for (FormWindow* window : platform->windows()) {
      if (window->bare() != target) continue;
      window->bare_event(*event);
      return;
    }
  }
  if (platform->gtk_started()) gtk_main_do_event(event);
}

// A dialog over a bare toplevel. GTK takes only a GtkWindow for a dialog's parent, and tells standard error
// about a dialog mapped without one; an unrealised stand-in keeps it content, while the window manager is
// told through GDK that the dialog belongs to the bare window. The dialog opens at the middle of that
// window, where GTK centres a dialog on its parent.
void attach_to_bare(GtkWindow* dialog, GdkWindow* bare) {
  GtkWidget* stand_in = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_transient_for(dialog, GTK_WINDOW(stand_in));
  g_signal_connect_swapped(dialog, "destroy", G_CALLBACK(gtk_widget_destroy), stand_in);
  g_signal_connect(dialog, "realize", G_CALLBACK(+[](GtkWidget* widget, gpointer owner) {
                     gdk_window_set_transient_for(gtk_widget_get_window(widget), static_cast<GdkWindow*>(owner));
                   }),
                   bare);
  GtkRequisition size{};
  gtk_widget_get_preferred_size(GTK_WIDGET(dialog), nullptr, &size);
  int x = 0;
  int y = 0;
  gdk_window_get_origin(bare, &x, &y);
  x += (gdk_window_get_width(bare) - size.width) / 2;
  y += (gdk_window_get_height(bare) - size.height) / 2;
  if (GdkMonitor* monitor = gdk_display_get_monitor_at_window(gdk_display_get_default(), bare)) {
    GdkRectangle area{};
    gdk_monitor_get_geometry(monitor, &area);
    x = std::max(area.x, std::min(x, area.x + area.width - size.width));
    y = std::max(area.y, std::min(y, area.y + area.height - size.height));
  }
  gtk_window_move(dialog, x, y);
}

// Foreign windows' events (a preview host's destruction, XScreenSaver's window resized) reach the
// windows that live in them, and a change of the active window reaches every window. A window may unload
// its form, and so go away, while the others wait.
GdkFilterReturn host_filter(GdkXEvent* xevent, GdkEvent* /*event*/, gpointer data) {
  auto* platform = static_cast<GtkPlatform*>(data);
  const x11::StructureEvent event = x11::decode(xevent);
  if (event.kind == x11::StructureEvent::Kind::Other) return GDK_FILTER_CONTINUE;
  const std::vector<FormWindow*> all = platform->windows();
  for (FormWindow* window : all) {
    const auto& now = platform->windows();
    if (std::find(now.begin(), now.end(), window) != now.end()) window->host_event(event);
  }
  return GDK_FILTER_CONTINUE;
}

// The Linux services, with frames the X server reads straight from.
class GtkServices final : public NativeServices {
 public:
  GtkServices() : m_base(make_native_services()) {}
  x11::FrameMaker& frames() { return m_frames; }
  std::unique_ptr<FrameBuffer> create_frame(Size size) override { return m_frames.create_frame(size); }
  void prepare(Size size) override { m_frames.prepare(size); }
  Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                 Pixel color, const Rect& clip) override {
    return m_base->draw_text(frame, x, y, text, style, dpi, color, clip);
  }
  Size measure_text(std::string_view text, const TextStyle& style, double dpi) override {
    return m_base->measure_text(text, style, dpi);
  }
  Result<PictureRef> load_picture(const std::string& path, Size bound) override {
    return m_base->load_picture(path, bound);
  }
  Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) override {
    return m_base->decode_picture(bytes, bound);
  }
  void start_loading(const std::string& path) override { m_base->start_loading(path); }
  std::unique_ptr<SettingsStore> user_settings_store() override { return m_base->user_settings_store(); }

 private:
  std::unique_ptr<NativeServices> m_base;
  x11::FrameMaker m_frames;
};

// The wall clock in milliseconds since the epoch.
std::int64_t wall_clock_ms() { return g_get_real_time() / 1000; }

// The engine (the forms, their windows, and GDK and Xlib under them) runs on one thread at a time. The
// main thread holds this lock at all times but while its main loop sleeps in poll(); the tick thread takes
// it to deliver a timer's tick, which so runs while the main loop sleeps. A tick then costs its own work
// and one wake of one thread, with no turn of the main loop (every source prepared and checked, the X
// queue read twice) around it. A tick must not run a loop of its own (a modal dialog): the main loop's
// context is the main thread's. Never destroyed: the process may end (_exit) from either thread.
std::mutex& engine_lock() {
  static auto* lock = new std::mutex;
  return *lock;
}

GPollFunc g_glib_poll = nullptr;

// The main loop's poll(), with the engine let go for as long as it sleeps. GLib calls it without its own
// context's lock held, so the tick thread may call GLib (attach a source, wake the loop) meanwhile.
gint poll_with_engine_free(GPollFD* fds, guint count, gint timeout_ms) {
  engine_lock().unlock();
  const gint ready = g_glib_poll(fds, count, timeout_ms);
  engine_lock().lock();
  return ready;
}

}  // namespace

// A running timer and when it is next due; the tick thread fires it then, once per arming.
struct GtkPlatform::ArmedTimer {
  using Clock = std::chrono::steady_clock;
  ArmedTimer(GtkPlatform* owner, Timer* ticking) : platform(owner), timer(ticking), schedule(0) {}

  bool armed() const { return due.has_value(); }
  void arm(int delay_ms) {
    due = Clock::now() + std::chrono::milliseconds(delay_ms);
    platform->m_timers_changed.notify_one();
  }
  void disarm() { due.reset(); }

  GtkPlatform* platform;
  Timer* timer;
  TickSchedule schedule;
  std::optional<Clock::time_point> due;
};

GtkPlatform::GtkPlatform(int argc, char** argv)
    : Platform(std::make_unique<GtkServices>()), m_args(argv + 1, argv + argc) {
  m_frames = &static_cast<GtkServices&>(services()).frames();
  m_exe_path = executable_path(argv[0]);
  if (const char* hack = std::getenv("XSCREENSAVER_WINDOW"); hack != nullptr) {
    m_hack_window = x11::parse_window_id(hack);
    if (!m_hack_window) {
      std::fprintf(stderr, "%s: XSCREENSAVER_WINDOW is not an X window id (\"%s\"); drawing in a window of its own\n",
                   forms::printable(app_exe_name()).c_str(), forms::printable(hack).c_str());
    }
  }
  end_on_signals();
  engine_lock().lock();
  g_glib_poll = g_main_context_get_poll_func(nullptr);
  g_main_context_set_poll_func(nullptr, poll_with_engine_free);
}

GtkPlatform::~GtkPlatform() {
  if (m_ticker.joinable()) {
    m_stopping = true;
    m_timers_changed.notify_one();
    engine_lock().unlock();
    m_ticker.join();
    engine_lock().lock();
  }
  g_main_context_set_poll_func(nullptr, g_glib_poll);
  engine_lock().unlock();
}

void GtkPlatform::need_display() {
  if (m_display) return;
  g_set_prgname(app_exe_name().c_str());
  // GDK names its hidden client-leader window after the application; only the shown saver window may
  // bear the program's name, which a second start looks for.
  g_set_application_name("Screen Saver Clock");
  // Window ids are X11 ids: under Wayland the program runs through XWayland.
  gdk_set_allowed_backends("x11");
  // Nothing here draws with OpenGL; without this GDK loads the GL driver (tens of megabytes) at start.
  g_setenv("GDK_GL", "disable", FALSE);
  // GDK alone: GTK starts when a widget is first needed (need_gtk), which the clock windows never need.
  // The user's locale is taken first, as GTK's start takes it: the system's messages and the windows'
  // locale name follow it.
  std::setlocale(LC_ALL, "");
  if (gdk_init_check(nullptr, nullptr) == 0) fail_start("cannot open the display (is DISPLAY set?)");
  m_display = true;
  gdk_event_handler_set(route_event, this, nullptr);
  g_display_socket = x11::connection_fd();
  gdk_window_add_filter(nullptr, host_filter, this);
  x11::watch_properties(x11::root());
  if (m_hack_window && !x11::window_size(*m_hack_window)) {
    std::fprintf(stderr, "%s: XSCREENSAVER_WINDOW names no window; drawing in a window of its own\n",
                 forms::printable(app_exe_name()).c_str());
    m_hack_window.reset();
  }
}

// GTK on the display GDK opened. Its start makes GTK the handler of GDK's events, which go through
// route_event again.
void GtkPlatform::need_gtk() {
  need_display();
  if (m_gtk) return;
  if (gtk_init_check(nullptr, nullptr) == 0) fail_start("cannot start GTK on the display");
  m_gtk = true;
  gdk_event_handler_set(route_event, this, nullptr);
}

void GtkPlatform::fail_handler(const char* what) {
  std::fprintf(stderr, "%s: %s\n", forms::printable(app_exe_name()).c_str(), forms::printable(what).c_str());
  end_program(1);
}

std::unique_ptr<NativeWindow> GtkPlatform::create_window(Form& form) {
  need_display();
  return std::make_unique<FormWindow>(*this, form);
}

void GtkPlatform::add_window(FormWindow* window) { m_windows.push_back(window); }

void GtkPlatform::remove_window(FormWindow* window) { std::erase(m_windows, window); }

FormWindow* GtkPlatform::window_at(WindowHandle handle) {
  for (FormWindow* window : m_windows) {
    if (window->is(handle)) return window;
  }
  return nullptr;
}

// ---- Timers ----

void GtkPlatform::timer_changed(Timer& timer) {
  auto it = m_timers.find(&timer);
  if (it != m_timers.end()) it->second->disarm();
  if (!timer.running()) {
    if (it != m_timers.end()) m_timers.erase(it);
    return;
  }
  if (it == m_timers.end()) it = m_timers.emplace(&timer, std::make_unique<ArmedTimer>(this, &timer)).first;
  ArmedTimer& armed = *it->second;
  if (armed.schedule.interval_ms() != timer.Interval()) armed.schedule = TickSchedule(timer.Interval());
  if (!m_ticker.joinable()) m_ticker = std::thread([this] { run_ticks(); });
  armed.arm(armed.schedule.first_delay_ms(wall_clock_ms()));
}

// The tick thread: sleeps until the next timer is due, then fires it with the engine's lock held.
void GtkPlatform::run_ticks() {
  std::unique_lock lock(engine_lock());
  while (!m_stopping) {
    ArmedTimer* next = nullptr;
    for (const auto& [timer, armed] : m_timers) {
      if (armed->armed() && (next == nullptr || *armed->due < *next->due)) next = armed.get();
    }
    if (next == nullptr) {
      m_timers_changed.wait(lock);
      continue;
    }
    if (ArmedTimer::Clock::now() < *next->due) {
      m_timers_changed.wait_until(lock, *next->due);
      continue;  // whatever woke the thread, the timers are looked at again
    }
    const int loaded = Application::get().loaded_count();
    fire(*next);
    // The main loop sleeps on the display's socket, and the tick's flushes may have read from it what the
    // loop waits for, or the tick ended a form: the loop is woken only then.
    if (x11::flush_and_check_events() || Application::get().loaded_count() != loaded) g_main_context_wakeup(nullptr);
  }
}

void GtkPlatform::fire(ArmedTimer& armed) {
  Timer* timer = armed.timer;
  armed.disarm();
  const TickSchedule::Step step = armed.schedule.fired(wall_clock_ms());
  if (step.deliver) dispatch([timer] { timer->tick(); });
  // The tick may have stopped, restarted or re-timed its timer; arm it again only if it did none of these.
  auto it = m_timers.find(timer);
  if (it != m_timers.end() && it->second.get() == &armed && !armed.armed() && timer->running()) {
    armed.arm(step.next_delay_ms);
  }
}

// ---- Loops and the end ----

void GtkPlatform::run_modal(Form& form) {
  while (form.loaded() || form.loading()) g_main_context_iteration(nullptr, TRUE);
}

void GtkPlatform::run() {
  while (Application::get().loaded_count() > 0) g_main_context_iteration(nullptr, TRUE);
}

void GtkPlatform::end_program(int exit_status) {
  std::fflush(nullptr);
  leave(exit_status);
}

// ---- Dialogs ----

int GtkPlatform::message_box(Form* owner, const std::string& text, int buttons, const std::string& title) {
  // Inside XScreenSaver nobody could answer a dialog: the daemon holds the keyboard and covers the
  // screen. The message goes to its log instead.
  if (m_hack_window) {
    std::fprintf(stderr, "%s: %s\n", forms::printable(app_exe_name()).c_str(), forms::printable(text).c_str());
    return vbOK;
  }
  need_gtk();
  const bool ok_cancel = (buttons & 0xF) == vbOKCancel;
  GtkWidget* dialog = gtk_message_dialog_new(window_of(owner), GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                             ok_cancel ? GTK_BUTTONS_OK_CANCEL : GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(dialog), owner != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  FormWindow* native = native_of(owner);
  if (native != nullptr && native->topmost()) gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  if (native != nullptr && native->bare() != nullptr) attach_to_bare(GTK_WINDOW(dialog), native->bare());
  keep_within_work_area(GTK_WINDOW(dialog), toplevel_of(owner));
  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return ok_cancel && response != GTK_RESPONSE_OK ? vbCancel : vbOK;
}

std::optional<std::string> GtkPlatform::open_file_dialog(Form& owner) {
  need_gtk();
  GtkWidget* dialog = gtk_file_chooser_dialog_new("Open", window_of(&owner), GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
  keep_within_work_area(GTK_WINDOW(dialog), toplevel_of(&owner));
  std::optional<std::string> chosen;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    if (char* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
      chosen = name;
      g_free(name);
    }
  }
  gtk_widget_destroy(dialog);
  return chosen;
}

std::optional<OleColor> GtkPlatform::color_dialog(Form& owner, OleColor initial) {
  need_gtk();
  GtkWidget* dialog = gtk_color_chooser_dialog_new("Color", window_of(&owner));
  gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(dialog), FALSE);
  const GdkRGBA start{red_of(initial) / 255.0, green_of(initial) / 255.0, blue_of(initial) / 255.0, 1.0};
  gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(dialog), &start);
  keep_within_work_area(GTK_WINDOW(dialog), toplevel_of(&owner));
  std::optional<OleColor> chosen;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
    GdkRGBA color{};
    gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(dialog), &color);
    const auto channel = [](double c) { return static_cast<int>(std::lround(std::clamp(c, 0.0, 1.0) * 255)); };
    chosen = rgb(channel(color.red), channel(color.green), channel(color.blue));
  }
  gtk_widget_destroy(dialog);
  return chosen;
}

// ---- Services ----

std::string GtkPlatform::command_line() {
  std::string line;
  for (const std::string& arg : m_args) line += (line.empty() ? "" : " ") + arg;
  return line;
}

std::string GtkPlatform::app_path() { return std::filesystem::path(m_exe_path).parent_path().string(); }
std::string GtkPlatform::app_exe_name() { return std::filesystem::path(m_exe_path).stem().string(); }
// Every instance holds the per-user lock; one that cannot take it knows another runs. When the lock
// cannot be had at all, another instance may run: the caller goes on to look for its window.
bool GtkPlatform::app_prev_instance() {
  if (m_instance_lock.state() != linux_services::InstanceLock::State::Unknown) {
    return m_instance_lock.state() == linux_services::InstanceLock::State::HeldElsewhere;
  }
  std::fprintf(stderr, "%s: cannot tell whether another instance runs: %s\n", forms::printable(app_exe_name()).c_str(),
               forms::printable(m_instance_lock.problem()).c_str());
  return true;
}

x11::PixelPath GtkPlatform::pixel_path() {
  need_display();
  return m_frames->path();
}

int GtkPlatform::scale() {
  need_display();
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) monitor = gdk_display_get_monitor(display, 0);
  return monitor != nullptr ? std::max(1, gdk_monitor_get_scale_factor(monitor)) : 1;
}

// Dots per inch of device pixels: GTK's own resolution (the XSETTINGS Xft/DPI) times GDK's scale, else
// the X resource Xft.dpi, else 96 per scale step.
double GtkPlatform::display_dpi() {
  const int device_scale = scale();
  if (const double logical = gdk_screen_get_resolution(gdk_screen_get_default()); logical > 0) {
    return logical * device_scale;
  }
  if (const auto dpi = x11::xft_dpi()) return *dpi;
  return 96.0 * device_scale;
}

std::vector<Monitor> GtkPlatform::monitors() {
  need_display();
  const double dpi = display_dpi();
  if (m_hack_window) {
    if (const auto size = x11::window_size(*m_hack_window)) return {Monitor{{0, 0, size->width, size->height}, dpi}};
  }
  GdkDisplay* display = gdk_display_get_default();
  const int device_scale = scale();
  std::vector<Monitor> all;
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkRectangle g{};
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    gdk_monitor_get_geometry(monitor, &g);
    const Monitor m{
        {g.x * device_scale, g.y * device_scale, (g.x + g.width) * device_scale, (g.y + g.height) * device_scale}, dpi};
    if (gdk_monitor_is_primary(monitor) != 0) {
      all.insert(all.begin(), m);
    } else {
      all.push_back(m);
    }
  }
  if (all.empty()) all.push_back({{0, 0, 1024, 768}, dpi});
  return all;
}

TimeOfDay GtkPlatform::time_of_day() { return m_clock.at(std::time(nullptr)); }

void GtkPlatform::remember_pointer() {
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
  if (pointer == nullptr) return;
  int x = 0;
  int y = 0;
  gdk_device_get_position(pointer, nullptr, &x, &y);
  m_pointer = {static_cast<double>(x), static_cast<double>(y)};
}

bool GtkPlatform::pointer_moved(double root_x, double root_y) {
  const std::pair<double, double> at{root_x, root_y};
  if (m_pointer == at) return false;
  m_pointer = at;
  return true;
}

// ---- Window handles ----

WindowHandle GtkPlatform::find_window(const std::string& title) {
  need_display();
  return static_cast<WindowHandle>(x11::find_top_level(title));
}

bool GtkPlatform::get_client_rect(WindowHandle window, Rect& rect) {
  need_display();
  if (FormWindow* ours = window_at(window)) {
    rect = {0, 0, ours->client_size().width, ours->client_size().height};
    return true;
  }
  const auto size = x11::window_size(window);
  rect = size ? Rect{0, 0, size->width, size->height} : Rect{};
  return size.has_value();
}

std::int32_t GtkPlatform::get_window_long(WindowHandle window, int index) {
  FormWindow* ours = window_at(window);
  if (ours == nullptr) return 0;
  if (index == user32::kGwlStyle) return ours->style();
  if (index == user32::kGwlHwndParent) return static_cast<std::int32_t>(ours->owner());
  return 0;
}

std::intptr_t GtkPlatform::set_window_long(WindowHandle window, int index, std::intptr_t value) {
  FormWindow* ours = window_at(window);
  if (ours == nullptr) return 0;
  if (index == user32::kGwlStyle) {
    const std::int32_t old = ours->style();
    ours->set_style(static_cast<std::int32_t>(value));
    return old;
  }
  if (index == user32::kGwlHwndParent) {
    const auto old = static_cast<std::intptr_t>(ours->owner());
    ours->set_owner(static_cast<WindowHandle>(value));
    return old;
  }
  return 0;
}

WindowHandle GtkPlatform::set_parent(WindowHandle child, WindowHandle parent) {
  FormWindow* ours = window_at(child);
  if (ours == nullptr) return 0;
  return ours->set_parent(static_cast<x11::XId>(parent));
}

bool GtkPlatform::set_window_pos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                                 unsigned flags) {
  if (FormWindow* ours = window_at(window)) return ours->set_position(insert_after, x, y, cx, cy, flags);
  if (window == 0) return false;
  need_display();
  const bool moving = (flags & user32::kSwpNoMove) == 0;
  const bool sizing = (flags & user32::kSwpNoSize) == 0;
  bool done = true;
  if (moving || sizing) {
    const auto size = x11::window_size(window);
    if (!size) return false;
    done = x11::configure(window, x, y, sizing ? cx : size->width, sizing ? cy : size->height, moving);
  }
  if ((flags & user32::kSwpShowWindow) != 0) done = x11::map(window) && done;
  return done;
}

int GtkPlatform::show_cursor(bool show) { return m_cursor_count += show ? 1 : -1; }

}  // namespace forms::gtk
