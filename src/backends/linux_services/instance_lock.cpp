#include "backends/linux_services/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace forms::linux_services {
namespace {

// Why `folder` is not a folder of the user's own that nobody else can enter, or empty when it is one.
std::string unsafe_folder(const std::filesystem::path& folder) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return folder.string() + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return folder.string() + " is not a folder";
  if (st.st_uid != geteuid()) return folder.string() + " belongs to user " + std::to_string(st.st_uid);
  if ((st.st_mode & 077) != 0) return folder.string() + " is open to other users";
  return {};
}

// $TMPDIR when it names a folder by an absolute path, else /tmp.
std::filesystem::path temporary_folder() {
  const char* dir = std::getenv("TMPDIR");
  struct stat st {};
  if (dir != nullptr && dir[0] == '/' && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
  return "/tmp";
}

}  // namespace

Result<std::filesystem::path> private_runtime_folder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
    if (unsafe_folder(runtime).empty()) return std::filesystem::path(runtime);
  }
  const std::filesystem::path own = temporary_folder() / ("dialsaver-" + std::to_string(geteuid()));
  if (::mkdir(own.c_str(), 0700) != 0 && errno != EEXIST) {
    return Error{"cannot create " + own.string() + ": " + std::strerror(errno)};
  }
  if (std::string why = unsafe_folder(own); !why.empty()) return Error{why};
  return own;
}

InstanceLock::InstanceLock() {
  auto folder = private_runtime_folder();
  if (!folder) {
    m_problem = folder.reason();
    return;
  }
  const std::filesystem::path path = folder.value() / ("dialsaver-" + std::to_string(geteuid()) + ".lock");
  m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
  if (m_fd < 0) {
    m_problem = "cannot open " + path.string() + ": " + std::strerror(errno);
    return;
  }
  struct stat st {};
  if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
    m_problem = path.string() + " is not a plain file of the user's own with a single name";
    return;
  }
  if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
    m_state = State::Held;
  } else if (errno == EWOULDBLOCK) {
    m_state = State::HeldElsewhere;
  } else {
    m_problem = "cannot lock " + path.string() + ": " + std::strerror(errno);
  }
}

InstanceLock::~InstanceLock() {
  if (m_fd >= 0) ::close(m_fd);
}

}  // namespace forms::linux_services
