// The services the windows call, under the names they were written against (App.Path, MsgBox,
// GetSetting, LoadPicture, End...). This is the interface the windows and start-up use, and it keeps those
// old names; everything else in the code is snake_case. Each service goes to the installed back end.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "forms/backend.h"
#include "forms/settings_store.h"
#include "pictures/picture.h"
#include "values/result.h"

namespace forms {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

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
// Starts decoding the picture file in the background where the platform can, so that a window's
// LoadPicture of it, next, finds the work done while the window was being made. It needs no display: the
// monitors' size, which the picture is fitted to, is given by that LoadPicture.
void start_loading_picture(const std::string& path);
// The window about to load on the monitor (0: the primary) covers it: its frame, the monitor's size, starts
// being made in the background where the platform can, while the window loads.
void prepare_monitor_frame(int monitor);
TimeOfDay Time();
[[noreturn]] void End();
// Ends the program before any window exists, after a one-line message on standard error that starts with
// the program's name.
[[noreturn]] void fail_start(const std::string& message);

}  // namespace forms
