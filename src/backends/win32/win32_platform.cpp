#include "backends/win32/win32_platform.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "backends/win32/win32_window.h"
#include "backends/win32_services/dib_frame.h"
#include "backends/win32_services/handles.h"
#include "backends/win32_services/wide_text.h"
#include "forms/form.h"
#include "values/printable.h"

namespace forms::win32 {
namespace {

constexpr wchar_t kOwnerClass[] = L"dialsaver.owner";

Win32Platform* g_current = nullptr;
bool g_failing = false;

HWND as_hwnd(WindowHandle handle) { return reinterpret_cast<HWND>(handle); }

// The top-level window a dialog of ours belongs to, so that it shows above it (a topmost saver included).
HWND owner_window(const Form* form) {
  if (form == nullptr || form->native() == nullptr) return nullptr;
  return GetAncestor(as_hwnd(form->native()->handle()), GA_ROOT);
}

// The monitor's own resolution: with the per-monitor manifest, each monitor reports its scaling.
double monitor_dpi(HMONITOR monitor) {
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto get_dpi = optional_function<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");
  constexpr int kEffectiveDpi = 0;
  UINT x = 0;
  UINT y = 0;
  if (get_dpi != nullptr && SUCCEEDED(get_dpi(monitor, kEffectiveDpi, &x, &y)) && x > 0) return x;
  WindowDc screen(nullptr);
  const int dpi = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
  return dpi > 0 ? dpi : 96;
}

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC /*dc*/, LPRECT /*rect*/, LPARAM data) {
  auto* all = reinterpret_cast<std::vector<Monitor>*>(data);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (GetMonitorInfoW(monitor, &info) == 0) return TRUE;
  const RECT& r = info.rcMonitor;
  const Monitor m{{r.left, r.top, r.right, r.bottom}, monitor_dpi(monitor)};
  if ((info.dwFlags & MONITORINFOF_PRIMARY) != 0) {
    all->insert(all->begin(), m);
  } else {
    all->push_back(m);
  }
  return TRUE;
}

// Whether a key of the keyboard (not a mouse button) is down, as the system sees it now.
bool any_key_down() {
  for (int key = 1; key < 256; ++key) {
    if (key == VK_LBUTTON || key == VK_RBUTTON || key == VK_MBUTTON || key == VK_XBUTTON1 || key == VK_XBUTTON2)
      continue;
    if ((GetAsyncKeyState(key) & 0x8000) != 0) return true;
  }
  return false;
}

// The key that ends the program (a saver's character, a dialog's Enter or Esc) is still down when its
// press is handled. A key's release reaches the system only through the program whose window has the
// keyboard, when that program reads its input: under Wine, a program that ended first leaves the key down
// for good, and the system gives it again, as a held key, to the next program's window that takes the
// keyboard. So before it ends the program waits, its windows still up, for every key to be released,
// reading its input meanwhile and throwing the keyboard messages away (no handler runs again). A key held
// on purpose does not keep the program: it ends after a short while anyway.
void await_key_release() {
  constexpr DWORD kLongestWaitMs = 500;
  constexpr DWORD kSliceMs = 10;
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message{};
    while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE) != 0) {
    }
    if (!any_key_down()) return;
    const DWORD waited = GetTickCount() - start;
    if (waited >= kLongestWaitMs) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min(kSliceMs, kLongestWaitMs - waited), QS_KEY);
  }
}

}  // namespace

Win32Platform::Win32Platform(HINSTANCE instance) : Platform(make_native_services()), m_instance(instance) {
  g_current = this;
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  m_module_path.assign(path, n);
  // Every instance of this program in the user's session opens the same mutex; one that finds it
  // already made knows another runs.
  m_instance_mutex = CreateMutexW(nullptr, FALSE, L"Local\\dialsaver.instance");
  m_prev_instance = m_instance_mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  Win32Window::register_class(instance);
  WNDCLASSEXW owner{};
  owner.cbSize = sizeof owner;
  owner.lpfnWndProc = DefWindowProcW;
  owner.hInstance = instance;
  owner.lpszClassName = kOwnerClass;
  RegisterClassExW(&owner);
}

Win32Platform::~Win32Platform() {
  if (m_hidden_owner != nullptr) DestroyWindow(m_hidden_owner);
  if (m_instance_mutex != nullptr) CloseHandle(m_instance_mutex);
  if (g_current == this) g_current = nullptr;
}

// ---- Windows and loops ----

std::unique_ptr<NativeWindow> Win32Platform::create_window(Form& form) {
  auto window = std::make_unique<Win32Window>(*this, form);
  m_windows.push_back(window.get());
  return window;
}

void Win32Platform::forget(const Win32Window& window) { std::erase(m_windows, &window); }

Win32Window* Win32Platform::window_for(HWND hwnd) const {
  if (hwnd == nullptr) return nullptr;
  for (Win32Window* window : m_windows) {
    if (window->hwnd() == hwnd) return window;
  }
  return nullptr;
}

HWND Win32Platform::hidden_owner() {
  if (m_hidden_owner == nullptr) {
    m_hidden_owner = CreateWindowExW(0, kOwnerClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, m_instance, nullptr);
  }
  return m_hidden_owner;
}

// A thread timer, not one on the embedded window: a window the server destroyed behind our back gets no
// more ticks of its own.
void Win32Platform::watch_host() {
  constexpr UINT kWatchMs = 250;
  if (m_host_watch == 0) m_host_watch = SetTimer(nullptr, 0, kWatchMs, check_hosts);
}

