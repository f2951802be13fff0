// The per-user program-settings store: text values addressed by application, section and key.
// Reading never writes. A write either stores the whole new value or leaves the old one and says why.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "values/result.h"

namespace forms {

struct SettingText {
  std::string key;
  std::string text;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, nullopt when the key (or its section or application) is absent, or the reason the
  // store could not be read.
  virtual Result<std::optional<std::string>> read(const std::string& app, const std::string& section,
                                                  const std::string& key) = 0;
  virtual Status write(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& text) = 0;
  // Reads several keys of one section, in order. A store that can read them at one moment (the INI file)
  // overrides this so that a save in between cannot give some keys of the old settings and some of the
  // new; this one reads them one by one, and its result is the first failure if any.
  virtual Result<std::vector<std::optional<std::string>>> read_all(const std::string& app, const std::string& section,
                                                                   std::span<const std::string> keys) {
    std::vector<std::optional<std::string>> values;
    for (const std::string& key : keys) {
      auto value = read(app, section, key);
      if (!value) return Error{value.reason()};
      values.push_back(std::move(value).value());
    }
    return values;
  }
  // Writes several keys of one section, in order. A store that can make them one change (the INI file)
  // overrides this so that a reader or a crash sees all of them or none; this one writes them one by one,
  // attempting every key, and returns the first failure.
  virtual Status write_all(const std::string& app, const std::string& section, std::span<const SettingText> entries) {
    Status first = ok_status();
    for (const SettingText& entry : entries) {
      Status written = write(app, section, entry.key, entry.text);
      if (!written && first) first = std::move(written);
    }
    return first;
  }
};

}  // namespace forms
