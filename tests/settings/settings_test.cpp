#include "settings/settings.h"

#include <gtest/gtest.h>

#include <climits>

#include "headless_fixture.h"

namespace {

using settings::gBackColor;
using settings::gColor1;
using settings::gColor2;
using settings::gPicturePath;
using settings::gStretchPic;

class SettingsTest : public HeadlessTest {};

TEST_F(SettingsTest, FirstRunGivesTheDefaultsAndWritesNothing) {
  settings::LoadSettings();
  EXPECT_EQ(gPicturePath, std::string(DIALSAVER_RESOURCES) + forms::kPathSeparator + "a.gif");
  EXPECT_EQ(gBackColor, 16777215);
  EXPECT_EQ(gColor1, 16777215);
  EXPECT_EQ(gColor2, 16777215);
  EXPECT_TRUE(gStretchPic);
  EXPECT_TRUE(store().values.empty());
  EXPECT_TRUE(store().writes.empty());
}

TEST_F(SettingsTest, SaveWritesAllFiveKeysInOrderAsPlainText) {
  settings::LoadSettings();
  gColor1 = 255;
  gColor2 = 0;
  gBackColor = -16777216;
  gStretchPic = false;
  ASSERT_TRUE(settings::SaveSettings());
  EXPECT_EQ(store().writes,
            (std::vector<std::string>{"PICTURE_PATH", "BACK_COLOR", "COLOR1", "COLOR2", "STRETCH_PIc"}));
  EXPECT_EQ(stored("PICTURE_PATH"), gPicturePath);  // the default path too
  EXPECT_EQ(stored("COLOR1"), "255");
  EXPECT_EQ(stored("COLOR2"), "0");
  EXPECT_EQ(stored("BACK_COLOR"), "-16777216");
  EXPECT_EQ(stored("STRETCH_PIc"), "False");
}

TEST_F(SettingsTest, ValuesRoundTripThroughTheStore) {
  for (const std::int32_t color : {0, 255, 65280, 16777215, -1, INT32_MIN, INT32_MAX}) {
    for (const bool flag : {true, false}) {
      gPicturePath = "/pictures/été/photo.jpg";
      gBackColor = color;
      gColor1 = color ^ 0x5A5A5A;
      gColor2 = 12640511;
      gStretchPic = flag;
      ASSERT_TRUE(settings::SaveSettings());
      gPicturePath.clear();
      gBackColor = gColor1 = gColor2 = 7;
      gStretchPic = !flag;
      settings::LoadSettings();
      EXPECT_EQ(gPicturePath, "/pictures/été/photo.jpg");
      EXPECT_EQ(gBackColor, color);
      EXPECT_EQ(gColor1, color ^ 0x5A5A5A);
      EXPECT_EQ(gColor2, 12640511);
      EXPECT_EQ(gStretchPic, flag);
    }
  }
}

TEST_F(SettingsTest, SavePicturePathWritesThatKeyAlone) {
  gPicturePath = "/x/a.gif";
  ASSERT_TRUE(settings::SavePicturePath());
  EXPECT_EQ(store().writes, std::vector<std::string>{"PICTURE_PATH"});
  EXPECT_EQ(stored("PICTURE_PATH"), "/x/a.gif");
}

TEST_F(SettingsTest, UnconvertibleStoredValuesTakeTheirDefaultsAndStayStored) {
  stored("BACK_COLOR", "red");
  stored("COLOR1", "2147483648");
  stored("COLOR2", "12.5");
  stored("STRETCH_PIc", "yes");
  settings::LoadSettings();
  EXPECT_EQ(gBackColor, 16777215);
  EXPECT_EQ(gColor1, 16777215);
  EXPECT_EQ(gColor2, 16777215);
  EXPECT_TRUE(gStretchPic);
  EXPECT_TRUE(store().writes.empty());
  EXPECT_EQ(stored("BACK_COLOR"), "red");
}

TEST_F(SettingsTest, AFailedSaveIsReportedAfterTryingEveryKey) {
  store().fail_writes_with = "disk full";
  const forms::Status saved = settings::SaveSettings();
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.reason(), "disk full");
}

struct ColorCase {
  const char* text;
  std::optional<std::int32_t> value;
};

TEST(TextToColor, AcceptsDecimalIntegersWithBlanksAndSignOnly) {
  const ColorCase cases[] = {
      {"255", 255},
      {" 255 ", 255},
      {"+255", 255},
      {"-1", -1},
      {"0", 0},
      {"\t7\t", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", {}},
      {"-2147483649", {}},
      {"9223372036854775808", {}},
      {"", {}},
      {" ", {}},
      {"-", {}},
      {"12.5", {}},
      {"&HFF", {}},
      {"1e3", {}},
      {"25 5", {}},
      {"abc", {}},
  };
  for (const ColorCase& c : cases) {
    EXPECT_EQ(settings::text_to_color(c.text), c.value) << "text \"" << c.text << "\"";
  }
}

struct FlagCase {
  const char* text;
  std::optional<bool> value;
};

TEST(TextToFlag, AcceptsTrueFalseInAnyCaseAndNumbers) {
  const FlagCase cases[] = {
      {"True", true}, {"False", false}, {"tRuE", true}, {"FALSE", false}, {" True ", true}, {"0", false},
      {"1", true},    {"2", true},      {"-1", true},   {"0.0", false},   {"0.5", true},    {"00", false},
      {"yes", {}},    {"", {}},         {"Truth", {}},  {"1.2.3", {}},    {".", {}},
  };
  for (const FlagCase& c : cases) {
    EXPECT_EQ(settings::text_to_flag(c.text), c.value) << "text \"" << c.text << "\"";
  }
}

}  // namespace
