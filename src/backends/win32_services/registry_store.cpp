#include "backends/win32_services/registry_store.h"

#include "backends/win32_services/wide_text.h"

#include <vector>

namespace forms::win32 {
namespace {

struct Key {
  HKEY handle = nullptr;
  ~Key() {
    if (handle != nullptr) RegCloseKey(handle);
  }
};

}  // namespace

RegistrySettingsStore::RegistrySettingsStore(HKEY root, std::wstring base) : m_root(root), m_base(std::move(base)) {}

std::wstring RegistrySettingsStore::key_path(const std::string& app, const std::string& section) const {
  return m_base + L"\\" + widen(app) + L"\\" + widen(section);
}

Result<std::optional<std::string>> RegistrySettingsStore::read(const std::string& app, const std::string& section,
                                                               const std::string& key) {
  Key k;
  LSTATUS status = RegOpenKeyExW(m_root, key_path(app, section).c_str(), 0, KEY_QUERY_VALUE, &k.handle);
  if (status == ERROR_FILE_NOT_FOUND) return std::optional<std::string>();
  if (status != ERROR_SUCCESS) return Error{"cannot read the settings: " + error_text(static_cast<DWORD>(status))};
  const std::wstring name = widen(key);
  std::vector<wchar_t> data(256);
  for (;;) {
    DWORD type = 0;
    auto bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    status = RegQueryValueExW(k.handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (status == ERROR_MORE_DATA) {
      data.resize(bytes / sizeof(wchar_t) + 2);
      continue;
    }
    if (status == ERROR_FILE_NOT_FOUND) return std::optional<std::string>();
    if (status != ERROR_SUCCESS) return Error{"cannot read " + key + ": " + error_text(static_cast<DWORD>(status))};
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::optional<std::string>();
    std::wstring text(data.data(), bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return std::optional<std::string>(narrow(text));
  }
}

Status RegistrySettingsStore::write(const std::string& app, const std::string& section, const std::string& key,
                                    const std::string& text) {
  Key k;
  LSTATUS status = RegCreateKeyExW(m_root, key_path(app, section).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                   &k.handle, nullptr);
  if (status != ERROR_SUCCESS) return Error{"cannot save " + key + ": " + error_text(static_cast<DWORD>(status))};
  const std::wstring value = widen(text);
  status = RegSetValueExW(k.handle, widen(key).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) return Error{"cannot save " + key + ": " + error_text(static_cast<DWORD>(status))};
  return ok_status();
}

}  // namespace forms::win32
