// The one interface between the portable engine and a platform back end (Win32, GTK, headless), and the
// services the windows call by their own names (App.Path, MsgBox, GetSetting, FindWindowA...).
// A back end owns every native object; the engine owns forms, controls and surfaces. Everything runs on
// one GUI thread: the back end delivers events and timer ticks one at a time, never nested except inside
// a modal message box or common dialog, whose nested loop still delivers ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "forms/color.h"
#include "forms/geometry.h"
#include "forms/picture.h"
#include "forms/result.h"
#include "forms/settings_store.h"

namespace forms {

class Control;
class Form;
class PictureBox;
class Timer;

// HWND on Windows, X11 window id on Linux, a made-up number on the headless back end; 0 is no window.
using WindowHandle = std::uintptr_t;

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

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

struct TextStyle {
  std::string face;
  double size_points = 8.25;
  bool bold = false;
};

// The pixels of a drawing surface, 0x00RRGGBB, `stride` pixels from one row to the next. A back end makes
// them (a DIB section on Windows, page-aligned memory elsewhere) so that it can draw text into them and
// present them without a copy.
class FrameBuffer {
 public:
  virtual ~FrameBuffer() = default;
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  Pixel* row(int y) { return m_data + static_cast<std::ptrdiff_t>(y) * m_stride; }
  const Pixel* row(int y) const { return m_data + static_cast<std::ptrdiff_t>(y) * m_stride; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  Size size() const { return {m_width, m_height}; }
  std::ptrdiff_t stride() const { return m_stride; }

 protected:
  FrameBuffer(Pixel* data, int width, int height, std::ptrdiff_t stride)
      : m_data(data), m_width(width), m_height(height), m_stride(stride) {}

 private:
  Pixel* m_data;
  int m_width;
  int m_height;
  std::ptrdiff_t m_stride;
};

// What a frame maker throws when the memory for a frame cannot be had: a std::bad_alloc whose text says
// which frame, so that the message that ends the program is clear ("not enough memory for a 7680 x 4320
// frame (127 MiB)").
class FrameAllocationError final : public std::bad_alloc {
 public:
  explicit FrameAllocationError(Size size);
  const char* what() const noexcept override { return m_what.c_str(); }

 private:
  std::string m_what;
};

// Page-aligned memory that is never copied, asking the kernel for huge pages where it can: the first
// touch of a fresh 4K frame costs ~100 ms in 4 KiB page faults. Throws FrameAllocationError when the
// frame cannot be had, a size whose bytes the address space cannot even count included.
std::unique_ptr<FrameBuffer> make_memory_frame(Size size);

// The native side of one form: its window and its controls.
class NativeWindow {
 public:
  virtual ~NativeWindow() = default;
  virtual WindowHandle handle() const = 0;
  virtual Size client_size() const = 0;  // device pixels
  virtual void set_visible(bool visible) = 0;
  virtual void set_caption(const std::string& caption) = 0;
  virtual void set_window_state(int state) = 0;  // 0 normal, 1 minimised, 2 maximised
  // A property the platform shows (caption, value, picture, colour, visibility, position) changed.
  virtual void control_changed(Control& control) = 0;
  // Pixels of a surface changed inside these rectangles; present them (and only them).
  virtual void present(PictureBox& box, std::span<const Rect> dirty) = 0;
  virtual void destroy() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Windows and the event loop.
  virtual std::unique_ptr<NativeWindow> create_window(Form& form) = 0;
  virtual void timer_changed(Timer& timer) = 0;  // arm or disarm it to match timer.running()
  virtual void run_modal(Form& form) = 0;        // returns once `form` is unloaded
  virtual void run() = 0;                        // returns once no form is loaded
  // Ends the process at once (no handler runs after it) with this exit status.
  [[noreturn]] virtual void end_program(int exit_status) = 0;

  // Services.
  virtual int message_box(Form* owner, const std::string& text, int buttons, const std::string& title) = 0;
  virtual std::optional<std::string> open_file_dialog(Form& owner) = 0;
  virtual std::optional<OleColor> color_dialog(Form& owner, OleColor initial) = 0;
  virtual SettingsStore& settings() = 0;
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

  // Pictures, frames and text. A picture is decoded to fit within `bound` (see fit_within).
  virtual Result<PictureRef> load_picture(const std::string& path, Size bound) = 0;
  virtual Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) = 0;
  virtual std::unique_ptr<FrameBuffer> create_frame(Size size) = 0;
  // Draws `text` with its top-left corner at (x, y), glyph pixels only, clipped to `clip`; returns the
  // rectangle it may have changed.
  virtual Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                         Pixel color, const Rect& clip) = 0;
  virtual Size measure_text(std::string_view text, const TextStyle& style, double dpi) = 0;
};

// The process's back end. Installed once by the program's entry (or by a test) before anything else.
Platform& platform();
void install_platform(Platform* platform);

// Runs a program on a back end: installs it, calls `main`, then runs the loop until no window is left.
int run_program(Platform& platform, void (*main)());

// ---- Services under the names the windows use. ----

struct AppObject {
  std::string Path() const;
  std::string EXEName() const;
  bool PrevInstance() const;
};
inline constexpr AppObject App{};

constexpr int vbModal = 1;
constexpr int vbOKOnly = 0;
constexpr int vbOK = 1;

std::string Command();
int MsgBox(const std::string& prompt, int buttons = vbOKOnly, const std::string& title = "");
std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& default_text);
// Several keys of one section (each with its default text) read at one moment where the store allows it
// (see SettingsStore::read_all): the stored texts, or the defaults of keys absent or unreadable.
std::vector<std::string> GetSettingsTogether(const std::string& app, const std::string& section,
                                             std::span<const SettingText> keys_and_defaults);
Status SaveSetting(const std::string& app, const std::string& section, const std::string& key, const std::string& text);
// Several keys of one section saved as one change where the store allows it (see SettingsStore::write_all).
Status SaveSettingsTogether(const std::string& app, const std::string& section, std::span<const SettingText> entries);
// Decoded to fit the largest monitor, the most any surface can show of it.
Result<PictureRef> LoadPicture(const std::string& path);
TimeOfDay Time();
[[noreturn]] void End();
// Ends the program before any window exists, after a one-line message on standard error that starts with
// the program's name.
[[noreturn]] void fail_start(const std::string& message);

// The user32 calls by their own names, on the back end's window handles.
namespace user32 {
constexpr int kGwlStyle = -16;
constexpr int kGwlHwndParent = -8;
constexpr std::int32_t kWsChild = 0x40000000;
constexpr unsigned kSwpNoSize = 0x1;
constexpr unsigned kSwpNoMove = 0x2;
constexpr unsigned kSwpNoZOrder = 0x4;
constexpr unsigned kSwpNoActivate = 0x10;
constexpr unsigned kSwpShowWindow = 0x40;
constexpr WindowHandle kHwndTopmost = static_cast<WindowHandle>(-1);

WindowHandle FindWindowA(const char* class_name, const char* title);
bool GetClientRect(WindowHandle window, Rect& rect);
std::int32_t GetWindowLongA(WindowHandle window, int index);
std::intptr_t SetWindowLongA(WindowHandle window, int index, std::intptr_t value);
WindowHandle SetParent(WindowHandle child, WindowHandle parent);
bool SetWindowPos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy, unsigned flags);
int ShowCursor(bool show);
}  // namespace user32

}  // namespace forms
