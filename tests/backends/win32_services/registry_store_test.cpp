#include "backends/win32_services/registry_store.h"
#include "backends/win32_services/wide_text.h"

#include <gtest/gtest.h>

#include <string>

#include "backends/headless/headless.h"
#include "settings/settings.h"

namespace {

using forms::win32::RegistrySettingsStore;
using forms::win32::widen;

constexpr wchar_t kTestBase[] = L"Software\\dialsaver tests";

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestBase); }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kTestBase); }

  void put(const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestBase) + L"\\Quillet\\Settings").c_str(), 0, nullptr,
                              0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
  }

  RegistrySettingsStore store{HKEY_CURRENT_USER, kTestBase};
};

TEST_F(RegistryStoreTest, AnAbsentKeyReadsAsNothing) {
  auto value = store.read("Quillet", "Settings", "COLOR1");
  ASSERT_TRUE(value);
  EXPECT_FALSE(value.value());
}

TEST_F(RegistryStoreTest, WritesRegSzValuesThatReadBack) {
  const std::string path = "C:\\Users\\Zo\xC3\xAB\\Pictures\\\xE6\x97\xA5\xE6\x9C\xAC.jpg";
  ASSERT_TRUE(store.write("Quillet", "Settings", "PICTURE_PATH", path));
  ASSERT_TRUE(store.write("Quillet", "Settings", "STRETCH_PIc", "False"));
  EXPECT_EQ(store.read("Quillet", "Settings", "PICTURE_PATH").value(), path);
  EXPECT_EQ(store.read("Quillet", "Settings", "stretch_pic").value(), "False");  // names ignore case

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kTestBase) + L"\\Quillet\\Settings").c_str(), 0,
                          KEY_QUERY_VALUE, &key),
            ERROR_SUCCESS);
  DWORD type = 0;
  wchar_t data[64];
  DWORD bytes = sizeof data;
  ASSERT_EQ(RegQueryValueExW(key, L"STRETCH_PIc", nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(data), L"False");
}

TEST_F(RegistryStoreTest, OddStoredValuesReadAsTheyAreOrAsNothing) {
  const DWORD number = 255;
  put(L"COLOR1", REG_DWORD, &number, sizeof number);
  put(L"COLOR2", REG_SZ, L"", sizeof(wchar_t));
  const std::wstring big(1 << 20, L'7');
  put(L"BACK_COLOR", REG_SZ, big.c_str(), static_cast<DWORD>((big.size() + 1) * sizeof(wchar_t)));
  EXPECT_FALSE(store.read("Quillet", "Settings", "COLOR1").value());
  EXPECT_EQ(store.read("Quillet", "Settings", "COLOR2").value(), "");
  EXPECT_EQ(store.read("Quillet", "Settings", "BACK_COLOR").value()->size(), big.size());
}

TEST(RegistryStoreDefault, SettingsLiveWhereThePlatformsOwnSettingsCallsKeepThem) {
  forms::headless::HeadlessPlatform platform(nullptr);
  platform.store = std::make_unique<RegistrySettingsStore>();
  forms::install_platform(&platform);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quillet");
  settings::LoadSettings();
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quillet", 0, KEY_READ, &key),
            ERROR_SUCCESS)
      << "reading must not create the key";
  settings::gColor1 = 255;
  ASSERT_TRUE(settings::SaveSettings());
  wchar_t data[32];
  DWORD bytes = sizeof data;
  ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quillet\\Settings", L"COLOR1",
                         RRF_RT_REG_SZ, nullptr, data, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(data), L"255");
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Quillet");
  forms::install_platform(nullptr);
}

}  // namespace
