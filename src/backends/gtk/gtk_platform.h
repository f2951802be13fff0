// The GTK 3 back end (Linux/X11). GTK is initialised only when a window or a display service is first
// needed, so a command line that selects no mode runs without a display.
//
// Every call from GTK into the engine goes through dispatch(): an exception must not unwind through
// GTK's C frames, so one that escapes a handler ends the program there, with its message.
//
// The timers tick on a thread of their own, which sleeps until the next one is due. The engine still runs
// on one thread at a time: the main thread holds the engine's lock except while its main loop sleeps in
// poll(), and a tick takes the lock, so a tick runs while the main loop sleeps and wakes nothing else.
//
// When XSCREENSAVER_WINDOW names a window, the program runs as an XScreenSaver hack: the saver window
// draws inside that window, which is the only screen it knows, and leaves the keyboard and the pointer
// to the daemon.
#pragma once

#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backends/gtk/x11/x11.h"
#include "backends/linux_services/instance_lock.h"
#include "backends/linux_services/local_clock.h"
#include "forms/backend.h"
#include "forms/native_services.h"
#include "forms/tick_schedule.h"

namespace forms::gtk {

class FormWindow;
namespace x11 {
class FrameMaker;
enum class PixelPath;
}  // namespace x11

class GtkPlatform final : public Platform {
 public:
  GtkPlatform(int argc, char** argv);
  ~GtkPlatform() override;

  std::unique_ptr<NativeWindow> create_window(Form& form) override;
  void timer_changed(Timer& timer) override;
  void run_modal(Form& form) override;
  void run() override;
  [[noreturn]] void end_program(int exit_status) override;
  int message_box(Form* owner, const std::string& text, int buttons, const std::string& title) override;
  std::optional<std::string> open_file_dialog(Form& owner) override;
  std::optional<OleColor> color_dialog(Form& owner, OleColor initial) override;
  std::string command_line() override;
  std::string app_path() override;
  std::string app_exe_name() override;
  bool app_prev_instance() override;
  std::vector<Monitor> monitors() override;
  TimeOfDay time_of_day() override;
  WindowHandle find_window(const std::string& title) override;
  bool get_client_rect(WindowHandle window, Rect& rect) override;
  std::int32_t get_window_long(WindowHandle window, int index) override;
  std::intptr_t set_window_long(WindowHandle window, int index, std::intptr_t value) override;
  WindowHandle set_parent(WindowHandle child, WindowHandle parent) override;
  bool set_window_pos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                      unsigned flags) override;
  int show_cursor(bool show) override;

  // ---- For the windows ----
  // Runs engine code called from GTK; an exception that escapes it ends the program with its message.
  template <class F>
  void dispatch(F&& f) noexcept {
    try {
      f();
    } catch (const std::exception& e) {
      fail_handler(e.what());
    } catch (...) {
      fail_handler("an unknown error ended the program");
    }
  }
  // GTK itself, for widgets and dialogs (opening the display if need be); the clock windows need only GDK.
  void need_gtk();
  bool gtk_started() const { return m_gtk; }
  // How the windows' frames reach the display (opening it if need be).
  x11::PixelPath pixel_path();
  // GDK's scale factor: device pixels per application pixel.
  int scale();
  // The window XScreenSaver asked the saver to draw in, if any.
  std::optional<x11::XId> hack_window() const { return m_hack_window; }
  // Pointer motion counts as a move only when the pointer is somewhere else than it was last seen.
  void remember_pointer();
  bool pointer_moved(double root_x, double root_y);
  void add_window(FormWindow* window);
  void remove_window(FormWindow* window);
  FormWindow* window_at(WindowHandle handle);
  const std::vector<FormWindow*>& windows() const { return m_windows; }

 private:
  struct ArmedTimer;
  void run_ticks();
  void fire(ArmedTimer& armed);
  [[noreturn]] void fail_handler(const char* what);
  void need_display();
  double display_dpi();

  x11::FrameMaker* m_frames;  // the services' own
  std::vector<std::string> m_args;
  std::string m_exe_path;
  linux_services::InstanceLock m_instance_lock;
  linux_services::LocalClock m_clock;
  bool m_display = false;
  bool m_gtk = false;
  int m_cursor_count = 0;
  std::optional<x11::XId> m_hack_window;
  std::optional<std::pair<double, double>> m_pointer;
  std::vector<FormWindow*> m_windows;
  std::map<Timer*, std::unique_ptr<ArmedTimer>> m_timers;
  // The tick thread, started with the first timer, and what wakes it: a timer armed, or the end.
  std::thread m_ticker;
  std::condition_variable m_timers_changed;
  bool m_stopping = false;
};

}  // namespace forms::gtk