void CALLBACK Win32Platform::check_hosts(HWND /*hwnd*/, UINT /*message*/, UINT_PTR /*id*/, DWORD /*time*/) {
  if (g_current == nullptr || g_failing) return;
  std::vector<Form*> orphaned;
  for (Win32Window* window : g_current->m_windows) {
    if (window->host_gone()) orphaned.push_back(&window->form());
  }
  try {
    for (Form* form : orphaned) form->native_destroyed();
  } catch (const std::exception& error) {
    fail(error.what());
  }
}

void Win32Platform::timer_changed(Timer& timer) {
  if (auto* window = dynamic_cast<Win32Window*>(timer.form().native())) window->timer_changed(timer);
}

void Win32Platform::run_modal(Form& form) {
  pump([&form] { return !form.loaded(); });
}

void Win32Platform::run() {
  pump([] { return Application::get().loaded_count() == 0; });
}

void Win32Platform::pump(const std::function<bool()>& done) {
  MSG message{};
  while (!done()) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) fail("the message loop failed: " + error_text(GetLastError()));
    if (got == 0) end_program(static_cast<int>(message.wParam));
    if (dialog_message(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Tab, the arrows, Enter and Esc in a window with focusable controls move the focus and press buttons as
// in any dialog; other windows (the saver) see those keys as characters.
bool Win32Platform::dialog_message(MSG& message) const {
  if (message.hwnd == nullptr) return false;
  HWND root = GetAncestor(message.hwnd, GA_ROOT);
  const Win32Window* window = window_for(root);
  return window != nullptr && window->has_dialog_keys() && IsDialogMessageW(root, &message) != 0;
}

void Win32Platform::end_program(int exit_status) {
  std::fflush(nullptr);
  await_key_release();
  ExitProcess(static_cast<UINT>(exit_status));
}

bool Win32Platform::failing() { return g_failing; }

int Win32Platform::run_main(void (*main)()) {
  try {
    return run_program(*this, main);
  } catch (const std::exception& error) {
    fail(error.what());
  }
}

void Win32Platform::fail(const std::string& what) {
  if (g_failing) ExitProcess(3);
  g_failing = true;
  const std::string program = g_current != nullptr ? g_current->app_exe_name() : std::string("dialsaver");
  const std::string message = program + ": " + what;
  std::fprintf(stderr, "%s\n", forms::printable(message).c_str());
  std::fflush(stderr);
  MessageBoxW(nullptr, widen(message).c_str(), widen(program).c_str(),
              MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND | MB_TASKMODAL);
  ExitProcess(3);
}

// ---- Dialogs ----

int Win32Platform::message_box(Form* owner, const std::string& text, int buttons, const std::string& title) {
  HWND owner_hwnd = owner_window(owner);
  UINT style = static_cast<UINT>(buttons) | MB_SETFOREGROUND;
  if (owner_hwnd == nullptr) style |= MB_TASKMODAL;
  return MessageBoxW(owner_hwnd, widen(text).c_str(), widen(title).c_str(), style);
}

// The system's file-open dialog with no filter: every file is listed.
std::optional<std::string> Win32Platform::open_file_dialog(Form& owner) {
  std::wstring file(32768, L'\0');
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_window(&owner);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (GetOpenFileNameW(&ofn) == 0) return std::nullopt;
  file.resize(std::wcslen(file.c_str()));
  return narrow(file);
}

// The system's colour dialog, opened on `initial`; Cancel answers nothing.
std::optional<OleColor> Win32Platform::color_dialog(Form& owner, OleColor initial) {
  static COLORREF custom_colors[16] = {RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
                                       RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
                                       RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255),
                                       RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255), RGB(255, 255, 255)};
  CHOOSECOLORW choose{};
  choose.lStructSize = sizeof choose;
  choose.hwndOwner = owner_window(&owner);
  choose.rgbResult = static_cast<COLORREF>(initial & 0xFFFFFF);  // COLORREF has the colour value's byte order
  choose.lpCustColors = custom_colors;
  choose.Flags = CC_RGBINIT;
  if (ChooseColorW(&choose) == 0) return std::nullopt;
  return static_cast<OleColor>(choose.rgbResult & 0xFFFFFF);
}

// ---- Services ----

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
  if (all.empty()) {
    all.push_back({{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, monitor_dpi(nullptr)});
  }
  return all;
}

TimeOfDay Win32Platform::time_of_day() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return {now.wHour, now.wMinute, now.wSecond};
}

// ---- The user32 calls of the start-up code ----

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

// The pointer-sized form, so that a parent handle (index -8) is not cut to 32 bits on 64-bit Windows.
std::intptr_t Win32Platform::set_window_long(WindowHandle window, int index, std::intptr_t value) {
  return SetWindowLongPtrA(as_hwnd(window), index, value);
}

WindowHandle Win32Platform::set_parent(WindowHandle child, WindowHandle parent) {
  const HWND previous = SetParent(as_hwnd(child), as_hwnd(parent));
  if (Win32Window* window = window_for(as_hwnd(child)); window != nullptr && parent != 0) {
    window->embedded_in(as_hwnd(parent));
    watch_host();
  }
  return reinterpret_cast<WindowHandle>(previous);
}

bool Win32Platform::set_window_pos(WindowHandle window, WindowHandle insert_after, int x, int y, int cx, int cy,
                                   unsigned flags) {
  return SetWindowPos(as_hwnd(window), as_hwnd(insert_after), x, y, cx, cy, flags) != 0;
}

int Win32Platform::show_cursor(bool show) { return ShowCursor(show ? TRUE : FALSE); }

}  // namespace forms::win32
