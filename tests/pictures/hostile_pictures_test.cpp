// Hostile picture files through the operating system's real loader: files that lie about their size,
// bombs, files cut short, things that are not files at all. Each must be refused quickly and cheaply,
// and the saver given one must take its fallback without touching any other setting. On Linux every
// file is loaded in a child process, which measures its own peak memory and cannot take the test down.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "forms/native_services.h"
#include "headless_fixture.h"
#include "startup/startup.h"
#include "windows/saver/frmmain.h"

#if defined(__linux__)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTimeLimitMs = 2000;
constexpr long kMemoryLimitKb = 64 * 1024;
// The saver's picture bound on a 1920 x 1080 screen.
constexpr forms::Size kBound{1920, 1080};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasureMemory = false;  // the sanitizer's own shadow memory and quarantine would count
#else
constexpr bool kMeasureMemory = true;
#endif

fs::path hostile_folder() { return fs::path(DIALSAVER_TEST_DATA) / "hostile"; }

std::vector<std::byte> bytes_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::byte> out(chars.size());
  std::transform(chars.begin(), chars.end(), out.begin(), [](char c) { return static_cast<std::byte>(c); });
  return out;
}

struct Outcome {
  bool loaded = false;
  forms::Size size;
  std::string reason;
  double milliseconds = 0;
  long peak_growth_kb = -1;  // -1 where it is not measured
};

#if defined(__linux__)
long status_kb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return -1;
}

// Loads in a child process that resets its peak memory first, so the growth is the load's alone.
// A child that has not answered within 20 s is killed and reported as hung.
Outcome load_measured(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return {false, {}, "pipe failed"};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = status_kb("VmRSS:");
    const auto services = forms::make_native_services();
    const auto start = Clock::now();
    auto result = services->load_picture(path, kBound);
    Outcome o;
    o.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    o.peak_growth_kb = status_kb("VmHWM:") - before;
    o.loaded = result.ok();
    if (o.loaded) o.size = result.value()->size();
    const std::string line = std::to_string(o.loaded) + " " + std::to_string(o.size.width) + " " +
                             std::to_string(o.size.height) + " " + std::to_string(o.milliseconds) + " " +
                             std::to_string(o.peak_growth_kb) + " " + (o.loaded ? "" : result.reason()) + "\n";
    const ssize_t written = write(fds[1], line.data(), line.size());
    _exit(written == static_cast<ssize_t>(line.size()) ? 0 : 1);
  }
  close(fds[1]);
  Outcome o;
  int status = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      close(fds[0]);
      o.reason = "HUNG: killed after 20 s";
      o.milliseconds = 20000;
      return o;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    o.reason = "CRASHED: " + (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status)) : "exit status");
    return o;
  }
  std::istringstream in(text);
  int loaded = 0;
  in >> loaded >> o.size.width >> o.size.height >> o.milliseconds >> o.peak_growth_kb;
  o.loaded = loaded != 0;
  std::getline(in >> std::ws, o.reason);
  return o;
}
#else
Outcome load_measured(const std::string& path) {
  const auto services = forms::make_native_services();
  const auto start = Clock::now();
  auto result = services->load_picture(path, kBound);
  Outcome o;
  o.milliseconds = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  o.loaded = result.ok();
  if (o.loaded) o.size = result.value()->size();
  if (!o.loaded) o.reason = result.reason();
  return o;
}
#endif

// The files of tests/data/hostile (made by its make_hostile.py) and those made here at run time.
class HostilePictures : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch() = fs::temp_directory_path() / ("dialsaver-hostile-" + std::to_string(
#if defined(__linux__)
                                                                        getpid()
#else
                                                                        0
#endif
                                                                            ));
    fs::remove_all(scratch());
    fs::create_directories(scratch() / "a folder.jpg");
    std::ofstream(scratch() / "empty.png", std::ios::binary);
#if defined(__linux__)
    mkfifo((scratch() / "fifo.gif").c_str(), 0600);
    // 8 GiB that take no room: a picture file past any sensible size is refused without being read.
    std::ofstream(scratch() / "sparse-8g.bmp", std::ios::binary) << "BM";
    fs::resize_file(scratch() / "sparse-8g.bmp", 8ULL << 30);
