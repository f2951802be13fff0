// Corrupt values in the real store (the settings file on Linux, the registry on Windows) as LoadSettings
// reads them: each key takes the value its conversion gives, or its default, and start-up goes on.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "headless_fixture.h"

#if defined(_WIN32)
#include "backends/win32_services/registry_store.h"
#include "backends/win32_services/wide_text.h"
#else
#include <unistd.h>

#include "backends/linux_services/ini_store.h"
#endif

namespace {

using settings::gBackColor;
using settings::gColor1;
using settings::gColor2;
using settings::gPicturePath;
using settings::gStretchPic;

struct Expected {
  std::int32_t back = settings::kDefaultColor;
  std::int32_t color1 = settings::kDefaultColor;
  std::int32_t color2 = settings::kDefaultColor;
  bool stretch = settings::kDefaultStretch;
};

void expect_loaded(const Expected& e, const std::string& what) {
  EXPECT_EQ(gBackColor, e.back) << what;
  EXPECT_EQ(gColor1, e.color1) << what;
  EXPECT_EQ(gColor2, e.color2) << what;
  EXPECT_EQ(gStretchPic, e.stretch) << what;
}

// Text values of the stored forms every store can hold.
struct TextCase {
  std::string back, color1, color2, stretch;
  Expected expected;
};

// Long, but within what a settings file may hold.
const std::string kLongText(32 << 10, '7');

const TextCase kTextCases[] = {
    {"-1", "2147483648", "9223372036854775808", "tRuE", {-1, settings::kDefaultColor, settings::kDefaultColor, true}},
    {"", " 255 ", "-2147483648", "yes", {settings::kDefaultColor, 255, INT32_MIN, true}},
    {kLongText, "2147483647", "+0", "2", {settings::kDefaultColor, INT32_MAX, 0, true}},
    {"0x10",
     "1e3",
     "\xff\xfe",
     "0",
     {settings::kDefaultColor, settings::kDefaultColor, settings::kDefaultColor, false}},
    {"12.5",
     "",
     std::string("7\0"
                 "7",
                 3),
     "",
     {settings::kDefaultColor, settings::kDefaultColor, settings::kDefaultColor, settings::kDefaultStretch}},
    {"FALSE", "-0", "00255", "False", {settings::kDefaultColor, 0, 255, false}},
};

#if !defined(_WIN32)

class CorruptSettingsFile : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    root = std::filesystem::temp_directory_path() / ("dialsaver-corrupt-" + std::to_string(getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "Quillet");
    platform->store = std::make_unique<forms::linux_services::IniSettingsStore>(root);
  }
  void TearDown() override {
    std::filesystem::remove_all(root);
    HeadlessTest::TearDown();
  }
  void file(const std::string& text) { std::ofstream(root / "Quillet" / "Settings.ini", std::ios::binary) << text; }
  std::filesystem::path root;
};

TEST_F(CorruptSettingsFile, ValuesTakeWhatTheirConversionGivesOrTheDefault) {
  for (const TextCase& c : kTextCases) {
    file("[Settings]\nBACK_COLOR=" + c.back + "\nCOLOR1=" + c.color1 + "\nCOLOR2=" + c.color2 +
         "\nSTRETCH_PIc=" + c.stretch + "\n");
    settings::LoadSettings();
    expect_loaded(c.expected,
                  "stored " + c.back.substr(0, 20) + " / " + c.color1 + " / " + c.color2 + " / " + c.stretch);
  }
}

TEST_F(CorruptSettingsFile, APathOfAnyBytesIsKeptAsStoredAndBrokenLinesAreSkipped) {
  const std::string path = "/home/ann/\xC3\x28\xff bad utf-8 \xE2\x82.jpg";
  file("\xEF\xBB\xBF[Settings]\r\nPICTURE_PATH=" + path +
       "\r\nCOLOR1\r\n=5\r\nCOLOR2 = 7 \r\n[Settings\nSTRETCH_PIc=False\n");
  settings::LoadSettings();
  EXPECT_EQ(gPicturePath, path);
  EXPECT_EQ(gColor1, settings::kDefaultColor);  // a line without '=' stores nothing
  EXPECT_EQ(gColor2, 7);
  EXPECT_FALSE(gStretchPic);  // "[Settings" is no section header, so the key is still in [Settings]
  file(std::string(1 << 20, '\0'));
  settings::LoadSettings();
  expect_loaded({}, "a megabyte of NUL bytes");
  EXPECT_EQ(gPicturePath, settings::DefaultPicturePath());
}

#else

constexpr wchar_t kBase[] = L"Software\\dialsaver corrupt tests";

class CorruptRegistry : public HeadlessTest {
 protected:
  void SetUp() override {
    HeadlessTest::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    platform->store = std::make_unique<forms::win32::RegistrySettingsStore>(HKEY_CURRENT_USER, kBase);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    HeadlessTest::TearDown();
  }
  void put(const wchar_t* name, DWORD type, const void* data, std::size_t bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kBase) + L"\\Quillet\\Settings").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void put_text(const wchar_t* name, const std::wstring& text) {
    put(name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
  }
};

TEST_F(CorruptRegistry, ValuesTakeWhatTheirConversionGivesOrTheDefault) {
  for (const TextCase& c : kTextCases) {
    put_text(L"BACK_COLOR", forms::win32::widen(c.back));
    put_text(L"COLOR1", forms::win32::widen(c.color1));
    put_text(L"COLOR2", forms::win32::widen(c.color2));
    put_text(L"STRETCH_PIc", forms::win32::widen(c.stretch));
    settings::LoadSettings();
    expect_loaded(c.expected,
                  "stored " + c.back.substr(0, 20) + " / " + c.color1 + " / " + c.color2 + " / " + c.stretch);
  }
}

TEST_F(CorruptRegistry, WrongTypesUnpairedSurrogatesAndUnterminatedTextAreSurvived) {
  const DWORD number = 255;
  put(L"BACK_COLOR", REG_DWORD, &number, sizeof number);  // wrong type: as if absent
  put(L"COLOR1", REG_BINARY, "\x01\x02\x03", 3);          // wrong type, odd length
  put(L"COLOR2", REG_SZ, L"12345", 5 * sizeof(wchar_t));  // no terminating NUL
  const wchar_t multi[] =
      L"1\0"
      L"0\0";
  put(L"STRETCH_PIc", REG_MULTI_SZ, multi, sizeof multi);                          // wrong type
  put_text(L"PICTURE_PATH", std::wstring(L"C:\\a") + wchar_t(0xD800) + L"b.jpg");  // an unpaired surrogate
  settings::LoadSettings();
  expect_loaded({settings::kDefaultColor, settings::kDefaultColor, 12345, settings::kDefaultStretch}, "odd types");
  EXPECT_EQ(gPicturePath,
            "C:\\a\xEF\xBF\xBD"
            "b.jpg");  // the surrogate reads as U+FFFD
  put(L"COLOR2", REG_SZ,
      L"1\0"
      L"2",
      4 * sizeof(wchar_t));  // a NUL inside the text
  put_text(L"COLOR1", std::wstring(L"25") + wchar_t(0xDC00));
  settings::LoadSettings();
  EXPECT_EQ(gColor1, settings::kDefaultColor);
  EXPECT_EQ(gColor2, settings::kDefaultColor);
}

#endif

}  // namespace
