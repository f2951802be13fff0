// The one interface between the portable engine and a platform back end (Win32, GTK, headless).
// A back end owns every native object; the engine owns forms, controls and surfaces. Everything runs on
// one GUI thread: the back end delivers events and timer ticks one at a time, never nested except inside
// a modal message box or common dialog, whose nested loop still delivers ticks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "forms/definition.h"
#include "forms/native_services.h"
#include "forms/settings_store.h"
#include "values/color.h"
#include "values/geometry.h"

namespace forms {

class Control;
class Form;
class PictureBox;
class Timer;

// HWND on Windows, X11 window id on Linux, a made-up number on the headless back end; 0 is no window.
using WindowHandle = std::uintptr_t;

struct Monitor {
  Rect bounds;      // device pixels, in the virtual screen
  double dpi = 96;  // dots per inch; twips per pixel = 1440 / dpi
  double twips_per_pixel() const { return 1440.0 / dpi; }
};

struct TimeOfDay {
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-59
  friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

// The native side of one form: its window and its controls.
class NativeWindow {
 public:
  virtual ~NativeWindow() = default;
  virtual WindowHandle handle() const = 0;
  virtual Size client_size() const = 0;  // device pixels
  virtual void set_visible(bool visible) = 0;
  virtual void set_caption(const std::string& caption) = 0;
  virtual void set_window_state(WindowStateKind state) = 0;
  // A property the platform shows (caption, value, picture, colour, visibility, position) changed.
  virtual void control_changed(Control& control) = 0;
  // Pixels of a surface changed inside these rectangles, or its screen pen flipped some (the rectangles
  // may then be none); present them (and only them).
  virtual void present(PictureBox& box, std::span<const Rect> dirty) = 0;
  virtual void destroy() = 0;
};

class Platform {
 public:
  // Pictures, text, frames and the settings store come from the operating system's `services`.
  explicit Platform(std::unique_ptr<NativeServices> services);
  virtual ~Platform();

  // Windows and the event loop.
  virtual std::unique_ptr<NativeWindow> create_window(Form& form) = 0;
  virtual void timer_changed(Timer& timer) = 0;  // arm or disarm it to match timer.running()
  virtual void run_modal(Form& form) = 0;        // returns once `form` is unloaded
  virtual void run() = 0;                        // returns once no form is loaded
  // Ends the process at once (no handler runs after it) with this exit status.
  [[noreturn]] virtual void end_program(int exit_status) = 0;

  // Dialogs and facts about the program and its screens.
  virtual int message_box(Form* owner, const std::string& text, int buttons, const std::string& title) = 0;
  virtual std::optional<std::string> open_file_dialog(Form& owner) = 0;
  virtual std::optional<OleColor> color_dialog(Form& owner, OleColor initial) = 0;
  virtual std::string command_line() = 0;
  virtual std::string app_path() = 0;      // the folder holding the program file, no trailing separator
  virtual std::string app_exe_name() = 0;  // the program file's name without folder and extension
  virtual bool app_prev_instance() = 0;
  virtual std::vector<Monitor> monitors() = 0;  // never empty; the first is the primary
  virtual TimeOfDay time_of_day() = 0;

  // Window handles: the user32 calls the start-up code makes, with user32's meaning.
  virtual WindowHandle find_window(const std::string& title) = 0;
  virtual bool get_client_rect(WindowHandle window, Rect& rect) = 0;
  virtual std::int32_t get_window_long(WindowHandle window, int index) = 0;
  virtual std::intptr_t set_window_long(WindowHandle window, int index, std::intptr_t value) = 0;
  virtual WindowHandle set_parent(WindowHandle child, WindowHandle parent) = 0;
  virtual bool set_window_pos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                              unsigned flags) = 0;
  virtual int show_cursor(bool show) = 0;

  // The operating system's pictures, text and frames, the same on every back end of that system.
  NativeServices& services() { return *m_services; }
  // A picture file decoded to fit within `bound`, by the services.
  virtual Result<PictureRef> load_picture(const std::string& path, Size bound);
  // The user's settings store, made on first use from the services.
  virtual SettingsStore& settings();

 private:
  std::unique_ptr<NativeServices> m_services;
  std::unique_ptr<SettingsStore> m_store;
};

// The process's back end. Installed once by the program's entry (or by a test) before anything else.
Platform& platform();
void install_platform(Platform* platform);

// Runs a program on a back end: installs it, calls `main`, then runs the loop until no window is left.
int run_program(Platform& platform, void (*main)());

}  // namespace forms
