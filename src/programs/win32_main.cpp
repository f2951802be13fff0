// The Windows program's entry (GUI subsystem): the Win32 back end runs the start-up procedure. An error
// that escapes the start-up code ends the program with its message, as one escaping a window's handler does.
#include <windows.h>

#include "backends/win32/win32_platform.h"
#include "startup/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/, int /*show*/) {
  // A .scr is often run from a downloads folder: a DLL loaded later (by a common dialog, say) comes from
  // System32 only, never from beside the program or the current folder.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  forms::win32::Win32Platform platform(instance);
  return platform.run_main(&startup::Main);
}
