// The Win32 back end: user32 windows, GDI, comdlg32, WIC and the registry.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "forms/native_services.h"
#include "forms/platform.h"

namespace forms::win32 {

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
  SettingsStore& settings() override;
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
  Result<PictureRef> load_picture(const std::string& path, Size bound) override;
  Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) override;
  std::unique_ptr<FrameBuffer> create_frame(Size size) override;
  Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                 Pixel color, const Rect& clip) override;
  Size measure_text(std::string_view text, const TextStyle& style, double dpi) override;

 private:
  HINSTANCE m_instance;
  std::wstring m_module_path;
  std::unique_ptr<NativeServices> m_services;
  std::unique_ptr<SettingsStore> m_store;
  HANDLE m_instance_mutex = nullptr;
  bool m_prev_instance = false;
};

}  // namespace forms::win32
