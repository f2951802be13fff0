#include "backends/linux_services/ini_store.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

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

// ---- What a save trusts: only folders and files of the user the program runs as ----

constexpr uid_t kSomeoneElse = 65534;

TEST_F(IniStoreTest, NewFoldersAreTheUsersAloneAndAFileOverTheSizeCapIsRefused) {
  IniSettingsStore store(root / "config");
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR1", "1"));
  for (const fs::path& made : {root / "config", root / "config" / "Quillet"}) {
    struct stat st {};
    ASSERT_EQ(::stat(made.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
  }
  std::ofstream(root / "config" / "Quillet" / "Settings.ini") << "[Settings]\nCOLOR1=" << std::string(70000, '7');
  auto read = store.read("Quillet", "Settings", "COLOR1");
  ASSERT_FALSE(read);
  EXPECT_NE(read.reason().find("64 KiB"), std::string::npos) << read.reason();
  EXPECT_FALSE(store.write("Quillet", "Settings", "COLOR2", "2"));
}

TEST_F(IniStoreTest, ALockThatIsNeverFreedFailsTheSaveWithinTheWaitWithAReason) {
  IniSettingsStore store(root, std::chrono::milliseconds(300));
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR1", "1"));
  const fs::path lock_path = root / "Quillet" / "Settings.ini.lock";
  const int holder = ::open(lock_path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);  // another open file description: conflicts as another process's would
  const auto start = std::chrono::steady_clock::now();
  const forms::Status written = store.write("Quillet", "Settings", "COLOR1", "2");
  const auto waited = std::chrono::steady_clock::now() - start;
  ::close(holder);
  ASSERT_FALSE(written);
  EXPECT_NE(written.reason().find("held"), std::string::npos) << written.reason();
  EXPECT_GE(waited, std::chrono::milliseconds(300));
  EXPECT_LT(waited, std::chrono::seconds(2));
  EXPECT_EQ(file_text(), "[Settings]\nCOLOR1=1\n");
}

TEST_F(IniStoreTest, ALockThatIsALinkOrHasASecondNameIsRefusedAndLeftAlone) {
  fs::create_directories(root / "Quillet");
  const fs::path lock_path = root / "Quillet" / "Settings.ini.lock";
  std::ofstream(root / "victim") << "kept";
  IniSettingsStore store(root);
  fs::create_symlink(root / "victim", lock_path);
  EXPECT_FALSE(store.write("Quillet", "Settings", "COLOR1", "1"));
  fs::remove(lock_path);
  fs::create_hard_link(root / "victim", lock_path);
  const forms::Status written = store.write("Quillet", "Settings", "COLOR1", "1");
  ASSERT_FALSE(written);
  EXPECT_NE(written.reason().find("single name"), std::string::npos) << written.reason();
  EXPECT_FALSE(fs::exists(root / "Quillet" / "Settings.ini"));
  EXPECT_EQ(fs::file_size(root / "victim"), 4u);
}

TEST_F(IniStoreTest, AFolderThatIsALinkIsNotWrittenThrough) {
  fs::create_directories(root / "elsewhere");
  fs::create_directories(root / "config");
  fs::create_directory_symlink(root / "elsewhere", root / "config" / "Quillet");
  IniSettingsStore store(root / "config");
  const forms::Status written = store.write("Quillet", "Settings", "COLOR1", "1");
  ASSERT_FALSE(written);
  EXPECT_NE(written.reason().find("link"), std::string::npos) << written.reason();
  EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
}

// Run as root with another user's environment (su without -, sudo -E), the program finds that user's
// folders: it reads them, but writes nothing there, and says why.
TEST_F(IniStoreTest, FoldersAndLinksOfAnotherUserAreNotWrittenIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
  IniSettingsStore store(root);
  write_file("[Settings]\nCOLOR1=1\n");
  ASSERT_EQ(::chown((root / "Quillet").c_str(), kSomeoneElse, kSomeoneElse), 0);
  forms::Status written = store.write("Quillet", "Settings", "COLOR1", "2");
  ASSERT_FALSE(written);
  EXPECT_NE(written.reason().find("belongs to user 65534"), std::string::npos) << written.reason();
  auto read = store.read("Quillet", "Settings", "COLOR1");
  ASSERT_TRUE(read);
  EXPECT_EQ(read.value(), "1");
  EXPECT_EQ(fs::directory_iterator(root / "Quillet")->path().filename(), "Settings.ini");  // no lock, no temp

  // A missing folder is not made inside another user's.
  ASSERT_EQ(::chown(root.c_str(), kSomeoneElse, kSomeoneElse), 0);
  EXPECT_FALSE(store.write("Other", "Settings", "COLOR1", "2"));
  EXPECT_FALSE(fs::exists(root / "Other"));
  ASSERT_EQ(::chown(root.c_str(), 0, 0), 0);

  // A linked settings file is followed only when the link and its target's folder are the user's own.
  ASSERT_EQ(::chown((root / "Quillet").c_str(), 0, 0), 0);
  fs::remove(root / "Quillet" / "Settings.ini");
  fs::create_directories(root / "theirs");
  std::ofstream(root / "theirs" / "file.ini") << "[Settings]\nCOLOR1=1\n";
  fs::create_symlink(root / "theirs" / "file.ini", root / "Quillet" / "Settings.ini");
  ASSERT_EQ(::lchown((root / "Quillet" / "Settings.ini").c_str(), kSomeoneElse, kSomeoneElse), 0);
  EXPECT_FALSE(store.write("Quillet", "Settings", "COLOR1", "2"));
  ASSERT_EQ(::lchown((root / "Quillet" / "Settings.ini").c_str(), 0, 0), 0);
  ASSERT_EQ(::chown((root / "theirs").c_str(), kSomeoneElse, kSomeoneElse), 0);
  EXPECT_FALSE(store.write("Quillet", "Settings", "COLOR1", "2"));
  ASSERT_EQ(::chown((root / "theirs").c_str(), 0, 0), 0);
  ASSERT_TRUE(store.write("Quillet", "Settings", "COLOR1", "2"));
  EXPECT_EQ(file_text(), "[Settings]\nCOLOR1=2\n");
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
