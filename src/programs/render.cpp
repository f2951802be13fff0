// dialsaver-render: draws what the saver window (or, with --preview, the preview window) shows on a
// screen of a given size at a given moment, through the headless back end and the program's own start-up,
// and writes it as PNG. Other programs and the tests call it; its interface is fixed:
//
//   dialsaver-render [--preview] --size WxH [--dpi N] [--time HH:MM:SS] [--ticks N] [--picture PATH]
//                    [--back N] [--color1 N] [--color2 N] [--stretch true|false] [--trace FILE] --out FILE.png
//
// The given settings replace the stored ones for this run; nothing is saved. N timer ticks (default 1; 0
// shows the bare face) come one second apart, the last at --time (default 10:10:30). With --preview the
// host's preview window is W x H pixels. --trace writes one line per drawing operation of that window.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "backends/headless/headless.h"
#include "backends/linux_services/executable.h"
#include "backends/linux_services/png_file.h"
#include "forms/form.h"
#include "forms/native_services.h"
#include "settings/settings.h"
#include "startup/startup.h"
#include "values/printable.h"
#include "windows/preview/frmprev.h"
#include "windows/saver/frmmain.h"

namespace {

constexpr char kUsage[] =
    "usage: dialsaver-render [--preview] --size WxH [--dpi N] [--time HH:MM:SS] [--ticks N] [--picture PATH]\n"
    "                        [--back N] [--color1 N] [--color2 N] [--stretch true|false] [--trace FILE]\n"
    "                        --out FILE.png\n";

struct Options {
  bool preview = false;
  forms::Size size;
  double dpi = 96;
  int hour = 10, minute = 10, second = 30;
  int ticks = 1;
  std::map<std::string, std::string> settings;  // key -> text
  std::string trace;
  std::string out;
};

[[noreturn]] void usage(const std::string& problem) {
  std::fprintf(stderr, "dialsaver-render: %s\n%s", forms::printable(problem).c_str(), kUsage);
  std::exit(2);
}

int whole_number(const std::string& text, int low, int high, const char* what) {
  std::size_t used = 0;
  long value = 0;
  try {
    value = std::stol(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || value < low || value > high) {
    usage(std::string(what) + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
          ", not \"" + text + "\"");
  }
  return static_cast<int>(value);
}

// "WxH" as a size.
forms::Size size_of(const std::string& value) {
  const auto x = value.find('x');
  if (x == std::string::npos) usage("--size must be WxH, not \"" + value + "\"");
  return {whole_number(value.substr(0, x), 1, 16384, "the width"),
          whole_number(value.substr(x + 1), 1, 16384, "the height")};
}

// "HH:MM:SS" into the options' time.
void set_time(Options& o, const std::string& value) {
  if (value.size() != 8 || value[2] != ':' || value[5] != ':') usage("--time must be HH:MM:SS, not \"" + value + "\"");
  o.hour = whole_number(value.substr(0, 2), 0, 23, "the hour");
  o.minute = whole_number(value.substr(3, 2), 0, 59, "the minute");
  o.second = whole_number(value.substr(6, 2), 0, 59, "the second");
}

// An option that sets a stored setting for this run: true when `arg` was one.
bool set_setting(Options& o, const std::string& arg, const std::string& value) {
  if (arg == "--picture") {
    o.settings[settings::kKeyPicturePath] = value;
  } else if (arg == "--back" || arg == "--color1" || arg == "--color2") {
    if (!settings::text_to_color(value))
      usage(arg + " must be a colour value (a 32-bit integer), not \"" + value + "\"");
    const char* key = arg == "--back"     ? settings::kKeyBackColor
                      : arg == "--color1" ? settings::kKeyColor1
                                          : settings::kKeyColor2;
    o.settings[key] = value;
  } else if (arg == "--stretch") {
    if (value != "true" && value != "false") usage("--stretch must be true or false, not \"" + value + "\"");
    o.settings[settings::kKeyStretchPic] = value == "true" ? "True" : "False";
  } else {
    return false;
  }
  return true;
}

void set_option(Options& o, const std::string& arg, const std::string& value) {
  if (set_setting(o, arg, value)) return;
  if (arg == "--size") {
    o.size = size_of(value);
  } else if (arg == "--dpi") {
    o.dpi = whole_number(value, 24, 2400, "--dpi");
  } else if (arg == "--time") {
    set_time(o, value);
  } else if (arg == "--ticks") {
    o.ticks = whole_number(value, 0, 86400 * 2, "--ticks");
  } else if (arg == "--trace") {
    o.trace = value;
  } else if (arg == "--out") {
    o.out = value;
  } else {
    usage("unknown option: " + arg);
  }
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--preview") {
      o.preview = true;
      continue;
    }
    if (i + 1 >= argc)
      usage(arg == "--help" || arg == "-h" ? "the options are:" : "unknown option or missing value: " + arg);
    set_option(o, arg, argv[++i]);
  }
  if (o.size.width == 0) usage("--size is required");
  if (o.out.empty()) usage("--out is required");
  return o;
}

