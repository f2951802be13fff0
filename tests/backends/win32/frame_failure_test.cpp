// A frame the memory cannot hold ends the Windows program with a clear message and exit status 3, on
// standard error and in a message box, never with a crash: the saver's surface is grown far past any
// address space and drawn, as a window procedure draws it, inside the back end's main loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "backends/win32/win32_platform.h"
#include "forms/form.h"
#include "windows/saver/frmmain.h"

namespace {

std::string narrow(const wchar_t* text) {
  char out[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(sizeof out) - 1, nullptr, nullptr);
  return out;
}

// Reports each message box of this process on standard error ("box: <text>") and presses its OK: the
// box that ends the program must not wait for a user who is not there.
BOOL CALLBACK answer_if_message_box(HWND hwnd, LPARAM /*unused*/) {
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  wchar_t window_class[16] = {};
  GetClassNameW(hwnd, window_class, 16);
  if (process != GetCurrentProcessId() || std::wcscmp(window_class, L"#32770") != 0 || !IsWindowVisible(hwnd)) {
    return TRUE;
  }
  wchar_t text[512] = {};
  GetDlgItemTextW(hwnd, 0xFFFF, text, 512);
  std::fprintf(stderr, "box: %s\n", narrow(text).c_str());
  std::fflush(stderr);
  PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
  return TRUE;
}

DWORD WINAPI answer_message_boxes(void* /*unused*/) {
  for (;;) {
    EnumWindows(answer_if_message_box, 0);
    Sleep(50);
  }
}

// 64 times the screen each way (81920 x 51200 pixels, 16000 MiB, for a 1280 x 800 screen): more than x86
// can address and more than a DIB section may hold on x64.
void show_a_saver_larger_than_memory() {
  auto& form = forms::instance<saver::frmmain>();
  form.Show();
  form.Picture1.Move(0, 0, form.ScaleWidth() * 64, form.ScaleHeight() * 64);
}

void run_saver_larger_than_memory() {
  CloseHandle(CreateThread(nullptr, 0, answer_message_boxes, nullptr, 0, nullptr));
  forms::win32::Win32Platform platform(GetModuleHandleW(nullptr));
  platform.run_main(&show_a_saver_larger_than_memory);
}

TEST(Win32FrameFailure, AFrameThatCannotBeHadEndsTheProgramWithAClearMessage) {
  // Without a display driver no window can be made, and the frame is never asked for.
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (probe == nullptr) GTEST_SKIP() << "no window can be made here (no display for Wine?)";
  DestroyWindow(probe);
  // The reason goes to standard error first, then into the box (which answer_if_message_box reports).
  EXPECT_EXIT(run_saver_larger_than_memory(), ::testing::ExitedWithCode(3),
              "dialsaver_tests: not enough memory for a \\d+ x \\d+ frame \\(\\d+ MiB\\)\n"
              "box: dialsaver_tests: not enough memory for a \\d+ x \\d+ frame \\(\\d+ MiB\\)");
}

}  // namespace
