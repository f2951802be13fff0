// The GTK 3 back end (Linux/X11). GTK is initialised only when a window or a display service is first
// needed, so a command line that selects no mode runs without a display.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "forms/native_services.h"
#include "forms/platform.h"

namespace forms::gtk {

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
  void need_display();

  std::vector<std::string> m_args;
  std::string m_exe_path;
  std::unique_ptr<NativeServices> m_services;
  std::unique_ptr<SettingsStore> m_store;
  int m_instance_lock = -1;
  bool m_prev_instance = false;
  bool m_display = false;
  int m_cursor_count = 0;
};

}  // namespace forms::gtk
