// stall_fs MOUNTPOINT: a FUSE file system that holds one file, "picture.gif" (0644, 4096 bytes), whose
// reads never answer: a stalled network share or a dying USB stick, as a program reading it sees it.
// Listing, looking up and opening answer at once. It runs in the foreground until it is killed (SIGKILL:
// its loop would wait for the reads it never answers); the blocked readers then get an error, and the
// mount point is freed (`umount -l MOUNTPOINT` when it is not).
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr const char* kFile = "/picture.gif";

int get_attributes(const char* path, struct stat* st, fuse_file_info* /*file*/) {
  std::memset(st, 0, sizeof *st);
  st->st_uid = getuid();
  st->st_gid = getgid();
  if (std::strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (std::strcmp(path, kFile) != 0) return -ENOENT;
  st->st_mode = S_IFREG | 0644;
  st->st_nlink = 1;
  st->st_size = 4096;
  return 0;
}

int read_folder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t /*offset*/, fuse_file_info* /*file*/,
                fuse_readdir_flags /*flags*/) {
  if (std::strcmp(path, "/") != 0) return -ENOENT;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, kFile + 1, nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  return 0;
}

int open_file(const char* path, fuse_file_info* file) {
  if (std::strcmp(path, kFile) != 0) return -ENOENT;
  file->direct_io = 1;  // every read reaches this process, none is answered from the page cache
  return 0;
}

// Never answers: the reader waits until this process ends.
int read_file(const char* /*path*/, char* /*buffer*/, size_t /*size*/, off_t /*offset*/, fuse_file_info* /*file*/) {
  for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    static const char usage[] = "usage: stall_fs MOUNTPOINT\n";
    (void)!write(STDERR_FILENO, usage, sizeof usage - 1);
    return 2;
  }
  fuse_operations operations{};
  operations.getattr = get_attributes;
  operations.readdir = read_folder;
  operations.open = open_file;
  operations.read = read_file;
  char* fuse_argv[] = {
      argv[0], const_cast<char*>("-f"), const_cast<char*>("-o"), const_cast<char*>("default_permissions"), argv[1],
      nullptr};
  return fuse_main(5, fuse_argv, &operations, nullptr);
}
