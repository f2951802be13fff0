// The settings store on Windows: REG_SZ values under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>, the place the platform's own
// per-user settings calls use, so settings stored there by earlier programs carry over. Text is UTF-8
// inside the program and UTF-16 in the registry. A value of another type reads as absent.
#pragma once

#include <windows.h>

#include <string>

#include "forms/settings_store.h"

namespace forms::win32 {

class RegistrySettingsStore final : public SettingsStore {
 public:
  explicit RegistrySettingsStore(HKEY root = HKEY_CURRENT_USER,
                                 std::wstring base = L"Software\\VB and VBA Program Settings");
  Result<std::optional<std::string>> read(const std::string& app, const std::string& section,
                                          const std::string& key) override;
  Status write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& text) override;

 private:
  std::wstring key_path(const std::string& app, const std::string& section) const;
  HKEY m_root;
  std::wstring m_base;
};

}  // namespace forms::win32
