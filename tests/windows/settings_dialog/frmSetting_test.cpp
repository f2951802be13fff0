#include "windows/settings_dialog/frmSetting.h"

#include <gtest/gtest.h>

#include "headless_fixture.h"
#include "startup/startup.h"
#include "windows/saver/frmmain.h"

namespace {

using settings_dialog::frmSetting;

class FrmSettingTest : public HeadlessTest {
 protected:
  frmSetting& open_dialog() {
    platform->command = "/C";
    platform->run_guarded(startup::Main);
    store().writes.clear();
    return forms::instance<frmSetting>();
  }
  std::string picture(const char* name) const { return std::string(DIALSAVER_TEST_DATA) + "/" + name; }
};

TEST_F(FrmSettingTest, FirstRunShowsWhiteSwatchesACheckedBoxAndTheDefaultPicture) {
  frmSetting& dialog = open_dialog();
  EXPECT_EQ(dialog.ShapeBack.FillColor(), 16777215);
  EXPECT_EQ(dialog.ShapeColor1.FillColor(), 16777215);
  EXPECT_EQ(dialog.ShapeColor2.FillColor(), 16777215);
  EXPECT_EQ(dialog.chkStretch.Value(), 1);
  EXPECT_TRUE(settings::gStretchPic) << "checking the box at load runs its Click, which keeps the flag";
  EXPECT_NE(dialog.Image1.Picture(), nullptr);
  EXPECT_EQ(platform->cursor_count, 1);
  EXPECT_EQ(dialog.Caption(), "dialsaver-Created by www.quillet.example");
}

TEST_F(FrmSettingTest, AStoredFalseFlagLeavesTheBoxClearAndTheFlagFalse) {
  stored("STRETCH_PIc", "False");
  frmSetting& dialog = open_dialog();
  EXPECT_EQ(dialog.chkStretch.Value(), 0);
  EXPECT_FALSE(settings::gStretchPic);
  platform->click(dialog, "chkStretch");
  EXPECT_TRUE(settings::gStretchPic);
  platform->click(dialog, "chkStretch");
  EXPECT_FALSE(settings::gStretchPic);
}

TEST_F(FrmSettingTest, OkWritesAllFiveKeysEvenUnchangedAndEnds) {
  frmSetting& dialog = open_dialog();
  platform->click(dialog, "cmdOK");
  EXPECT_EQ(store().writes,
            (std::vector<std::string>{"PICTURE_PATH", "BACK_COLOR", "COLOR1", "COLOR2", "STRETCH_PIc"}));
  EXPECT_EQ(stored("PICTURE_PATH"), settings::DefaultPicturePath());
  EXPECT_TRUE(platform->ended());
}

TEST_F(FrmSettingTest, CancelAndTheCloseBoxEndWithoutWriting) {
  for (bool close_box : {false, true}) {
    TearDown();
    SetUp();
    frmSetting& dialog = open_dialog();
    platform->color_answers.push_back(255);
    platform->click(dialog, "lblColor1");
    if (close_box) {
      platform->close(dialog);
    } else {
      platform->click(dialog, "cmdCancel");
    }
    EXPECT_TRUE(platform->ended());
    EXPECT_TRUE(store().writes.empty());
  }
}

TEST_F(FrmSettingTest, AChosenPictureShowsAtOnceButIsStoredOnlyByOk) {
  frmSetting& dialog = open_dialog();
  const auto before = dialog.Image1.Picture();
  platform->open_answers.push_back(picture("red.png"));
  platform->click(dialog, "cmdOpen");
  EXPECT_NE(dialog.Image1.Picture(), before);
  EXPECT_EQ(settings::gPicturePath, picture("red.png"));
  EXPECT_TRUE(store().writes.empty());
  platform->click(dialog, "cmdOK");
  EXPECT_EQ(stored("PICTURE_PATH"), picture("red.png"));
}

TEST_F(FrmSettingTest, CancellingTheChooserChangesNothingUntilAFileWasChosen) {
  frmSetting& dialog = open_dialog();
  const auto shown = dialog.Image1.Picture();
  platform->click(dialog, "cmdOpen");  // cancelled
  EXPECT_EQ(dialog.Image1.Picture(), shown);
  EXPECT_EQ(settings::gPicturePath, settings::DefaultPicturePath());
  EXPECT_EQ(platform->open_dialogs_shown, 1);
}

TEST_F(FrmSettingTest, AChosenFileThatIsNoPictureIsReportedAndChangesNothing) {
  frmSetting& dialog = open_dialog();
  const auto shown = dialog.Image1.Picture();
  platform->open_answers.push_back(picture("not-a-picture.jpg"));
  platform->click(dialog, "cmdOpen");
  ASSERT_EQ(platform->messages.size(), 1u);
  EXPECT_EQ(platform->messages[0].text, "Image Not Found");
  EXPECT_EQ(platform->messages[0].owner, "frmSetting");
  EXPECT_EQ(dialog.Image1.Picture(), shown);
  EXPECT_EQ(settings::gPicturePath, settings::DefaultPicturePath());
  EXPECT_FALSE(platform->ended());
  platform->click(dialog, "cmdOpen");  // cancelled: the bad file does not come back
  EXPECT_EQ(platform->messages.size(), 1u);
}

TEST_F(FrmSettingTest, EachColourLabelChoosesItsOwnValueStartingFromIt) {
  stored("COLOR2", "12345");
  frmSetting& dialog = open_dialog();
  platform->color_answers = {255, std::nullopt, 65280};
  platform->click(dialog, "lblColor1");
  platform->click(dialog, "lblBackColor");  // cancelled: the value keeps its colour
  platform->click(dialog, "lblColor2");
  EXPECT_EQ(platform->color_dialogs_initial, (std::vector<forms::OleColor>{16777215, 16777215, 12345}));
  EXPECT_EQ(settings::gColor1, 255);
  EXPECT_EQ(dialog.ShapeColor1.FillColor(), 255);
  EXPECT_EQ(settings::gBackColor, 16777215);
  EXPECT_EQ(dialog.ShapeBack.FillColor(), 16777215);
  EXPECT_EQ(settings::gColor2, 65280);
  platform->click(dialog, "cmdOK");
  EXPECT_EQ(stored("COLOR1"), "255");
  EXPECT_EQ(stored("COLOR2"), "65280");
  EXPECT_EQ(stored("BACK_COLOR"), "16777215");
}

TEST_F(FrmSettingTest, AFailedSaveKeepsTheDialogOpenWithTheReason) {
  frmSetting& dialog = open_dialog();
  store().fail_writes_with = "cannot write the settings: no space left on device";
  platform->click(dialog, "cmdOK");
  EXPECT_FALSE(platform->ended());
  ASSERT_EQ(platform->messages.size(), 1u);
  EXPECT_NE(platform->messages[0].text.find("no space left"), std::string::npos);
  store().fail_writes_with.reset();
  platform->click(dialog, "cmdOK");
  EXPECT_TRUE(platform->ended());
}

TEST_F(FrmSettingTest, AMissingDefaultPictureLeavesTheThumbnailEmptySilently) {
  platform->path = std::filesystem::path(gone_file()).parent_path().string();  // a folder without a.gif
  frmSetting& dialog = open_dialog();
  // The hidden saver window reports its own failed picture; the dialog says nothing more.
  EXPECT_EQ(platform->messages.size(), 1u);
  EXPECT_EQ(dialog.Image1.Picture(), nullptr);
  EXPECT_FALSE(platform->ended());
}

TEST_F(FrmSettingTest, ConfigurationLoadsTheHiddenSaverWindowAndReportsItsPictureFirst) {
  stored("PICTURE_PATH", gone_file());
  frmSetting& dialog = open_dialog();
  std::vector<std::string> order;
  for (const std::string& line : platform->log) {
    if (line.rfind("create", 0) == 0 || line.rfind("MsgBox", 0) == 0 || line.rfind("show", 0) == 0)
      order.push_back(line);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"create frmmain", "MsgBox Image Not Found", "create frmSetting",
                                             "show frmSetting"}));
  EXPECT_NE(dialog.Image1.Picture(), nullptr) << "the dialog shows the default picture";
  EXPECT_EQ(settings::gPicturePath, settings::DefaultPicturePath());
}

}  // namespace
