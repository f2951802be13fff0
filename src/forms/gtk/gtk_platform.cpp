#include "forms/gtk/gtk_platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtk/gtk.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "forms/form.h"

namespace forms::gtk {
namespace {

std::filesystem::path runtime_dir() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && dir[0] == '/') return dir;
  return std::filesystem::temp_directory_path();
}

}  // namespace

GtkPlatform::GtkPlatform(int argc, char** argv)
    : m_args(argv + 1, argv + argc), m_services(make_native_services()) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  m_exe_path = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string(argv[0]);
  // Every instance tries for the per-user lock; one that cannot take it knows another runs. The kernel
  // drops the lock when its holder dies, so a killed instance leaves nothing stale.
  const auto lock_path = runtime_dir() / ("dialsaver-" + std::to_string(getuid()) + ".lock");
  m_instance_lock = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  m_prev_instance = m_instance_lock >= 0 && flock(m_instance_lock, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

GtkPlatform::~GtkPlatform() {
  if (m_instance_lock >= 0) ::close(m_instance_lock);
}

void GtkPlatform::need_display() {
  if (m_display) return;
  if (gtk_init_check(nullptr, nullptr) == 0) fail_start("cannot open the display (is DISPLAY set?)");
  m_display = true;
}

std::unique_ptr<NativeWindow> GtkPlatform::create_window(Form& form) {
  need_display();
  fail_start("cannot show " + form.name() + ": windows are not available in this build yet");
}

void GtkPlatform::timer_changed(Timer& timer) { (void)timer; }
void GtkPlatform::run_modal(Form& form) { (void)form; }
void GtkPlatform::run() {}

void GtkPlatform::end_program(int exit_status) {
  std::fflush(nullptr);
  _exit(exit_status);
}

int GtkPlatform::message_box(Form* owner, const std::string& text, int buttons, const std::string& title) {
  (void)owner, (void)buttons, (void)title;
  std::fprintf(stderr, "%s: %s\n", app_exe_name().c_str(), text.c_str());
  return vbOK;
}

std::optional<std::string> GtkPlatform::open_file_dialog(Form& owner) {
  (void)owner;
  return std::nullopt;
}

std::optional<OleColor> GtkPlatform::color_dialog(Form& owner, OleColor initial) {
  (void)owner, (void)initial;
  return std::nullopt;
}

SettingsStore& GtkPlatform::settings() {
  if (!m_store) m_store = m_services->user_settings_store();
  return *m_store;
}

std::string GtkPlatform::command_line() {
  std::string line;
  for (const std::string& arg : m_args) line += (line.empty() ? "" : " ") + arg;
  return line;
}

std::string GtkPlatform::app_path() { return std::filesystem::path(m_exe_path).parent_path().string(); }
std::string GtkPlatform::app_exe_name() { return std::filesystem::path(m_exe_path).stem().string(); }
bool GtkPlatform::app_prev_instance() { return m_prev_instance; }

std::vector<Monitor> GtkPlatform::monitors() {
  need_display();
  GdkDisplay* display = gdk_display_get_default();
  std::vector<Monitor> all;
  for (int i = 0; i < gdk_display_get_n_monitors(display); ++i) {
    GdkRectangle g{};
    GdkMonitor* monitor = gdk_display_get_monitor(display, i);
    gdk_monitor_get_geometry(monitor, &g);
    const int scale = gdk_monitor_get_scale_factor(monitor);
    Monitor m{{g.x * scale, g.y * scale, (g.x + g.width) * scale, (g.y + g.height) * scale}, 96.0 * scale};
    if (gdk_monitor_is_primary(monitor) != 0) {
      all.insert(all.begin(), m);
    } else {
      all.push_back(m);
    }
  }
  if (all.empty()) all.push_back({{0, 0, 1024, 768}, 96});
  return all;
}

TimeOfDay GtkPlatform::time_of_day() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_hour, local.tm_min, local.tm_sec};
}

WindowHandle GtkPlatform::find_window(const std::string& title) {
  (void)title;
  return 0;
}

bool GtkPlatform::get_client_rect(WindowHandle window, Rect& rect) {
  (void)window;
  rect = {};
  return false;
}

std::int32_t GtkPlatform::get_window_long(WindowHandle window, int index) {
  (void)window, (void)index;
  return 0;
}

std::intptr_t GtkPlatform::set_window_long(WindowHandle window, int index, std::intptr_t value) {
  (void)window, (void)index, (void)value;
  return 0;
}

WindowHandle GtkPlatform::set_parent(WindowHandle child, WindowHandle parent) {
  (void)child, (void)parent;
  return 0;
}

bool GtkPlatform::set_window_pos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                                 unsigned flags) {
  (void)window, (void)insert_after, (void)x, (void)y, (void)cx, (void)cy, (void)flags;
  return false;
}

int GtkPlatform::show_cursor(bool show) { return m_cursor_count += show ? 1 : -1; }

Result<PictureRef> GtkPlatform::load_picture(const std::string& path, Size bound) {
  return m_services->load_picture(path, bound);
}

Result<PictureRef> GtkPlatform::decode_picture(std::span<const std::byte> bytes, Size bound) {
  return m_services->decode_picture(bytes, bound);
}

std::unique_ptr<FrameBuffer> GtkPlatform::create_frame(Size size) { return make_memory_frame(size); }

Rect GtkPlatform::draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style,
                            double dpi, Pixel color, const Rect& clip) {
  return m_services->draw_text(frame, x, y, text, style, dpi, color, clip);
}

Size GtkPlatform::measure_text(std::string_view text, const TextStyle& style, double dpi) {
  return m_services->measure_text(text, style, dpi);
}

}  // namespace forms::gtk
