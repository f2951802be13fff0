// wine_helper: what tests/e2e/wine.sh cannot do from outside Wine.
//
//   wine_helper.exe host PROGRAM destroy   stands in for the display settings' preview pane: makes a
//                                          152 x 112 window, starts "PROGRAM /p <its handle>", checks that the
//                                          preview becomes a visible child filling the client area, then
//                                          destroys the window; the preview must end within 1 s of
//                                          DestroyWindow returning.
//   wine_helper.exe host PROGRAM abandon   the same checks, then ends without destroying its window (the
//                                          script watches the preview end).
//   ... host PROGRAM destroy|abandon MS    the same, the preview running MS milliseconds first (for
//                                          measuring it; 1500 otherwise).
//   wine_helper.exe draws FILE.bmp         runs the preview in this process, embedded in a window of its own,
//                                          captures it with WM_PRINTCLIENT just after a tick, writes the
//                                          capture and prints the local time it shows ("time HH:MM:SS").
//                                          Under Wine another process's child window shows in no capture
//                                          and WM_PRINTCLIENT does not cross processes, so the drawing is
//                                          checked here.
//   wine_helper.exe children TITLE         lists the child windows of the window titled TITLE ("class|text").
//   wine_helper.exe close TITLE            sends the window titled TITLE the close box's command.
//   wine_helper.exe monitors               lists the monitors as the system reports them ("L T R B").
//   wine_helper.exe windows TITLE          lists the visible top-level windows titled TITLE, topmost first,
//                                          each as "L T R B" and the texts of its children ("|text").
//   wine_helper.exe resources PROGRAM      prints PROGRAM's version record, its name in the string table and
//                                          its icon at four sizes, as the system reads them from the file.
//   wine_helper.exe session                joins the desktop, prints "ready" and waits until killed: the
//                                          session's shell, which on Windows always runs. Wine closes a
//                                          desktop (and its explorer.exe) a second after its last program
//                                          ends, and the next program then waits up to 30 s for a new one.
//
// Exits 0 when every check holds; otherwise prints what failed and exits 1.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "backends/win32/win32_platform.h"
#include "settings/settings.h"
#include "startup/startup.h"

namespace {

constexpr int kWidth = 152;
constexpr int kHeight = 112;

[[noreturn]] void fail(const char* what) {
  std::printf("wine_helper: %s\n", what);
  std::fflush(stdout);
  ExitProcess(1);
}

// Handles this thread's messages while waiting (the preview sends some to its host's window).
void pump_for(DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  MSG message;
  do {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  } while (GetTickCount64() < end);
}

HWND make_host_window() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  wc.lpszClassName = L"wine_helper.host";
  RegisterClassW(&wc);
  RECT frame{0, 0, kWidth, kHeight};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  HWND host =
      CreateWindowExW(0, wc.lpszClassName, L"preview host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, wc.hInstance, nullptr);
  if (host == nullptr) fail("cannot make the host window");
  pump_for(200);
  return host;
}

HWND wait_for_child(HWND host, HANDLE process) {
  for (int i = 0; i < 300; ++i) {
    HWND child = GetWindow(host, GW_CHILD);
    if (child != nullptr && IsWindowVisible(child)) return child;
    if (process != nullptr && WaitForSingleObject(process, 0) == WAIT_OBJECT_0)
      fail("the preview ended before it showed");
    pump_for(100);
  }
  fail("no visible child window appeared within 30 s");
}

void check_fills(HWND host, HWND child) {
  RECT client{};
  RECT preview{};
  GetClientRect(host, &client);
  GetWindowRect(child, &preview);
  MapWindowPoints(HWND_DESKTOP, host, reinterpret_cast<POINT*>(&preview), 2);
  if (!EqualRect(&client, &preview)) {
    std::printf("wine_helper: the preview covers (%ld,%ld)-(%ld,%ld), the client area is (%ld,%ld)-(%ld,%ld)\n",
                preview.left, preview.top, preview.right, preview.bottom, client.left, client.top, client.right,
                client.bottom);
    ExitProcess(1);
  }
  std::printf("wine_helper: a visible child window fills the host's client area\n");
}

int host(const wchar_t* program, bool abandon, DWORD run_ms) {
  HWND window = make_host_window();
  std::wstring command =
      L"\"" + std::wstring(program) + L"\" /p " + std::to_wstring(reinterpret_cast<ULONG_PTR>(window));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    fail("cannot start the preview");
  }
  check_fills(window, wait_for_child(window, process.hProcess));
  pump_for(run_ms);  // a tick or more inside the host
  if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) fail("the preview ended while its host was there");
  if (abandon) {
    std::printf("wine_helper: ending without destroying the host window\n");
    std::fflush(stdout);
    ExitProcess(0);
  }
  DestroyWindow(window);
  const ULONGLONG destroyed = GetTickCount64();
  const DWORD waited = WaitForSingleObject(process.hProcess, 1000);
  const ULONGLONG elapsed = GetTickCount64() - destroyed;
  if (waited != WAIT_OBJECT_0) fail("the preview still runs 1 s after its host window was destroyed");
  std::printf("wine_helper: the preview ended %llu ms after DestroyWindow returned\n", elapsed);
  return 0;
}

