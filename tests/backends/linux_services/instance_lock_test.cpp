// The per-user instance lock and the folder it lives in, against the environments and pre-made files
// another local user could arrange.
#include "backends/linux_services/instance_lock.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;
using forms::linux_services::InstanceLock;
using forms::linux_services::private_runtime_folder;

// Sets environment variables for one test and puts them back after it.
class Environment {
 public:
  void set(const char* name, const std::string& value) {
    remember(name);
    setenv(name, value.c_str(), 1);
  }
  void unset(const char* name) {
    remember(name);
    unsetenv(name);
  }
  ~Environment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
      const auto& [name, value] = *it;
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  void remember(const char* name) {
    const char* now = std::getenv(name);
    m_saved.emplace_back(name, now ? std::optional<std::string>(now) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("dialsaver-lock-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "tmp");
    env.set("TMPDIR", (root / "tmp").string());
    env.unset("XDG_RUNTIME_DIR");
  }
  void TearDown() override { fs::remove_all(root); }
  fs::path own_folder() const { return root / "tmp" / ("dialsaver-" + std::to_string(::geteuid())); }

  fs::path root;
  Environment env;
};

TEST_F(InstanceLockTest, ARuntimeFolderIsUsedOnlyWhenItIsTheUsersAlone) {
  fs::create_directories(root / "run");
  ::chmod((root / "run").c_str(), 0700);
  env.set("XDG_RUNTIME_DIR", (root / "run").string());
  ASSERT_TRUE(private_runtime_folder());
  EXPECT_EQ(private_runtime_folder().value(), root / "run");

  ::chmod((root / "run").c_str(), 0755);  // open to others: a folder of the program's own instead
  auto folder = private_runtime_folder();
  ASSERT_TRUE(folder) << folder.reason();
  EXPECT_EQ(folder.value(), own_folder());
  struct stat st {};
  ASSERT_EQ(::lstat(own_folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  env.set("XDG_RUNTIME_DIR", "relative");
  env.set("TMPDIR", "/no/such/folder");  // falls back to /tmp rather than aborting
  folder = private_runtime_folder();
  ASSERT_TRUE(folder) << folder.reason();
  EXPECT_EQ(folder.value().parent_path(), fs::path("/tmp"));
}

TEST_F(InstanceLockTest, ASecondHolderSeesTheFirst) {
  InstanceLock first;
  ASSERT_EQ(first.state(), InstanceLock::State::Held) << first.problem();
  InstanceLock second;
  EXPECT_EQ(second.state(), InstanceLock::State::HeldElsewhere);
}

TEST_F(InstanceLockTest, PreparedFilesAndFoldersAreReportedNotTakenForNoOtherInstance) {
  const fs::path lock = own_folder() / ("dialsaver-" + std::to_string(::geteuid()) + ".lock");
  fs::create_directories(own_folder());
  ::chmod(own_folder().c_str(), 0700);
  std::ofstream(root / "victim") << "kept";

  fs::create_symlink(root / "victim", lock);
  InstanceLock through_link;
  EXPECT_EQ(through_link.state(), InstanceLock::State::Unknown);
  EXPECT_NE(through_link.problem(), "");
  fs::remove(lock);

  fs::create_hard_link(root / "victim", lock);
  InstanceLock second_name;
  EXPECT_EQ(second_name.state(), InstanceLock::State::Unknown);
  fs::remove(lock);
  EXPECT_EQ(fs::file_size(root / "victim"), 4u);

  ::chmod(own_folder().c_str(), 0777);
  InstanceLock open_folder;
  EXPECT_EQ(open_folder.state(), InstanceLock::State::Unknown);
  EXPECT_NE(open_folder.problem().find("open to other users"), std::string::npos) << open_folder.problem();

  if (::geteuid() != 0) return;
  ::chmod(own_folder().c_str(), 0700);
  ASSERT_EQ(::chown(own_folder().c_str(), 65534, 65534), 0);  // made by someone else before the user came
  InstanceLock their_folder;
  EXPECT_EQ(their_folder.state(), InstanceLock::State::Unknown);
  EXPECT_NE(their_folder.problem().find("belongs to user 65534"), std::string::npos) << their_folder.problem();
  ASSERT_EQ(::chown(own_folder().c_str(), 0, 0), 0);
  std::ofstream(lock) << "";
  ASSERT_EQ(::chown(lock.c_str(), 65534, 65534), 0);
  InstanceLock their_file;
  EXPECT_EQ(their_file.state(), InstanceLock::State::Unknown);
}

}  // namespace