#endif
  }
  static void TearDownTestSuite() { fs::remove_all(scratch()); }
  static fs::path& scratch() {
    static fs::path path;
    return path;
  }

  static std::vector<fs::path> refused_files() {
    std::vector<fs::path> files;
    for (const char* name :
         {"png-65535x65535.png", "png-1000000x1000000.png", "jpeg-65535x65535.jpg", "jpeg-60000x60000.jpg",
          "bmp-1000000x1000000.bmp", "gif-screen-65535x65535.gif", "jpeg-progressive-600-scans.jpg",
          "gif-frame-0x0.gif", "bmp-height-minus-65535.bmp", "bmp-height-2pow31.bmp", "bmp-info-header-640mb.bmp",
          "text-named.jpg", "gif-screen-8192x8192-no-image.gif", "tiff-little-endian-2x2.tif",
          "tiff-big-endian-2x2.tif"}) {
      files.push_back(hostile_folder() / name);
    }
    files.push_back(scratch() / "a folder.jpg");
    files.push_back(scratch() / "empty.png");
    files.push_back(scratch() / "missing.jpg");
#if defined(__linux__)
    files.push_back(scratch() / "fifo.gif");
    files.push_back(scratch() / "sparse-8g.bmp");
#endif
    return files;
  }
};

TEST_F(HostilePictures, AreRefusedQuicklyWithinTheMemoryOfANormalLoad) {
  const Outcome normal = load_measured((hostile_folder() / "valid-32x24.jpg").string());
  const Outcome photo = load_measured(std::string(DIALSAVER_RESOURCES) + "/default_picture.jpg");
  std::printf("  %-34s %8.1f ms  peak +%ld KB  (normal load)\n", "default_picture.jpg", photo.milliseconds,
              photo.peak_growth_kb);
  // The yardsticks must load, or a loader that refuses everything would pass.
  ASSERT_TRUE(normal.loaded) << "valid-32x24.jpg: " << normal.reason;
  EXPECT_EQ(normal.size, (forms::Size{32, 24}));
  ASSERT_TRUE(photo.loaded) << "default_picture.jpg: " << photo.reason;
  for (const fs::path& file : refused_files()) {
    const Outcome o = load_measured(file.string());
    std::printf("  %-34s %8.1f ms  peak +%ld KB  %s\n", file.filename().string().c_str(), o.milliseconds,
                o.peak_growth_kb, o.loaded ? "LOADED" : o.reason.c_str());
    EXPECT_FALSE(o.loaded) << file << " loaded as " << o.size.width << " x " << o.size.height;
    EXPECT_EQ(o.reason.find("CRASHED"), std::string::npos) << file << ": " << o.reason;
    EXPECT_EQ(o.reason.find("HUNG"), std::string::npos) << file << ": " << o.reason;
    EXPECT_LT(o.milliseconds, kTimeLimitMs) << file;
    if (kMeasureMemory && o.peak_growth_kb >= 0) {
      EXPECT_LE(o.peak_growth_kb, std::max(normal.peak_growth_kb, photo.peak_growth_kb) + kMemoryLimitKb) << file;
    }
  }
}

// A 1 x 1 picture whose text chunk inflates to 64 MB: the text is never inflated whole, so the file is
// either refused or shows its one pixel, cheaply either way.
TEST_F(HostilePictures, ACompressedTextBombCostsNothing) {
  const Outcome normal = load_measured((hostile_folder() / "valid-32x24.png").string());
  ASSERT_TRUE(normal.loaded) << "valid-32x24.png, the yardstick: " << normal.reason;
  const Outcome o = load_measured((hostile_folder() / "png-ztxt-bomb.png").string());
  std::printf("  %-34s %8.1f ms  peak +%ld KB  %s\n", "png-ztxt-bomb.png", o.milliseconds, o.peak_growth_kb,
              o.loaded ? "LOADED (1 x 1)" : o.reason.c_str());
  if (o.loaded) {
    EXPECT_EQ(o.size, (forms::Size{1, 1}));
  }
  EXPECT_EQ(o.reason.find("CRASHED"), std::string::npos) << o.reason;
  EXPECT_LT(o.milliseconds, kTimeLimitMs);
  if (kMeasureMemory && o.peak_growth_kb >= 0) {
    EXPECT_LE(o.peak_growth_kb, kMemoryLimitKb);
  }
}

