// The settings store on Linux: one INI file per application and section,
// <config>/<app>/<section>.ini ($XDG_CONFIG_HOME, or ~/.config), holding "[section]" and KEY=value lines.
//
// Reading takes no lock and never writes: a save replaces the whole file by rename, so a reader sees the
// old file or the new one. A save re-reads the file under an exclusive flock on "<file>.lock", changes
// one line, writes "<file>.tmp" (flushed to disk), and renames it over the file: a crash leaves the old
// file or the new one and at most that one temporary file, which the next save replaces; two processes
// saving at once never lose each other's keys. A save writes only in folders of the user the program
// runs as, never through a link it does not own, and waits for the lock for a bounded time. Lines the parser does not
// understand are kept as they stand, line ends included. Keys match without regard to ASCII case, as registry value
// names do.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "forms/settings_store.h"

namespace forms::linux_services {

// The parsed form of a settings file, keeping every line it does not change.
class IniDocument {
 public:
  static IniDocument parse(const std::string& text);
  std::optional<std::string> get(const std::string& section, const std::string& key) const;
  void set(const std::string& section, const std::string& key, const std::string& value);
  std::string text() const;
  // Section and key names match without regard to ASCII case, as registry value names do.
  static bool same_name(const std::string& a, const std::string& b);

 private:
  std::vector<std::string> m_lines;  // without their '\n'; a CRLF file's lines keep their '\r'
  bool m_crlf = false;
  bool m_bom = false;  // the file starts with a UTF-8 byte-order mark
};

// No settings file is larger: a larger one is refused before it is read.
constexpr std::uint64_t kMaxSettingsBytes = 64 * 1024;
// How long a save waits for the lock that another program's save holds.
constexpr std::chrono::milliseconds kLockWait{3000};

class IniSettingsStore final : public SettingsStore {
 public:
  // Files live in <root>/<app>/<section>.ini. A save waits at most `lock_wait` for another's save.
  explicit IniSettingsStore(std::filesystem::path root, std::chrono::milliseconds lock_wait = kLockWait);
  // $XDG_CONFIG_HOME when set to an absolute path, else $HOME/.config.
  static std::filesystem::path default_root();

  Result<std::optional<std::string>> read(const std::string& app, const std::string& section,
                                          const std::string& key) override;
  // All the keys from one reading of the file.
  Result<std::vector<std::optional<std::string>>> read_all(const std::string& app, const std::string& section,
                                                           std::span<const std::string> keys) override;
  Status write(const std::string& app, const std::string& section, const std::string& key,
               const std::string& text) override;
  // All the keys in one locked read-modify-write and one rename: all of them are stored or none.
  Status write_all(const std::string& app, const std::string& section, std::span<const SettingText> entries) override;

  std::filesystem::path file_of(const std::string& app, const std::string& section) const;

 private:
  std::filesystem::path m_root;
  std::chrono::milliseconds m_lock_wait;
};

}  // namespace forms::linux_services