// The user's store with this run's settings laid over it; writes are dropped.
class OverlayStore final : public forms::SettingsStore {
 public:
  OverlayStore(std::unique_ptr<forms::SettingsStore> base, std::map<std::string, std::string> overrides)
      : m_base(std::move(base)), m_overrides(std::move(overrides)) {}
  forms::Result<std::optional<std::string>> read(const std::string& app, const std::string& section,
                                                 const std::string& key) override {
    if (auto it = m_overrides.find(key); it != m_overrides.end()) return std::optional<std::string>(it->second);
    return m_base->read(app, section, key);
  }
  forms::Status write(const std::string& /*app*/, const std::string& /*section*/, const std::string& /*key*/,
                      const std::string& /*text*/) override {
    return forms::ok_status();
  }

 private:
  std::unique_ptr<forms::SettingsStore> m_base;
  std::map<std::string, std::string> m_overrides;
};

// Numbers as the program held them: up to three decimals, no trailing zeros.
std::string number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", v);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

class TraceFile final : public forms::TraceSink {
 public:
  explicit TraceFile(const std::string& path) : m_out(path) {}
  bool ok() const { return m_out.good(); }
  void trace(std::string_view op, std::span<const double> args, std::string_view text, int pen, forms::OleColor color,
             int mode) override {
    m_out << op;
    for (double a : args) m_out << ' ' << number(a);
    if (op == "print") m_out << " \"" << text << '"';
    m_out << " pen=" << pen << " color=" << color << " mode=" << mode << '\n';
  }

 private:
  std::ofstream m_out;
};

std::string program_folder() {
  return std::filesystem::path(forms::executable_path("./dialsaver-render")).parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  forms::headless::HeadlessPlatform platform;
  platform.screens = {forms::Monitor{{0, 0, o.size.width, o.size.height}, o.dpi}};
  platform.path = program_folder();
  platform.store = std::make_unique<OverlayStore>(forms::make_native_services()->user_settings_store(), o.settings);
  std::optional<TraceFile> trace;
  if (!o.trace.empty()) {
    trace.emplace(o.trace);
    if (!trace->ok()) {
      std::fprintf(stderr, "dialsaver-render: cannot write %s\n", forms::printable(o.trace).c_str());
      return 1;
    }
    platform.trace = &*trace;
    platform.trace_form = o.preview ? "frmprev" : "frmmain";
  }
  platform.during_message_box = [](const forms::headless::MessageRecord& m) {
    std::fprintf(stderr, "dialsaver-render: the program says \"%s\"\n", forms::printable(m.text).c_str());
  };
  const int start = o.hour * 3600 + o.minute * 60 + o.second - o.ticks;
  platform.set_time(0, 0, 0);
  platform.advance_ms(0);
  platform.set_time(((start % 86400) + 86400) % 86400 / 3600, ((start % 86400) + 86400) % 86400 / 60 % 60,
                    ((start % 86400) + 86400) % 86400 % 60);
  forms::install_platform(&platform);

  if (o.preview) {
    const forms::WindowHandle host = platform.add_foreign_window("preview host", o.size);
    platform.command = "/p " + std::to_string(host);
  } else {
    platform.command = "/S";
  }
  platform.run_guarded(startup::Main);
  if (platform.ended()) {
    std::fprintf(stderr, "dialsaver-render: the program ended during start-up\n");
    return 1;
  }
  platform.advance_ms(static_cast<std::int64_t>(o.ticks) * 1000);

  forms::Form& form = o.preview ? static_cast<forms::Form&>(forms::instance<preview::frmprev>())
                                : static_cast<forms::Form&>(forms::instance<saver::frmmain>());
  forms::RgbImage image;
  image.pixels = platform.snapshot(form, image.size);
  if (!forms::write_png(image, o.out)) {
    std::fprintf(stderr, "dialsaver-render: cannot write %s\n", forms::printable(o.out).c_str());
    return 1;
  }
  return 0;
}
