// The per-user program-settings store: text values addressed by application, section and key.
// Reading never writes. A write either stores the whole new value or leaves the old one and says why.
#pragma once

#include <optional>
#include <string>

#include "forms/result.h"

namespace forms {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored text, nullopt when the key (or its section or application) is absent, or the reason the
  // store could not be read.
  virtual Result<std::optional<std::string>> read(const std::string& app, const std::string& section,
                                                  const std::string& key) = 0;
  virtual Status write(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& text) = 0;
};

}  // namespace forms
