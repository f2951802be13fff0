// soak: runs the saver on the headless back end for many ticks of the fake clock and reports its resident
// memory, then checks that the picture after the last tick is the one a fresh start shows at that moment.
// tests/e2e/soak.sh runs it.
//
//   soak --size WxH --ticks N [--time HH:MM:SS] --compare FRESH.png
//
// The last of the N ticks falls at --time (default 10:10:30); FRESH.png is dialsaver-render's picture of
// that moment with the same settings (the defaults). Exit status 0 when memory stayed flat (under 1 MB of
// growth after the first minute) and the pictures are equal.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "backends/headless/headless.h"
#include "backends/linux_services/executable.h"
#include "backends/linux_services/png_file.h"
#include "forms/form.h"
#include "startup/startup.h"
#include "windows/saver/frmmain.h"

namespace {

constexpr long kFlatKb = 1024;

long resident_kb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::string program_folder() { return std::filesystem::path(forms::executable_path("./soak")).parent_path().string(); }

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: soak --size WxH --ticks N [--time HH:MM:SS] --compare FRESH.png\n");
  std::exit(2);
}

// Pixels that differ between the window's picture and a PNG of the same size; -1 when the sizes differ.
long differing_pixels(const std::vector<forms::Pixel>& image, forms::Size size, const std::string& png) {
  const std::optional<forms::RgbImage> fresh = forms::read_png(png);
  if (!fresh || fresh->size != size) return -1;
  long differ = 0;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if ((image[i] & 0xFFFFFF) != fresh->pixels[i]) ++differ;
  }
  return differ;
}

}  // namespace

int main(int argc, char** argv) {
  forms::Size size;
  long ticks = 0;
  int hour = 10, minute = 10, second = 30;
  std::string compare;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    const std::string value = argv[i + 1];
    if (arg == "--size" && std::sscanf(value.c_str(), "%dx%d", &size.width, &size.height) == 2) continue;
    if (arg == "--ticks" && (ticks = std::atol(value.c_str())) > 0) continue;
    if (arg == "--time" && std::sscanf(value.c_str(), "%d:%d:%d", &hour, &minute, &second) == 3) continue;
    if (arg == "--compare") {
      compare = value;
      continue;
    }
    usage();
  }
  if (size.width <= 0 || size.height <= 0 || ticks <= 0 || compare.empty()) usage();

  forms::headless::HeadlessPlatform platform;
  platform.screens = {forms::Monitor{{0, 0, size.width, size.height}, 96}};
  platform.path = program_folder();
  platform.command = "/S";
  const long start = ((hour * 3600L + minute * 60L + second - ticks) % 86400 + 86400) % 86400;
  platform.set_time(static_cast<int>(start / 3600), static_cast<int>(start / 60 % 60), static_cast<int>(start % 60));
  forms::install_platform(&platform);
  platform.run_guarded(startup::Main);
  if (platform.ended() || !platform.messages.empty()) {
    std::fprintf(stderr, "soak: the saver did not start cleanly\n");
    return 1;
  }

  // A display paints the window once it is shown, which gives its surface its pixels; the headless back
  // end paints only when asked, and until then a surface keeps its drawing as a list of operations.
  forms::Size shown;
  (void)platform.snapshot(forms::instance<saver::frmmain>(), shown);

  const long at_start = resident_kb();
  long after_first_minute = 0;
  long highest = 0;
  for (long done = 0; done < ticks;) {
    const long step = std::min(done < 60 ? 60 - done : 600L, ticks - done);
    platform.advance_ms(step * 1000);
    done += step;
    const long now = resident_kb();
    if (done == std::min(60L, ticks)) after_first_minute = now;
    highest = std::max(highest, now);
  }
  const long at_end = resident_kb();
  const long growth = std::max(highest, at_end) - after_first_minute;

  const std::vector<forms::Pixel> image = platform.snapshot(forms::instance<saver::frmmain>(), shown);
  const long differ = differing_pixels(image, shown, compare);
  std::printf(
      "soak: %ld ticks at %dx%d: resident %ld KB at start, %ld KB after the first minute, %ld KB at most, "
      "%ld KB at the end: growth %ld KB after the first minute\n",
      ticks, size.width, size.height, at_start, after_first_minute, highest, at_end, growth);
  std::printf("soak: the picture after the last tick %s the fresh render (%ld pixels differ)\n",
              differ == 0 ? "equals" : "DIFFERS FROM", differ);
  return growth < kFlatKb && differ == 0 ? 0 : 1;
}
