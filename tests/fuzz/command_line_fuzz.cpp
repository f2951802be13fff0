// The command line: any text becomes the program's command line and start-up runs on the headless back
// end (a 64 x 48 screen, two seconds of ticks). The windows made must be those of the mode that the
// line's first two characters select, a preview gets the trailing digits as its host window, and a preview
// line without a usable handle ends start-up with status 2 before any window exists.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "backends/headless/headless.h"
#include "forms/form.h"
#include "forms/native_services.h"
#include "settings/settings.h"
#include "startup/startup.h"

namespace {

using forms::headless::HeadlessPlatform;

// One set of native services for every run: fonts and picture modules load once.
forms::NativeServices& shared_services() {
  static const std::unique_ptr<forms::NativeServices> services = forms::make_native_services();
  return *services;
}

class SharedServices final : public forms::NativeServices {
 public:
  forms::Result<forms::PictureRef> load_picture(const std::string& path, forms::Size bound) override {
    return shared_services().load_picture(path, bound);
  }
  forms::Result<forms::PictureRef> decode_picture(std::span<const std::byte> bytes, forms::Size bound) override {
    return shared_services().decode_picture(bytes, bound);
  }
  forms::Rect draw_text(forms::FrameBuffer& frame, int x, int y, std::string_view text, const forms::TextStyle& style,
                        double dpi, forms::Pixel color, const forms::Rect& clip) override {
    return shared_services().draw_text(frame, x, y, text, style, dpi, color, clip);
  }
  forms::Size measure_text(std::string_view text, const forms::TextStyle& style, double dpi) override {
    return shared_services().measure_text(text, style, dpi);
  }
  std::unique_ptr<forms::SettingsStore> user_settings_store() override { return nullptr; }
};

void check(bool ok, const char* what, const std::string& line) {
  if (ok) return;
  std::fprintf(stderr, "command line: %s for \"%s\"\n", what, line.c_str());
  std::abort();
}

// The handle a line names: its trailing run of digits once trimmed of spaces, within 32 bits.
std::optional<std::int32_t> expected_handle(std::string line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  std::size_t n = line.size();
  while (n > 0 && line[n - 1] >= '0' && line[n - 1] <= '9') --n;
  const std::string digits = line.substr(n);
  if (digits.empty()) return std::nullopt;
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  if (digits.size() - first > 10) return std::nullopt;
  const long long value = std::stoll(digits.substr(first));
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

bool made(const HeadlessPlatform& platform, const std::string& form) {
  for (const std::string& entry : platform.log) {
    if (entry == "create " + form) return true;
  }
  return false;
}

int run(const std::string& line) {
  HeadlessPlatform platform(std::make_unique<SharedServices>());
  platform.screens = {forms::Monitor{{0, 0, 64, 48}, 96}};
  platform.path = DIALSAVER_RESOURCES;
  platform.set_time(10, 10, 30);
  const forms::WindowHandle host = platform.add_foreign_window("host", {40, 30});
  platform.command = line;
  forms::install_platform(&platform);

  platform.run_guarded(startup::Main);
  const startup::Mode mode = startup::mode_of(startup::gCommandLine, startup::Host::Plain);
  check(startup::ParseWindowHandle(line) == expected_handle(line), "the handle differs from the trailing digits", line);
  switch (mode) {
    case startup::Mode::Saver:
      check(made(platform, "frmmain") && !made(platform, "frmprev") && !made(platform, "frmSetting"),
            "saver mode made other windows", line);
      break;
    case startup::Mode::Configuration:
      check(made(platform, "frmmain") && made(platform, "frmSetting") && platform.running_timers() == 0,
            "configuration mode made other windows or left a timer running", line);
      break;
    case startup::Mode::Preview:
      if (expected_handle(line)) {
        check(made(platform, "frmprev") && !platform.ended(), "preview mode made no preview", line);
        check(startup::gPreviewParent == *expected_handle(line), "the preview's host is not the line's", line);
      } else {
        check(platform.ended() && platform.exit_status() == 2 && platform.windows().size() == 1,
              "a preview without a handle did not end before any window", line);
      }
      break;
    case startup::Mode::None:
      check(platform.windows().size() == 1 && !platform.ended(), "a line of no mode made a window", line);
      break;
  }
  platform.advance_ms(2000);
  (void)host;

  for (forms::Form* form : forms::Application::get().forms()) {
    if (form->loaded()) platform.run_guarded([form] { form->Unload(); });
  }
  forms::Application::get().reset();
  forms::install_platform(nullptr);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  run("/S");  // loads fonts and picture modules once, outside any measured run
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 512) return -1;  // a host passes a short line; longer ones only slow the search
  return run(std::string(reinterpret_cast<const char*>(data), size));
}
