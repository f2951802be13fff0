// A few whole windows compared pixel for pixel with images that were looked at when they were recorded.
// A failing comparison writes <name>_actual.png and <name>_diff.png (differing pixels in red over the
// dimmed expected image) beside the golden image, and names the command that re-records them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "backends/linux_services/png_file.h"
#include "headless_fixture.h"
#include "startup/startup.h"
#include "windows/preview/frmprev.h"
#include "windows/saver/frmmain.h"

namespace {

namespace fs = std::filesystem;

constexpr char kRecordVariable[] = "DIALSAVER_RECORD_GOLDEN";

using forms::RgbImage;
using Image = RgbImage;

class GoldenTest : public HeadlessTest {
 protected:
  // Runs the program's start-up on a screen of `screen` pixels and returns what `form` shows after `ticks`
  // ticks, the last at 10:10:30.
  Image render(const std::string& command, forms::Size screen, int ticks) {
    platform->screens = {forms::Monitor{{0, 0, screen.width, screen.height}, 96}};
    platform->set_time(10, 10, 30 - ticks);
    platform->command = command;
    platform->run_guarded(startup::Main);
    platform->advance_ms(ticks * 1000LL);
    forms::Form& form = command.rfind("/p", 0) == 0 ? static_cast<forms::Form&>(forms::instance<preview::frmprev>())
                                                    : static_cast<forms::Form&>(forms::instance<saver::frmmain>());
    Image image;
    image.pixels = platform->snapshot(form, image.size);
    return image;
  }

  void expect_golden(const std::string& name, const Image& actual) {
    const fs::path golden = fs::path(DIALSAVER_TEST_DATA).parent_path() / "golden" / (name + ".png");
    const fs::path actual_path = golden.parent_path() / (name + "_actual.png");
    const fs::path diff_path = golden.parent_path() / (name + "_diff.png");
    if (std::getenv(kRecordVariable) != nullptr) {
      forms::write_png(actual, golden);
      GTEST_SKIP() << "recorded " << golden << ": look at it before committing it";
    }
    const auto expected = forms::read_png(golden);
    ASSERT_TRUE(expected) << "no golden image " << golden << "; record it with " << kRecordVariable
                          << "=1 build/linux/tests/dialsaver_tests --gtest_filter='GoldenTest.*'";
    ASSERT_EQ(expected->size, actual.size) << name;
    Image diff{actual.size, {}};
    std::size_t differing = 0;
    for (std::size_t i = 0; i < actual.pixels.size(); ++i) {
      const bool same = actual.pixels[i] == expected->pixels[i];
      differing += same ? 0 : 1;
      diff.pixels.push_back(same ? (expected->pixels[i] >> 2) & 0x3F3F3Fu : 0xFF0000u);
    }
    if (differing == 0) {
      fs::remove(actual_path);
      fs::remove(diff_path);
      return;
    }
    forms::write_png(actual, actual_path);
    forms::write_png(diff, diff_path);
    ADD_FAILURE() << name << ": " << differing << " pixels differ; see " << actual_path << " and " << diff_path
                  << ". If the change is intended, look at the new image and re-record with " << kRecordVariable
                  << "=1 build/linux/tests/dialsaver_tests --gtest_filter='GoldenTest.*'";
  }
};

TEST_F(GoldenTest, SaverOnASmallScreenWithItsColoursAndTheStretchedPicture) {
  stored("BACK_COLOR", "4210752");
  stored("COLOR1", "16744448");
  stored("COLOR2", "8421631");
  expect_golden("saver_480x360", render("/S", {480, 360}, 2));
}

TEST_F(GoldenTest, SaverWithThePictureOverTheWholeScreenAndTheBareFace) {
  stored("STRETCH_PIc", "False");
  stored("BACK_COLOR", "0");
  stored("COLOR1", "65535");
  stored("COLOR2", "16711935");
  expect_golden("saver_400x300_whole_picture_no_hands", render("/S", {400, 300}, 0));
}

TEST_F(GoldenTest, PreviewInATypicalHostWindow) {
  const forms::WindowHandle host = platform->add_foreign_window("host", {152, 112});
  stored("COLOR1", "33023");
  stored("COLOR2", "8421376");
  expect_golden("preview_152x112", render("/p " + std::to_string(host), {1024, 768}, 3));
}

}  // namespace
