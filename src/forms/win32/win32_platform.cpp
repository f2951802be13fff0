#include "forms/win32/win32_platform.h"

#include <cstdio>

#include "forms/form.h"
#include "forms/win32/registry_store.h"

namespace forms::win32 {
namespace {

HWND as_hwnd(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
  auto* all = reinterpret_cast<std::vector<Monitor>*>(data);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(monitor, &info) == 0) return TRUE;
  const RECT& r = info.rcMonitor;
  Monitor m{{r.left, r.top, r.right, r.bottom}, 96};
  if ((info.dwFlags & MONITORINFOF_PRIMARY) != 0) {
    all->insert(all->begin(), m);
  } else {
    all->push_back(m);
  }
  return TRUE;
}

}  // namespace

Win32Platform::Win32Platform(HINSTANCE instance) : m_instance(instance), m_services(make_native_services()) {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  m_module_path.assign(path, n);
  // Every instance of this program in the user's session opens the same mutex; one that finds it
  // already made knows another runs.
  m_instance_mutex = CreateMutexW(nullptr, FALSE, L"Local\\dialsaver.instance");
  m_prev_instance = m_instance_mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
}

Win32Platform::~Win32Platform() {
  if (m_instance_mutex != nullptr) CloseHandle(m_instance_mutex);
}

std::unique_ptr<NativeWindow> Win32Platform::create_window(Form& form) {
  fail_start("cannot show " + form.name() + ": windows are not available in this build yet");
}

void Win32Platform::timer_changed(Timer& timer) { (void)timer; }
void Win32Platform::run_modal(Form& form) { (void)form; }
void Win32Platform::run() {}

void Win32Platform::end_program(int exit_status) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(exit_status));
}

int Win32Platform::message_box(Form* owner, const std::string& text, int buttons, const std::string& title) {
  (void)owner;
  return MessageBoxW(nullptr, widen(text).c_str(), widen(title).c_str(), static_cast<UINT>(buttons));
}

std::optional<std::string> Win32Platform::open_file_dialog(Form& owner) {
  (void)owner;
  return std::nullopt;
}

std::optional<OleColor> Win32Platform::color_dialog(Form& owner, OleColor initial) {
  (void)owner, (void)initial;
  return std::nullopt;
}

SettingsStore& Win32Platform::settings() {
  if (!m_store) m_store = m_services->user_settings_store();
  return *m_store;
}

// The arguments after the program's path, as the platform passes them.
std::string Win32Platform::command_line() {
  const wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return narrow(line);
}

std::string Win32Platform::app_path() {
  const auto slash = m_module_path.find_last_of(L"\\/");
  return narrow(slash == std::wstring::npos ? std::wstring(L".") : m_module_path.substr(0, slash));
}

std::string Win32Platform::app_exe_name() {
  const auto slash = m_module_path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? m_module_path : m_module_path.substr(slash + 1);
  if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.resize(dot);
  return narrow(name);
}

bool Win32Platform::app_prev_instance() { return m_prev_instance; }

std::vector<Monitor> Win32Platform::monitors() {
  std::vector<Monitor> all;
  EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&all));
  if (all.empty()) all.push_back({{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, 96});
  return all;
}

TimeOfDay Win32Platform::time_of_day() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wHour, now.wMinute, now.wSecond};
}

WindowHandle Win32Platform::find_window(const std::string& title) {
  return reinterpret_cast<WindowHandle>(FindWindowW(nullptr, widen(title).c_str()));
}

bool Win32Platform::get_client_rect(WindowHandle window, Rect& rect) {
  RECT r{};
  const bool ok = GetClientRect(as_hwnd(window), &r) != 0;
  rect = {r.left, r.top, r.right, r.bottom};
  return ok;
}

std::int32_t Win32Platform::get_window_long(WindowHandle window, int index) {
  return GetWindowLongA(as_hwnd(window), index);
}

std::intptr_t Win32Platform::set_window_long(WindowHandle window, int index, std::intptr_t value) {
  return SetWindowLongPtrA(as_hwnd(window), index, value);
}

WindowHandle Win32Platform::set_parent(WindowHandle child, WindowHandle parent) {
  return reinterpret_cast<WindowHandle>(SetParent(as_hwnd(child), as_hwnd(parent)));
}

bool Win32Platform::set_window_pos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                                   unsigned flags) {
  return SetWindowPos(as_hwnd(window), as_hwnd(insert_after), x, y, cx, cy, flags) != 0;
}

int Win32Platform::show_cursor(bool show) { return ShowCursor(show ? TRUE : FALSE); }

Result<PictureRef> Win32Platform::load_picture(const std::string& path, Size bound) {
  return m_services->load_picture(path, bound);
}

Result<PictureRef> Win32Platform::decode_picture(std::span<const std::byte> bytes, Size bound) {
  return m_services->decode_picture(bytes, bound);
}

std::unique_ptr<FrameBuffer> Win32Platform::create_frame(Size size) { return make_memory_frame(size); }

Rect Win32Platform::draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style,
                              double dpi, Pixel color, const Rect& clip) {
  return m_services->draw_text(frame, x, y, text, style, dpi, color, clip);
}

Size Win32Platform::measure_text(std::string_view text, const TextStyle& style, double dpi) {
  return m_services->measure_text(text, style, dpi);
}

}  // namespace forms::win32
