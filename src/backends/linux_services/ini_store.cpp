#include "backends/linux_services/ini_store.h"
#include "backends/linux_services/unique_fd.h"
#include "values/text.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace forms::linux_services {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A line without the carriage return that ends it in a file written with CRLF line ends.
std::string body(const std::string& line) {
  return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// "[name]" gives name; anything else nullopt.
std::optional<std::string> section_of(const std::string& line) {
  const std::string t(trim(body(line)));
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return std::nullopt;
  return std::string(trim(std::string_view(t).substr(1, t.size() - 2)));
}

// "KEY=value" gives KEY; comments, blank and unparsable lines nullopt.
std::optional<std::string> key_of(const std::string& line) {
  const std::string t(trim(body(line)));
  if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  std::string key(trim(std::string_view(line).substr(0, eq)));
  if (key.empty()) return std::nullopt;
  return key;
}

bool blank(const std::string& line) { return trim(body(line)).empty(); }

// An application, section or key name the file can hold and give back: one line of printable text
// without surrounding blanks, that makes no path of its own and, for a key, no comment or section.
bool storable_name(const std::string& name, const char* forbidden) {
  if (name.empty() || name != trim(name) || name == "." || name == "..") return false;
  return std::ranges::none_of(name, [forbidden](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '/' || std::strchr(forbidden, c) != nullptr;
  });
}

std::string errno_text(const std::string& what, const std::filesystem::path& path, int error) {
  return "cannot " + what + " " + path.string() + ": " + std::strerror(error);
}

// The whole content of a file; nullopt with errno ENOENT when absent.
Result<std::optional<std::string>> read_file(const std::filesystem::path& path) {
  UniqueFd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (f.fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::optional<std::string>();
    return Error{errno_text("read", path, errno)};
  }
  struct stat st {};
  if (fstat(f.fd, &st) != 0) return Error{errno_text("read", path, errno)};
  if (!S_ISREG(st.st_mode)) return Error{"cannot read " + path.string() + ": not a regular file"};
  std::string text;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(f.fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error{errno_text("read", path, errno)};
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return std::optional<std::string>(std::move(text));
}

Status write_fully(int fd, const std::string& text, const std::filesystem::path& path) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error{errno_text("write", path, errno)};
    }
    done += static_cast<std::size_t>(n);
  }
  return ok_status();
}

// The file a save replaces: the settings file itself, or where it points when it is a symbolic link (kept
// with the user's other dotfiles, say), so that the link survives the save.
std::filesystem::path replaced_file(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(file, ec)) return file;
  std::filesystem::path target = std::filesystem::weakly_canonical(file, ec);
  return ec ? file : target;
}

Status make_folder(const std::filesystem::path& folder) {
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return Error{"cannot create " + folder.string() + ": " + ec.message()};
  return ok_status();
}

}  // namespace

// ---- IniDocument ----

bool IniDocument::same_name(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

IniDocument IniDocument::parse(const std::string& text) {
  IniDocument doc;
  // A byte-order mark, as some editors write, belongs to the file rather than to its first line.
  doc.m_bom = text.starts_with(kByteOrderMark);
  std::size_t start = doc.m_bom ? kByteOrderMark.size() : 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    doc.m_lines.push_back(text.substr(start, end - start));  // as it stands, CR and all
    start = end + 1;
  }
  doc.m_crlf = !doc.m_lines.empty() && !doc.m_lines.front().empty() && doc.m_lines.front().back() == '\r';
  return doc;
}

std::optional<std::string> IniDocument::get(const std::string& section, const std::string& key) const {
  bool in_section = false;
  for (const std::string& line : m_lines) {
    if (auto name = section_of(line)) {
      in_section = same_name(*name, section);
      continue;
    }
    if (!in_section) continue;
    if (auto k = key_of(line); k && same_name(*k, key)) return body(line).substr(line.find('=') + 1);
  }
  return std::nullopt;
}

