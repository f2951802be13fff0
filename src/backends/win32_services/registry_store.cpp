#include "backends/win32_services/registry_store.h"

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

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string narrow(const std::wstring& utf16) {
  if (utf16.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string error_text(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = text != nullptr ? text : L"";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : narrow(message);
}

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
