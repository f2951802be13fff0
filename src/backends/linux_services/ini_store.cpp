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
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

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
  const std::string too_large = "cannot read " + path.string() + ": it is larger than " +
                                std::to_string(kMaxSettingsBytes / 1024) + " KiB, which no settings file is";
  if (static_cast<std::uint64_t>(st.st_size) > kMaxSettingsBytes) return Error{too_large};
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
    if (text.size() > kMaxSettingsBytes) return Error{too_large};  // a file that grows while it is read
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

// A folder a save may write in: a real folder (not a link to one) that belongs to the user the program
// runs as. Anything else, such as the user's folder when root runs the program with the user's
// environment, is refused with the reason, rather than written with the wrong owner or through a link.
Result<int> open_own_folder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      return Error{"not saving the settings in " + folder.string() + ": it is a link or not a folder"};
    }
    return Error{errno_text("open", folder, errno)};
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
    ::close(fd);
    return Error{"not saving the settings in " + folder.string() + ": it belongs to user " + std::to_string(st.st_uid) +
                 ", not to user " + std::to_string(geteuid()) + ", who runs this program"};
  }
  return fd;
}

// Creates the missing folders of `folder`, each 0700 and each only inside a folder of the user's own.
Status make_folder(const std::filesystem::path& folder) {
  std::filesystem::path built;
  for (const auto& part : folder) {
    built /= part;
    struct stat st {};
    if (::stat(built.c_str(), &st) == 0) continue;
    if (errno != ENOENT) return Error{errno_text("create", built, errno)};
    if (built.has_parent_path()) {
      auto parent = open_own_folder(built.parent_path());
      if (!parent) return Error{parent.reason()};
      ::close(parent.value());
    }
    if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) return Error{errno_text("create", built, errno)};
  }
  return ok_status();
}

// Where a save writes: the settings file itself, or the file it points to when it is a symbolic link (kept
// with the user's other dotfiles, say), so that the link survives the save. A link is followed only when
// it belongs to the user and its target's folder does too.
struct SaveTarget {
  UniqueFd folder;   // the folder of the file that is replaced
  std::string name;  // that file's name in it
  std::filesystem::path path;
};

Result<std::unique_ptr<SaveTarget>> save_target(int folder, const std::filesystem::path& file) {
  auto target = std::make_unique<SaveTarget>();
  target->name = file.filename().string();
  target->path = file;
  struct stat st {};
  if (fstatat(folder, target->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode)) {
    target->folder.fd = ::dup(folder);
    if (target->folder.fd < 0) return Error{errno_text("open", file.parent_path(), errno)};
    return target;
  }
  if (st.st_uid != geteuid()) {
    return Error{"not saving the settings through " + file.string() + ": the link belongs to user " +
                 std::to_string(st.st_uid) + ", not to user " + std::to_string(geteuid())};
  }
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(file, ec);
  if (ec) return Error{"cannot follow " + file.string() + ": " + ec.message()};
  auto opened = open_own_folder(resolved.parent_path());
  if (!opened) return Error{opened.reason()};
  target->folder.fd = opened.value();
  target->name = resolved.filename().string();
  target->path = resolved;
  return target;
}

// The lock beside the settings file: opened without following a link, and only a plain file of the
// user's own with no other name, so that nobody else's file can stand in for it.
Result<int> open_lock(int folder, const std::string& name, const std::filesystem::path& path) {
  const int fd = ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return Error{errno_text("lock", path, errno)};
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
    ::close(fd);
    return Error{"cannot lock " + path.string() + ": not a plain file of user " + std::to_string(geteuid()) +
                 " with a single name"};
  }
  return fd;
}

// Waits for the lock for at most `wait`, so that a holder that never lets go cannot hold up the program.
// flock gives no turns: another program saving again and again frees the lock only for a moment between
// its saves, so the lock is tried every 2 ms (at every 20 ms a writer saving back to back could keep us
// out for the whole wait).
Status take_lock(int fd, std::chrono::milliseconds wait, const std::filesystem::path& path) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return ok_status();
    if (errno != EWOULDBLOCK && errno != EINTR) return Error{errno_text("lock", path, errno)};
    if (std::chrono::steady_clock::now() >= deadline) {
      return Error{"cannot save the settings: another program has held " + path.string() + " for " +
                   std::to_string(wait.count()) + " ms"};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
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

IniSettingsStore::IniSettingsStore(std::filesystem::path root, std::chrono::milliseconds lock_wait)
    : m_root(std::move(root)), m_lock_wait(lock_wait) {}

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
  auto opened = open_own_folder(file.parent_path());
  if (!opened) return Error{opened.reason()};
  const UniqueFd folder{opened.value()};

  const std::filesystem::path lock_path = file.string() + ".lock";
  auto locked = open_lock(folder.fd, lock_path.filename().string(), lock_path);
  if (!locked) return Error{locked.reason()};
  const UniqueFd lock{locked.value()};
  if (Status taken = take_lock(lock.fd, m_lock_wait, lock_path); !taken) return taken;

  auto current = read_file(file);
  if (!current) return Error{current.reason()};
  IniDocument doc = IniDocument::parse(current.value().value_or(std::string()));
  for (const SettingText& entry : entries) doc.set(section, entry.key, entry.text);

  auto found = save_target(folder.fd, file);
  if (!found) return Error{found.reason()};
  const SaveTarget& target = *found.value();
  const std::string temp_name = target.name + ".tmp";
  const std::filesystem::path temp = target.path.string() + ".tmp";
  // What an interrupted save left at the temporary name goes first, whatever it is (a link must not
  // redirect the write, a FIFO must not block it), and the temporary file is made afresh.
  ::unlinkat(target.folder.fd, temp_name.c_str(), 0);
  UniqueFd out{
      ::openat(target.folder.fd, temp_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
  if (out.fd < 0) return Error{errno_text("write", temp, errno)};
  Status written = write_fully(out.fd, doc.text(), temp);
  if (written && ::fsync(out.fd) != 0) written = Error{errno_text("write", temp, errno)};
  if (written && ::renameat(target.folder.fd, temp_name.c_str(), target.folder.fd, target.name.c_str()) != 0) {
    written = Error{errno_text("replace", target.path, errno)};
  }
  if (!written) {
    ::unlinkat(target.folder.fd, temp_name.c_str(), 0);
    return written;
  }
  ::fsync(target.folder.fd);
  return ok_status();
}

}  // namespace forms::linux_services
