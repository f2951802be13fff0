// Start-up: Main loads the settings, reads the command line the screen-saver host passed and opens the
// one window its mode needs; it also holds the single-instance guard of saver mode and the code that makes
// the preview a child of the host's preview window.
//
//   "/S" or nothing   saver: the full-screen clock (one window per monitor), unless one already runs
//   "/P <handle>"     preview: the small clock inside the host's window
//   "/C"              configuration: the settings dialog
//   "-root", "--root" saver, when XScreenSaver runs the program as its hack (XSCREENSAVER_WINDOW is set)
//   anything else     no window; the program ends
// The line is trimmed and upper-cased, and only its first two characters choose the mode (its first word
// for the XScreenSaver options).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "values/geometry.h"

namespace startup {

extern std::string gCommandLine;
extern std::int32_t gPreviewParent;
extern forms::Rect gPreviewRect;
extern std::int32_t gPreviewStyle;

enum class Mode { None, Saver, Preview, Configuration };
// Who started the program: XScreenSaver names the window of its hack in XSCREENSAVER_WINDOW.
enum class Host { Plain, XScreenSaver };

void Main();
void ShowPreview();
void CheckPrevInstance();

// The mode a trimmed, upper-cased command line selects when started by this host.
Mode mode_of(std::string_view command_line, Host host);
// The window handle ending the string: its trailing run of decimal digits, as a 32-bit signed integer.
// nullopt when no digits end it or they exceed the 32-bit signed range.
std::optional<std::int32_t> ParseWindowHandle(std::string_view text);

}  // namespace startup
