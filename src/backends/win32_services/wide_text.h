// Text at the edge of the Win32 API: UTF-8 inside the program, UTF-16 in every call to the system, and
// the system's words for an error code.
#pragma once

#include <windows.h>

#include <string>

namespace forms::win32 {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);
// The text of a Win32 error code, for messages.
std::string error_text(DWORD code);

}  // namespace forms::win32
