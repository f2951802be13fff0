// The Windows program's entry (GUI subsystem): the Win32 back end runs the start-up procedure.
#include <windows.h>

#include "forms/win32/win32_platform.h"
#include "startup/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  forms::win32::Win32Platform platform(instance);
  return forms::run_program(platform, &startup::Main);
}