bool write_bmp(const wchar_t* path, const DWORD* pixels) {
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = kWidth;
  info.biHeight = kHeight;  // rows bottom to top, the form every reader takes
  info.biPlanes = 1;
  info.biBitCount = 32;
  info.biCompression = BI_RGB;
  const DWORD bytes = kWidth * kHeight * 4;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + bytes;
  FILE* out = _wfopen(path, L"wb");
  if (out == nullptr) return false;
  std::fwrite(&file, sizeof file, 1, out);
  std::fwrite(&info, sizeof info, 1, out);
  for (int y = kHeight - 1; y >= 0; --y) std::fwrite(pixels + y * kWidth, 4, kWidth, out);
  return std::fclose(out) == 0;
}

int draws(const wchar_t* path) {
  HWND window = make_host_window();
  forms::win32::Win32Platform platform(GetModuleHandleW(nullptr));
  forms::install_platform(&platform);
  settings::LoadSettings();
  startup::gCommandLine = "/P " + std::to_string(reinterpret_cast<ULONG_PTR>(window));
  startup::ShowPreview();
  HWND child = wait_for_child(window, nullptr);
  check_fills(window, child);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kWidth;
  info.bmiHeader.biHeight = -kHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, bitmap);
  // Inside a second, well after its tick, and only once two ticks have come: each attempt waits for a
  // new second; a capture that strays into the next second is taken again.
  WORD last_second = 0xFFFF;
  for (int attempt = 0; attempt < 20; ++attempt) {
    SYSTEMTIME before{};
    do {
      pump_for(5);
      GetLocalTime(&before);
    } while (before.wSecond == last_second || before.wMilliseconds < 300 || before.wMilliseconds > 700);
    last_second = before.wSecond;
    if (attempt < 2) continue;
    SendMessageW(child, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    SYSTEMTIME after{};
    GetLocalTime(&after);
    if (after.wSecond != before.wSecond) continue;
    if (!write_bmp(path, static_cast<const DWORD*>(bits))) fail("cannot write the capture");
    std::printf("time %02u:%02u:%02u\n", before.wHour, before.wMinute, before.wSecond);
    std::fflush(stdout);
    ExitProcess(0);
  }
  fail("could not capture the preview inside one second");
}

HWND find_top(const wchar_t* title) {
  HWND window = FindWindowW(nullptr, title);
  if (window == nullptr) fail("no window has that title");
  return window;
}

BOOL CALLBACK print_child(HWND child, LPARAM) {
  wchar_t kind[64] = {};
  wchar_t text[256] = {};
  GetClassNameW(child, kind, 64);
  DWORD_PTR length = 0;
  SendMessageTimeoutW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &length);
  std::printf("%ls|%ls|%s\n", kind, text, IsWindowVisible(child) ? "visible" : "hidden");
  return TRUE;
}

BOOL CALLBACK print_monitor(HMONITOR, HDC, LPRECT r, LPARAM) {
  std::printf("%ld %ld %ld %ld\n", r->left, r->top, r->right, r->bottom);
  return TRUE;
}

BOOL CALLBACK print_child_text(HWND child, LPARAM) {
  wchar_t text[256] = {};
  DWORD_PTR length = 0;
  SendMessageTimeoutW(child, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &length);
  if (text[0] != L'\0') std::printf("|%ls", text);
  return TRUE;
}