void IniDocument::set(const std::string& section, const std::string& key, const std::string& value) {
  const std::string eol = m_crlf ? "\r" : "";  // new lines end as the file's first line does
  const std::string entry = key + "=" + value + eol;
  bool in_section = false;
  std::optional<std::size_t> section_end;  // index after the last line of the wanted section
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    if (auto name = section_of(m_lines[i])) {
      in_section = same_name(*name, section);
      if (in_section) section_end = i + 1;
      continue;
    }
    if (!in_section) continue;
    if (auto k = key_of(m_lines[i]); k && same_name(*k, key)) {
      m_lines[i] = entry;
      return;
    }
    if (!blank(m_lines[i])) section_end = i + 1;
  }
  if (section_end) {
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(*section_end), entry);
    return;
  }
  if (!m_lines.empty() && !blank(m_lines.back())) m_lines.push_back(eol);
  m_lines.push_back("[" + section + "]" + eol);
  m_lines.push_back(entry);
}

std::string IniDocument::text() const {
  std::string out(m_bom ? kByteOrderMark : std::string_view());
  for (const std::string& line : m_lines) out += line + "\n";
  return out;
}

// ---- IniSettingsStore ----

IniSettingsStore::IniSettingsStore(std::filesystem::path root) : m_root(std::move(root)) {}

std::filesystem::path IniSettingsStore::default_root() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr) home = pw->pw_dir;
  }
  return std::filesystem::path(home != nullptr ? home : "/") / ".config";
}

std::filesystem::path IniSettingsStore::file_of(const std::string& app, const std::string& section) const {
  return m_root / app / (section + ".ini");
}

Result<std::optional<std::string>> IniSettingsStore::read(const std::string& app, const std::string& section,
                                                          const std::string& key) {
  auto values = read_all(app, section, std::span(&key, 1));
  if (!values) return Error{values.reason()};
  return values.value().front();
}

Result<std::vector<std::optional<std::string>>> IniSettingsStore::read_all(const std::string& app,
                                                                           const std::string& section,
                                                                           std::span<const std::string> keys) {
  auto text = read_file(file_of(app, section));
  if (!text) return Error{text.reason()};
  std::vector<std::optional<std::string>> values(keys.size());
  if (!text.value()) return values;
  const IniDocument doc = IniDocument::parse(*text.value());
  for (std::size_t i = 0; i < keys.size(); ++i) values[i] = doc.get(section, keys[i]);
  return values;
}

Status IniSettingsStore::write(const std::string& app, const std::string& section, const std::string& key,
                               const std::string& text) {
  const SettingText entry[] = {{key, text}};
  return write_all(app, section, entry);
}

Status IniSettingsStore::write_all(const std::string& app, const std::string& section,
                                   std::span<const SettingText> entries) {
  for (const SettingText& entry : entries) {
    if (entry.text.find_first_of("\r\n") != std::string::npos) {
      return Error{"cannot store " + entry.key + ": a settings value must be one line"};
    }
    if (!storable_name(app, "") || !storable_name(section, "[]") || !storable_name(entry.key, "=[];#")) {
      return Error{"cannot store " + entry.key + ": not a name the settings file can hold"};
    }
  }
  const std::filesystem::path file = file_of(app, section);
  if (Status made = make_folder(file.parent_path()); !made) return made;

  const std::filesystem::path lock_path = file.string() + ".lock";
  UniqueFd lock{::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
  if (lock.fd < 0) return Error{errno_text("lock", lock_path, errno)};
  while (flock(lock.fd, LOCK_EX) != 0) {
    if (errno != EINTR) return Error{errno_text("lock", lock_path, errno)};
  }

  auto current = read_file(file);
  if (!current) return Error{current.reason()};
  IniDocument doc = IniDocument::parse(current.value().value_or(std::string()));
  for (const SettingText& entry : entries) doc.set(section, entry.key, entry.text);

  const std::filesystem::path target = replaced_file(file);
  const std::filesystem::path temp = target.string() + ".tmp";
  // What an interrupted save left at the temporary name goes first, whatever it is (a link must not
  // redirect the write, a FIFO must not block it), and the temporary file is made afresh.
  ::unlink(temp.c_str());
  UniqueFd out{::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
  if (out.fd < 0) return Error{errno_text("write", temp, errno)};
  Status written = write_fully(out.fd, doc.text(), temp);
  if (written && ::fsync(out.fd) != 0) written = Error{errno_text("write", temp, errno)};
  if (written && ::rename(temp.c_str(), target.c_str()) != 0) written = Error{errno_text("replace", target, errno)};
  if (!written) {
    ::unlink(temp.c_str());
    return written;
  }
  UniqueFd folder{::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (folder.fd >= 0) ::fsync(folder.fd);
  return ok_status();
}

}  // namespace forms::linux_services
