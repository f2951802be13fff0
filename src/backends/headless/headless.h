// The headless back end: a complete back end without a display, for the tests and for dialsaver-render.
// Windows are records (handle, caption, visibility, style, parent, client rectangle); time is a fake clock
// that only moves when told and fires the timers that fall due, in order; key, mouse and click events are
// injected; message boxes and common dialogs take scripted answers and are recorded; End is recorded and
// unwinds to the caller that injected the event, after which nothing more runs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "forms/backend.h"
#include "forms/form.h"
#include "forms/native_services.h"

namespace forms::headless {

// Thrown by End to unwind out of the handler that called it; caught where the event was injected.
struct ProgramEnded {};

// An in-memory settings store, optionally primed with values.
class MemorySettingsStore final : public SettingsStore {
 public:
  Result<std::optional<std::string>> read(const std::string& app, const std::string& section,
                                          const std::string& key) override;
  Status write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& text) override;
  // "app/section/key" -> text
  std::map<std::string, std::string> values;
  std::vector<std::string> writes;  // keys in the order they were written
  std::optional<std::string> fail_writes_with;
};

struct MessageRecord {
  std::string text;
  int buttons;
  std::string title;
  std::string owner;  // the owning form's name, or empty
  WindowHandle owner_handle = 0;
};

struct WindowRecord {
  WindowHandle handle = 0;
  std::string title;
  Form* form = nullptr;  // nullptr for a foreign window (a host's preview window)
  bool visible = false;
  bool destroyed = false;
  std::int32_t style = 0;
  WindowHandle parent = 0;
  WindowHandle owner = 0;
  Rect rect;  // position in the parent (or screen) and client size, pixels
  int window_state = 0;
};

class HeadlessPlatform final : public Platform {
 public:
  // With no services, pictures and text come from the operating system's (make_native_services()).
  explicit HeadlessPlatform(std::unique_ptr<NativeServices> services = nullptr);
  ~HeadlessPlatform() override;

  // ---- Set-up ----
  std::vector<Monitor> screens{Monitor{{0, 0, 1024, 768}, 96}};
  std::string command;
  std::string path = "/opt/dialsaver";
  std::string exe_name = "dialsaver";
  bool prev_instance = false;
  // The settings store; a MemorySettingsStore unless a test installs another.
  std::unique_ptr<SettingsStore> store = std::make_unique<MemorySettingsStore>();
  MemorySettingsStore* memory_store() { return dynamic_cast<MemorySettingsStore*>(store.get()); }

  // A foreign top-level window, such as a host's preview window.
  WindowHandle add_foreign_window(const std::string& title, Size client);

  // Scripted answers, consumed in order. An empty queue answers OK / Cancel.
  std::deque<int> message_box_answers;
  std::deque<std::optional<std::string>> open_answers;
  std::deque<std::optional<OleColor>> color_answers;
  // Runs while a message box is up (its nested loop), e.g. to advance the clock.
  std::function<void(const MessageRecord&)> during_message_box;

  // ---- The fake clock (milliseconds since midnight) ----
  void set_time(int hour, int minute, int second);
  // Moves the clock forward, firing every timer that falls due on the way, in time order.
  void advance_ms(std::int64_t ms);

  // ---- Injected events (each stops at End) ----
  void key_press(Form& form, int char_code);
  void mouse_move(Form& form, float x_pixels, float y_pixels);
  void click(Form& form, const char* control_name);
  void close(Form& form);
  // The window's parent destroyed it (a host closing its preview window).
  void destroy_foreign(WindowHandle handle);
  // Runs `f` as the program's code, catching End.
  void run_guarded(const std::function<void()>& f);

  // ---- What happened ----
  bool ended() const { return m_ended; }
  int exit_status() const { return m_exit_status; }
  std::vector<MessageRecord> messages;
  std::vector<std::string> log;  // "create frmmain", "show frmmain", "SetParent 1 99", ...
  int cursor_count = 0;
  int open_dialogs_shown = 0;
  std::vector<OleColor> color_dialogs_initial;
  const WindowRecord* window(WindowHandle handle) const;
  const WindowRecord* window_of(const Form& form) const;
  std::vector<const WindowRecord*> windows() const;
  // What a form's window shows: its back colour with its visible surfaces over it, 0x00RRGGBB rows.
  std::vector<Pixel> snapshot(Form& form, Size& size);
  int running_timers() const;

  // ---- Platform ----
  std::unique_ptr<NativeWindow> create_window(Form& form) override;
  void timer_changed(Timer& timer) override;
  void run_modal(Form& form) override;
  void run() override;
  [[noreturn]] void end_program(int exit_status) override;
  int message_box(Form* owner, const std::string& text, int buttons, const std::string& title) override;
  std::optional<std::string> open_file_dialog(Form& owner) override;
  std::optional<OleColor> color_dialog(Form& owner, OleColor initial) override;
  SettingsStore& settings() override { return *store; }
  std::string command_line() override { return command; }
  std::string app_path() override { return path; }
  std::string app_exe_name() override { return exe_name; }
  bool app_prev_instance() override { return prev_instance; }
  std::vector<Monitor> monitors() override { return screens; }
  TimeOfDay time_of_day() override;
  WindowHandle find_window(const std::string& title) override;
  bool get_client_rect(WindowHandle handle, Rect& rect) override;
  std::int32_t get_window_long(WindowHandle handle, int index) override;
  std::intptr_t set_window_long(WindowHandle handle, int index, std::intptr_t value) override;
  WindowHandle set_parent(WindowHandle child, WindowHandle parent) override;
  bool set_window_pos(WindowHandle handle, WindowHandle insert_after, int x, int y, int cx, int cy,
                      unsigned flags) override;
  int show_cursor(bool show) override;
  Result<PictureRef> load_picture(const std::string& path, Size bound) override;

  // Every surface of windows made for forms of this name reports its drawing here.
  TraceSink* trace = nullptr;
  std::string trace_form;

  // Picture loads seen, by path (tests check what was asked for).
  std::vector<std::string> pictures_loaded;

 private:
  class Window;
  friend class Window;
  struct Armed {
    Timer* timer;
    std::int64_t due_ms;
    std::uint64_t order;
  };

  WindowRecord* record(WindowHandle handle);
  void guarded(const std::function<void()>& f);

  std::map<WindowHandle, WindowRecord> m_windows;
  WindowHandle m_next_handle = 0x10010;
  std::vector<Armed> m_timers;
  std::uint64_t m_arm_order = 0;
  std::int64_t m_now_ms = 10LL * 3600 * 1000;
  bool m_ended = false;
  int m_exit_status = 0;
};

}  // namespace forms::headless