// EnumWindows goes through the top-level windows in their order on the screen, topmost first.
BOOL CALLBACK print_titled(HWND window, LPARAM title) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  if (!IsWindowVisible(window) || std::wcscmp(text, reinterpret_cast<const wchar_t*>(title)) != 0) return TRUE;
  RECT r{};
  GetWindowRect(window, &r);
  std::printf("%ld %ld %ld %ld ", r.left, r.top, r.right, r.bottom);
  EnumChildWindows(window, print_child_text, 0);
  std::printf("\n");
  return TRUE;
}

// One "name value" line per fact, the same for both builds when their resources are laid out alike.
int resources(const wchar_t* program) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(program, &ignored);
  if (size == 0) fail("the program has no version record");
  std::vector<BYTE> record(size);
  if (!GetFileVersionInfoW(program, 0, size, record.data())) fail("cannot read the version record");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed) {
    fail("the version record has no fixed part");
  }
  std::printf("signature %08lx\nfile-version %lu.%lu.%lu.%lu\nos %08lx\ntype %lu\n", fixed->dwSignature,
              fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
              fixed->dwFileVersionLS & 0xFFFF, fixed->dwFileOS, fixed->dwFileType);
  for (const wchar_t* name :
       {L"CompanyName", L"ProductName", L"FileVersion", L"ProductVersion", L"InternalName", L"OriginalFilename"}) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* value = nullptr;
    if (!VerQueryValueW(record.data(), path.c_str(), reinterpret_cast<void**>(&value), &length)) value = nullptr;
    std::printf("%ls %ls\n", name, value != nullptr ? value : L"(missing)");
  }
  WORD* translation = nullptr;
  if (VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
      length >= 4) {
    std::printf("translation %04x %u\n", translation[0], translation[1]);
  }
  HMODULE module = LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) fail("cannot open the program's resources");
  wchar_t name[64] = {};
  LoadStringW(module, 1, name, 64);
  std::printf("name %ls\n", name);
  for (const int pixels : {16, 32, 48, 256}) {
    auto* icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, pixels, pixels, 0));
    ICONINFO info{};
    BITMAP colour{};
    if (icon == nullptr || !GetIconInfo(icon, &info) || info.hbmColor == nullptr ||
        GetObjectW(info.hbmColor, sizeof colour, &colour) == 0) {
      std::printf("icon %d none\n", pixels);
      continue;
    }
    std::printf("icon %d %ldx%ld\n", pixels, colour.bmWidth, colour.bmHeight);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring what = argc > 1 ? argv[1] : L"";
  if (what == L"host" && (argc == 4 || argc == 5) &&
      (std::wcscmp(argv[3], L"destroy") == 0 || std::wcscmp(argv[3], L"abandon") == 0)) {
    const DWORD run_ms = argc == 5 ? static_cast<DWORD>(std::wcstoul(argv[4], nullptr, 10)) : 1500;
    return host(argv[2], std::wcscmp(argv[3], L"abandon") == 0, run_ms);
  }
  if (what == L"draws" && argc == 3) return draws(argv[2]);
  if (what == L"children" && argc == 3) {
    EnumChildWindows(find_top(argv[2]), print_child, 0);
    return 0;
  }
  if (what == L"close" && argc == 3) {
    PostMessageW(find_top(argv[2]), WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
  }
  if (what == L"monitors" && argc == 2) {
    EnumDisplayMonitors(nullptr, nullptr, print_monitor, 0);
    return 0;
  }
  if (what == L"windows" && argc == 3) {
    EnumWindows(print_titled, reinterpret_cast<LPARAM>(argv[2]));
    return 0;
  }
  if (what == L"resources" && argc == 3) return resources(argv[2]);
  if (what == L"session" && argc == 2) {
    GetDesktopWindow();  // connects this thread to the desktop, which then stays open
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(INFINITE);
  }
  std::printf(
      "usage: wine_helper host PROGRAM destroy|abandon [MS] | draws FILE.bmp | children TITLE | close TITLE | "
      "monitors | windows TITLE | resources PROGRAM | session\n");
  return 2;
}
