// The Win32 back end: user32 windows and message loops, GDI, comdlg32, WIC and the registry. Every loop of
// the program (the modal show, the main loop, and the system's own inside a message box or common dialog)
// dispatches to the same window procedures, so timer ticks go on while a dialog is up.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/backend.h"
#include "forms/native_services.h"

namespace forms::win32 {

class Win32Window;

class Win32Platform final : public Platform {
 public:
  explicit Win32Platform(HINSTANCE instance);
  ~Win32Platform() override;

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
  HINSTANCE instance() const { return m_instance; }
  // A window that is never shown, the owner of the windows that stay out of the taskbar.
  HWND hidden_owner();
  void forget(const Win32Window& window);
  // Watches the host of a window embedded in another program's window, and unloads the form when the
  // host's window goes away.
  void watch_host();

  // Runs the start-up procedure and then the main loop on this back end. An error that escapes them (a
  // frame the memory cannot hold, say) ends the program as fail() does, never as a crash.
  int run_main(void (*main)());

  // Ends the program over an error nothing handled: "<program>: <what>" on standard error and in a message
  // box, then a non-zero exit status. While the box is up no handler of the program runs.
  [[noreturn]] static void fail(const std::string& what);
  static bool failing();

 private:
  Win32Window* window_for(HWND hwnd) const;
  void pump(const std::function<bool()>& done);
  bool dialog_message(MSG& message) const;
  static void CALLBACK check_hosts(HWND hwnd, UINT message, UINT_PTR id, DWORD time);

  HINSTANCE m_instance;
  std::wstring m_module_path;
  HANDLE m_instance_mutex = nullptr;
  bool m_prev_instance = false;
  HWND m_hidden_owner = nullptr;
  UINT_PTR m_host_watch = 0;
  std::vector<Win32Window*> m_windows;
};

}  // namespace forms::win32
