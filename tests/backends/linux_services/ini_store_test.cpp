#include "backends/linux_services/ini_store.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using forms::linux_services::IniDocument;
using forms::linux_services::IniSettingsStore;

class IniStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("dialsaver-ini-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
  }
  void TearDown() override { fs::remove_all(root); }

  std::string file_text() const {
    std::ifstream in(root / "Quillet" / "Settings.ini");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void write_file(const std::string& text) const {
    fs::create_directories(root / "Quillet");
    std::ofstream(root / "Quillet" / "Settings.ini") << text;
  }

  fs::path root;
};

TEST_F(IniStoreTest, ReadingAnAbsentStoreGivesNothingAndCreatesNothing) {
  IniSettingsStore store(root);
  auto value = store.read("Quillet", "Settings", "COLOR1");
  ASSERT_TRUE(value);
  EXPECT_FALSE(value.value().has_value());
  EXPECT_FALSE(fs::exists(root));
}

TEST_F(IniStoreTest, WritesASectionOfKeyLinesAndReadsThemBack) {
  IniSettingsStore store(root);
  ASSERT_TRUE(store.write("Quillet", "Settings", "PICTURE_PATH", "/home/ann/Pictures/caf\xC3\xA9 = 1.jpg"));
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR1", "255"));
  ASSERT_TRUE(store.write("Quillet", "Settings", "STRETCH_PIc", "True"));
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR1", "0"));
  EXPECT_EQ(file_text(),
            "[Settings]\nPICTURE_PATH=/home/ann/Pictures/caf\xC3\xA9 = 1.jpg\nCOLOR1=0\nSTRETCH_PIc=True\n");
  EXPECT_EQ(store.read("Quillet", "Settings", "PICTURE_PATH").value(), "/home/ann/Pictures/caf\xC3\xA9 = 1.jpg");
  EXPECT_EQ(store.read("Quillet", "Settings", "stretch_pic").value(), "True");
  EXPECT_FALSE(fs::exists(root / "Quillet" / "Settings.ini.tmp"));
}

TEST_F(IniStoreTest, KeepsLinesItDoesNotUnderstandWhenSaving) {
  write_file("; made by hand\n[Other]\nCOLOR1=5\ngarbage line\n\n[Settings]\n  COLOR1 = 12 \n\x01\x02 binary\n");
  IniSettingsStore store(root);
  EXPECT_EQ(store.read("Quillet", "Settings", "COLOR1").value(), " 12 ");
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR2", "7"));
  EXPECT_EQ(
      file_text(),
      "; made by hand\n[Other]\nCOLOR1=5\ngarbage line\n\n[Settings]\n  COLOR1 = 12 \n\x01\x02 binary\nCOLOR2=7\n");
}

TEST_F(IniStoreTest, KeepsACrlfFileCrlfAndReadsItsValuesWithoutTheCr) {
  write_file("; by hand\r\n[Settings]\r\nCOLOR1=12\r\nodd line\r\r\n\r\n");
  IniSettingsStore store(root);
  EXPECT_EQ(store.read("Quillet", "Settings", "COLOR1").value(), "12");
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR2", "7"));
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR1", "5"));
  EXPECT_EQ(file_text(), "; by hand\r\n[Settings]\r\nCOLOR1=5\r\nodd line\r\r\nCOLOR2=7\r\n\r\n");
  EXPECT_EQ(store.read("Quillet", "Settings", "COLOR2").value(), "7");
}

TEST_F(IniStoreTest, RefusesValuesAndNamesThatWouldBreakTheFile) {
  IniSettingsStore store(root);
  EXPECT_FALSE(store.write("Quillet", "Settings", "PICTURE_PATH", "/a\nCOLOR1=0"));
  EXPECT_FALSE(store.write("Quillet", "Settings", "PICTURE_PATH", "/a\r"));
  for (const char* key : {"A=B", "", " COLOR1", "COLOR1 ", "#COLOR1", ";COLOR1", "[COLOR1", "COL\tOR1"}) {
    EXPECT_FALSE(store.write("Quillet", "Settings", key, "1")) << "key \"" << key << "\"";
  }
  EXPECT_FALSE(store.write("Quillet", "Set]tings", "COLOR1", "1"));
  EXPECT_FALSE(store.write("Quillet", "Set\ntings", "COLOR1", "1"));
  EXPECT_FALSE(store.write("..", "Settings", "COLOR1", "1"));
  EXPECT_FALSE(store.write("Quillet/../..", "Settings", "COLOR1", "1"));
  EXPECT_FALSE(store.write("Quillet", "../Settings", "COLOR1", "1"));
  EXPECT_FALSE(fs::exists(root));
}