// Every prefix of a good file of each format is refused, or (when only trailing checksums or markers
// are missing) gives exactly the whole picture: never a picture with rows the file did not hold.
TEST_F(HostilePictures, FilesCutShortAreRefusedOrWhole) {
  const auto services = forms::make_native_services();
  for (const char* name :
       {"valid-32x24.png", "valid-32x24.jpg", "valid-progressive-32x24.jpg", "valid-32x24.gif", "valid-32x24.bmp"}) {
    const std::vector<std::byte> whole = bytes_of(hostile_folder() / name);
    ASSERT_FALSE(whole.empty()) << name;
    auto full = services->decode_picture(whole, kBound);
    ASSERT_TRUE(full.ok()) << name << ", whole: " << full.reason();
    ASSERT_EQ(full.value()->size(), (forms::Size{32, 24})) << name;
    int refused = 0;
    const auto start = Clock::now();
    for (std::size_t n = 0; n < whole.size(); ++n) {
      auto cut = services->decode_picture(std::span(whole.data(), n), kBound);
      if (!cut) {
        ++refused;
        continue;
      }
      ASSERT_EQ(cut.value()->size(), full.value()->size()) << name << " cut to " << n << " bytes";
      ASSERT_TRUE(
          std::equal(cut.value()->pixels().begin(), cut.value()->pixels().end(), full.value()->pixels().begin()))
          << name << " cut to " << n << " bytes gives other pixels than the whole file";
    }
    std::printf("  %-18s %zu prefixes: %d refused, %zu whole, %.0f ms in all\n", name, whole.size(), refused,
                whole.size() - static_cast<std::size_t>(refused),
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    EXPECT_GE(refused, static_cast<int>(whole.size()) - 24) << name << ": only the last bytes may be missing";
  }
}

// The saver given a hostile picture shows "Image Not Found" and stores the default picture's path; the
// other four settings stay as they were, and nothing else is written.
class HostilePictureSaver : public HeadlessTest {};

TEST_F(HostilePictureSaver, TakesItsFallbackAndChangesNoOtherSetting) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(hostile_folder())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("valid-", 0) != 0 && name != "png-ztxt-bomb.png") files.push_back(entry.path());
  }
  files.push_back(hostile_folder());  // a folder
  ASSERT_GE(files.size(), 10U);
  // The yardstick: a good picture is shown with no message and nothing stored, or a loader that refuses
  // everything would pass.
  platform->screens = {forms::Monitor{{0, 0, 64, 48}, 96}};
  platform->command = "/S";
  stored("PICTURE_PATH", (hostile_folder() / "valid-32x24.png").string());
  platform->run_guarded(startup::Main);
  ASSERT_TRUE(platform->messages.empty()) << "valid-32x24.png: " << platform->messages[0].text;
  ASSERT_NE(forms::instance<saver::frmmain>().Picture2.Picture(), nullptr);
  EXPECT_TRUE(store().writes.empty());
  for (const fs::path& file : files) {
    TearDown();
    SetUp();
    platform->screens = {forms::Monitor{{0, 0, 64, 48}, 96}};
    platform->command = "/S";
    stored("PICTURE_PATH", file.string());
    stored("BACK_COLOR", "255");
    stored("COLOR1", "65280");
    stored("COLOR2", "-1");
    stored("STRETCH_PIc", "False");
    platform->run_guarded(startup::Main);
    platform->advance_ms(3000);
    ASSERT_EQ(platform->messages.size(), 1U) << file;
    EXPECT_EQ(platform->messages[0].text, "Image Not Found") << file;
    EXPECT_EQ(store().writes, std::vector<std::string>{"PICTURE_PATH"}) << file;
    EXPECT_EQ(stored("PICTURE_PATH"), settings::DefaultPicturePath()) << file;
    EXPECT_EQ(stored("BACK_COLOR"), "255");
    EXPECT_EQ(stored("COLOR1"), "65280");
    EXPECT_EQ(stored("COLOR2"), "-1");
    EXPECT_EQ(stored("STRETCH_PIc"), "False");
    EXPECT_FALSE(platform->ended()) << file << ": the saver stays up without its picture";
  }
}

}  // namespace
