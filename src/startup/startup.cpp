#include "startup/startup.h"

#include <cstdlib>

#include "forms/form.h"
#include "forms/services.h"
#include "forms/user32.h"
#include "settings/settings.h"
#include "values/text.h"
#include "windows/preview/frmprev.h"
#include "windows/saver/frmmain.h"
#include "windows/settings_dialog/frmSetting.h"

namespace startup {

std::string gCommandLine;
std::int32_t gPreviewParent = 0;
forms::Rect gPreviewRect;
std::int32_t gPreviewStyle = 0;

namespace {

std::string upper_case(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// A 32-bit handle as the platform's handle type; handles are sign-extended, as the platform does.
forms::WindowHandle as_handle(std::int32_t value) {
  return static_cast<forms::WindowHandle>(static_cast<std::intptr_t>(value));
}

// The saver covers every monitor: the primary window loads first, one more window is shown on each
// further monitor, then the primary. Only then, with the clock on every screen, is a picture that did
// not load reported, in a box over the primary window; the primary then runs modally. Any of the windows
// ends the program.
void ShowSaver() {
  saver::frmmain::defer_picture_message = true;
  forms::prepare_monitor_frame(0);
  auto& primary = forms::instance<saver::frmmain>();
  const auto monitors = static_cast<int>(forms::platform().monitors().size());
  for (int monitor = 1; monitor < monitors; ++monitor) {
    forms::Application::get().add_instance<saver::frmmain>(monitor).Show();
  }
  primary.Show();
  primary.report_missing_picture();
  primary.Show(forms::vbModal);
}

}  // namespace

Mode mode_of(std::string_view command_line, Host host) {
  const std::string_view first_word = command_line.substr(0, command_line.find(' '));
  if (host == Host::XScreenSaver && (first_word == "-ROOT" || first_word == "--ROOT")) return Mode::Saver;
  const std::string_view first_two = command_line.substr(0, 2);
  if (first_two == "/P") return Mode::Preview;
  if (first_two.empty()) return Mode::Saver;
  if (first_two == "/S") return Mode::Saver;
  if (first_two == "/C") return Mode::Configuration;
  return Mode::None;
}

// The windows of every mode load the stored picture first thing; it starts decoding, in the background
// where the platform can, as soon as the mode is known, and decodes while the windows are made.
void Main() {
  settings::LoadSettings();
  gCommandLine = upper_case(forms::trim(forms::Command(), " "));
  const Host host = std::getenv("XSCREENSAVER_WINDOW") != nullptr ? Host::XScreenSaver : Host::Plain;
  switch (mode_of(gCommandLine, host)) {
    case Mode::Preview:
      ShowPreview();
      return;
    case Mode::Saver:
      CheckPrevInstance();
      forms::start_loading_picture(settings::gPicturePath);
      ShowSaver();
      return;
    case Mode::Configuration:
      forms::start_loading_picture(settings::gPicturePath);
      forms::instance<saver::frmmain>().Hide();
      forms::instance<settings_dialog::frmSetting>().Show();
      forms::instance<saver::frmmain>().Timer1.Interval(0);
      return;
    case Mode::None:
      return;
  }
}

void CheckPrevInstance() {
  if (!forms::App.PrevInstance()) return;
  if (forms::user32::FindWindowA(nullptr, forms::App.EXEName().c_str()) != 0) forms::End();
}

std::optional<std::int32_t> ParseWindowHandle(std::string_view text) {
  text = forms::trim(text, " ");
  std::size_t n = text.size();
  while (n >= 1 && text[n - 1] >= '0' && text[n - 1] <= '9') --n;
  const std::string_view digits = text.substr(n);
  if (digits.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

void ShowPreview() {
  namespace user32 = forms::user32;
  const auto parsed = ParseWindowHandle(gCommandLine);
  if (!parsed) {
    forms::fail_start(
        "the preview needs the host's window handle as decimal digits within the 32-bit range, "
        "after /P; got \"" +
        gCommandLine + "\"");
  }
  gPreviewParent = *parsed;
  forms::start_loading_picture(settings::gPicturePath);
  const forms::WindowHandle parent = as_handle(gPreviewParent);
  user32::GetClientRect(parent, gPreviewRect);
  auto& preview_window = forms::instance<preview::frmprev>();
  preview_window.Caption("Preview");
  gPreviewStyle = user32::GetWindowLongA(preview_window.hWnd(), user32::kGwlStyle) | user32::kWsChild;
  user32::SetWindowLongA(preview_window.hWnd(), user32::kGwlStyle, gPreviewStyle);
  user32::SetParent(preview_window.hWnd(), parent);
  user32::SetWindowLongA(preview_window.hWnd(), user32::kGwlHwndParent, static_cast<std::intptr_t>(parent));
  user32::SetWindowPos(preview_window.hWnd(), 0, 0, 0, gPreviewRect.right, gPreviewRect.bottom,
                       user32::kSwpNoZOrder | user32::kSwpNoActivate | user32::kSwpShowWindow);
}

}  // namespace startup