TEST_F(IniStoreTest, SeveralKeysSavedTogetherAreStoredAllOrNone) {
  IniSettingsStore store(root);
  const forms::SettingText good[] = {{"COLOR1", "1"}, {"COLOR2", "2"}};
  ASSERT_TRUE(store.write_all("Quillet", "Settings", good));
  const forms::SettingText bad[] = {{"COLOR1", "5"}, {"COLOR2", "two\nlines"}};
  EXPECT_FALSE(store.write_all("Quillet", "Settings", bad));
  EXPECT_EQ(file_text(), "[Settings]\nCOLOR1=1\nCOLOR2=2\n");
}

TEST_F(IniStoreTest, ASettingsFileThatIsALinkStaysALinkAndItsTargetIsSaved) {
  fs::create_directories(root / "dotfiles");
  std::ofstream(root / "dotfiles" / "dialsaver.ini") << "[Settings]\nCOLOR1=1\n";
  fs::create_directories(root / "Quillet");
  fs::create_symlink("../dotfiles/dialsaver.ini", root / "Quillet" / "Settings.ini");
  IniSettingsStore store(root);
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR2", "2"));
  EXPECT_TRUE(fs::is_symlink(root / "Quillet" / "Settings.ini"));
  EXPECT_EQ(file_text(), "[Settings]\nCOLOR1=1\nCOLOR2=2\n");
  EXPECT_FALSE(fs::exists(root / "dotfiles" / "dialsaver.ini.tmp"));
}

TEST_F(IniStoreTest, WhateverAnInterruptedSaveLeftAtTheTemporaryNameIsReplaced) {
  fs::create_directories(root / "Quillet");
  const fs::path temp = root / "Quillet" / "Settings.ini.tmp";
  std::ofstream(root / "elsewhere") << "not to be touched";
  IniSettingsStore store(root);
  fs::create_symlink(root / "elsewhere", temp);  // a link must not redirect the save
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR1", "1"));
  ASSERT_EQ(mkfifo(temp.c_str(), 0600), 0);  // a FIFO must not block it
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR2", "2"));
  EXPECT_EQ(file_text(), "[Settings]\nCOLOR1=1\nCOLOR2=2\n");
  EXPECT_FALSE(fs::exists(temp));
  std::ifstream in(root / "elsewhere");
  std::string kept;
  std::getline(in, kept);
  EXPECT_EQ(kept, "not to be touched");
}

TEST_F(IniStoreTest, AFileThatIsAFolderFailsToReadAndToWriteWithAReason) {
  fs::create_directories(root / "Quillet" / "Settings.ini");
  IniSettingsStore store(root);
  auto read = store.read("Quillet", "Settings", "COLOR1");
  ASSERT_FALSE(read);
  EXPECT_NE(read.reason().find("Settings.ini"), std::string::npos) << read.reason();
  const forms::Status written = store.write("Quillet", "Settings", "COLOR1", "1");
  ASSERT_FALSE(written);
  EXPECT_FALSE(fs::exists(root / "Quillet" / "Settings.ini.tmp"));
}

TEST(IniDocumentTest, AddsAMissingSectionAfterTheOthers) {
  IniDocument doc = IniDocument::parse("[A]\nx=1");
  doc.set("Settings", "K", "v");
  EXPECT_EQ(doc.text(), "[A]\nx=1\n\n[Settings]\nK=v\n");
  EXPECT_EQ(doc.get("Settings", "k"), "v");
  EXPECT_EQ(doc.get("A", "K"), std::nullopt);
}

TEST(IniDocumentTest, ReadsPastAByteOrderMarkAndKeepsIt) {
  IniDocument doc = IniDocument::parse("\xEF\xBB\xBF[Settings]\nCOLOR1=5\n");
  EXPECT_EQ(doc.get("Settings", "COLOR1"), "5");
  doc.set("Settings", "COLOR2", "6");
  EXPECT_EQ(doc.text(), "\xEF\xBB\xBF[Settings]\nCOLOR1=5\nCOLOR2=6\n");
}

TEST(IniStoreRoot, FollowsXdgConfigHomeThenHome) {
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = saved_xdg ? saved_xdg : "";
  setenv("XDG_CONFIG_HOME", "/tmp/xdg-here", 1);
  EXPECT_EQ(IniSettingsStore::default_root(), fs::path("/tmp/xdg-here"));
  setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
  EXPECT_EQ(IniSettingsStore::default_root(), fs::path(std::getenv("HOME")) / ".config");
  if (saved_xdg) {
    setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
