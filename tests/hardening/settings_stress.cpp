// settings_stress: drives the Linux settings file through the program's own SaveSettings, with the faults
// a user's machine can throw at it. tests/e2e/settings_crash.sh runs it.
//
//   settings_stress save ROOT a|b         one save of settings set a or b; exit status 1 and the reason
//                                         on standard error when the save fails
//   settings_stress check ROOT            prints what the file holds (a, b, none, mixed) and how many
//                                         temporary files lie beside it
//   settings_stress kill ROOT SAVES       SAVES alternating saves of a and b by processes killed with
//                                         SIGKILL at random moments; after each kill the file must hold
//                                         the set last saved or the one being saved, with at most one
//                                         temporary file beside it
//   settings_stress race ROOT SAVES       two processes save SAVES different keys each while a third
//                                         reads: no key may be lost and no read may fail
//   settings_stress load ROOT SAVES       one process saves a and b alternately SAVES times while this
//                                         one runs LoadSettings over and over: each load gives a or b
//
// ROOT is the settings root ($XDG_CONFIG_HOME): the file is ROOT/Quillet/Settings.ini.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "backends/headless/headless.h"
#include "backends/linux_services/ini_store.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;
using forms::linux_services::IniSettingsStore;

struct SettingsSet {
  const char* name;
  std::array<const char*, 5> texts;  // PICTURE_PATH, BACK_COLOR, COLOR1, COLOR2, STRETCH_PIc
};

// Two sets that differ in every key, so that any mixture of them shows.
constexpr SettingsSet kSetA{"a", {"/home/ann/Pictures/harbour.jpg", "255", "65280", "16711680", "True"}};
constexpr SettingsSet kSetB{"b",
                            {"/home/ann/Pictures/caf\xC3\xA9 \xE2\x80\x94 night.gif", "0", "-1", "12345678", "False"}};
constexpr std::array<const char*, 5> kKeys{settings::kKeyPicturePath, settings::kKeyBackColor, settings::kKeyColor1,
                                           settings::kKeyColor2, settings::kKeyStretchPic};

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: settings_stress save ROOT a|b | check ROOT | kill|race|load ROOT SAVES\n");
  std::exit(2);
}

// Runs SaveSettings with the given set through a headless back end whose store is the file under root.
forms::Status save(const fs::path& root, const SettingsSet& set) {
  forms::headless::HeadlessPlatform platform;
  platform.store = std::make_unique<IniSettingsStore>(root);
  forms::install_platform(&platform);
  settings::gPicturePath = set.texts[0];
  settings::gBackColor = *settings::text_to_color(set.texts[1]);
  settings::gColor1 = *settings::text_to_color(set.texts[2]);
  settings::gColor2 = *settings::text_to_color(set.texts[3]);
  settings::gStretchPic = *settings::text_to_flag(set.texts[4]);
  forms::Status saved = settings::SaveSettings();
  forms::install_platform(nullptr);
  return saved;
}

int temporary_files(const fs::path& root) {
  int count = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(root / "Quillet", ec)) {
    if (entry.path().extension() == ".tmp") ++count;
  }
  return count;
}

// "a", "b", "none" (no key stored), "mixed", or "unreadable: <reason>".
std::string holds(const fs::path& root) {
  IniSettingsStore store(root);
  std::array<std::optional<std::string>, 5> values;
  for (std::size_t i = 0; i < kKeys.size(); ++i) {
    auto value = store.read(settings::kAppName, settings::kSection, kKeys[i]);
    if (!value) return "unreadable: " + value.reason();
    values[i] = value.value();
  }
  for (const SettingsSet* set : {&kSetA, &kSetB}) {
    bool all = true;
    for (std::size_t i = 0; i < kKeys.size(); ++i) all = all && values[i] == std::string(set->texts[i]);
    if (all) return set->name;
  }
  for (const auto& value : values) {
    if (value) return "mixed";
  }
  return "none";
}

const SettingsSet& set_named(const std::string& name) {
  if (name == "a") return kSetA;
  if (name == "b") return kSetB;
  usage();
}

// Saves a, b, a, ... from `first`, writing one byte to `progress` after each save returns.
[[noreturn]] void save_alternately(const fs::path& root, int first, int saves, int progress) {
  for (int i = first; i < saves; ++i) {
    if (!save(root, i % 2 == 0 ? kSetA : kSetB)) _exit(3);
    if (write(progress, "+", 1) != 1) _exit(4);
  }
  _exit(0);
}

int kill_test(const fs::path& root, int saves) {
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> delay_us(0, 12000);
  int done = 0;
  int kills = 0;
  int stray_seen = 0;
  while (done < saves) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return 1;
    const pid_t child = fork();
    if (child == 0) {
      close(pipe_fds[0]);
      save_alternately(root, done, saves, pipe_fds[1]);
    }
    close(pipe_fds[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) done += static_cast<int>(n);
    close(pipe_fds[0]);
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "settings_stress: a save failed (status %d)\n", WEXITSTATUS(status));
      return 1;
    }
    if (WIFSIGNALED(status)) ++kills;
    // The last save that returned stored set (done - 1) % 2; the one cut off would store done % 2.
    const std::string now = holds(root);
    const std::string last = done == 0 ? "none" : ((done - 1) % 2 == 0 ? "a" : "b");
    const std::string next = done % 2 == 0 ? "a" : "b";
    const int stray = temporary_files(root);
    stray_seen = std::max(stray_seen, stray);
    if ((now != last && now != next) || stray > 1) {
      std::fprintf(stderr,
                   "settings_stress: after %d saves and %d kills the file holds %s (expected %s or %s), "
                   "with %d temporary files\n",
                   done, kills, now.c_str(), last.c_str(), next.c_str(), stray);
      return 1;
    }
  }
  const std::string final_state = holds(root);
  std::printf(
      "kill: %d saves by %d processes, %d killed at random; the file always held the last or the next "
      "set; at most %d temporary file; finally %s\n",
      done, kills + 1, kills, stray_seen, final_state.c_str());
  return final_state == (saves % 2 == 0 ? "b" : "a") ? 0 : 1;
}

// Writes KEY_<prefix>_<i> for i in [0, saves), one save each.
[[noreturn]] void save_keys(const fs::path& root, const std::string& prefix, int saves) {
  IniSettingsStore store(root);
  for (int i = 0; i < saves; ++i) {
    if (!store.write(settings::kAppName, settings::kSection, prefix + std::to_string(i), std::to_string(i))) _exit(3);
  }
  _exit(0);
}

int count_prefix(const std::string& text, const std::string& prefix) {
  int count = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) ++count;
  }
  return count;
}

int race_test(const fs::path& root, int saves) {
  IniSettingsStore store(root);
  if (!store.write(settings::kAppName, settings::kSection, "SENTINEL", "here")) return 1;
  const pid_t one = fork();
  if (one == 0) save_keys(root, "ONE_", saves);
  const pid_t two = fork();
  if (two == 0) save_keys(root, "TWO_", saves);

  // The reader: every read succeeds, the sentinel is always there, and no writer's count ever drops.
  int reads = 0;
  int failures = 0;
  int drops = 0;
  int seen_one = 0;
  int seen_two = 0;
  int finished = 0;
  int status_one = 0;
  int status_two = 0;
  while (finished < 2) {
    auto sentinel = store.read(settings::kAppName, settings::kSection, "SENTINEL");
    std::ifstream in(store.file_of(settings::kAppName, settings::kSection));
    std::stringstream text;
    text << in.rdbuf();
    ++reads;
    if (!sentinel || sentinel.value() != std::optional<std::string>("here")) ++failures;
    const int now_one = count_prefix(text.str(), "ONE_");
    const int now_two = count_prefix(text.str(), "TWO_");
    if (now_one < seen_one || now_two < seen_two) ++drops;
    seen_one = std::max(seen_one, now_one);
    seen_two = std::max(seen_two, now_two);
    if (one != 0 && waitpid(one, &status_one, WNOHANG) == one) ++finished;
    if (two != 0 && waitpid(two, &status_two, WNOHANG) == two) ++finished;
  }
  int lost = 0;
  for (const char* prefix : {"ONE_", "TWO_"}) {
    for (int i = 0; i < saves; ++i) {
      auto value = store.read(settings::kAppName, settings::kSection, prefix + std::to_string(i));
      if (!value || value.value() != std::optional<std::string>(std::to_string(i))) ++lost;
    }
  }
  const bool writers_ok =
      WIFEXITED(status_one) && WEXITSTATUS(status_one) == 0 && WIFEXITED(status_two) && WEXITSTATUS(status_two) == 0;
  std::printf(
      "race: 2 x %d saves of different keys, %d reads during them: %d keys lost, %d failed reads, "
      "%d reads that saw fewer keys than before%s\n",
      saves, reads, lost, failures, drops, writers_ok ? "" : "; A WRITER FAILED");
  return lost == 0 && failures == 0 && drops == 0 && writers_ok ? 0 : 1;
}

// Which set LoadSettings gave: "a", "b", or "mixed".
std::string loaded_set() {
  for (const SettingsSet* set : {&kSetA, &kSetB}) {
    if (settings::gPicturePath == set->texts[0] && settings::color_to_text(settings::gBackColor) == set->texts[1] &&
        settings::color_to_text(settings::gColor1) == set->texts[2] &&
        settings::color_to_text(settings::gColor2) == set->texts[3] &&
        settings::flag_to_text(settings::gStretchPic) == set->texts[4]) {
      return set->name;
    }
  }
  return "mixed";
}

int load_test(const fs::path& root, int saves) {
  if (!save(root, kSetA)) return 1;
  int progress[2];
  if (pipe(progress) != 0) return 1;
  const pid_t saver = fork();
  if (saver == 0) {
    close(progress[0]);
    save_alternately(root, 1, saves + 1, progress[1]);
  }
  close(progress[1]);
  forms::headless::HeadlessPlatform platform;
  platform.store = std::make_unique<IniSettingsStore>(root);
  forms::install_platform(&platform);
  int loads = 0;
  int mixed = 0;
  int status = 0;
  while (waitpid(saver, &status, WNOHANG) == 0) {
    settings::LoadSettings();
    ++loads;
    if (loaded_set() == "mixed") ++mixed;
  }
  forms::install_platform(nullptr);
  close(progress[0]);
  std::printf("load: %d saves alternating two sets while %d loads ran: %d loads gave a mixture\n", saves, loads, mixed);
  return mixed == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) usage();
  const std::string command = argv[1];
  const fs::path root = argv[2];
  if (command == "save" && argc == 4) {
    const forms::Status saved = save(root, set_named(argv[3]));
    if (!saved) {
      std::fprintf(stderr, "settings_stress: %s\n", saved.reason().c_str());
      return 1;
    }
    return 0;
  }
  if (command == "check" && argc == 3) {
    std::printf("%s %d\n", holds(root).c_str(), temporary_files(root));
    return 0;
  }
  if ((command == "kill" || command == "race" || command == "load") && argc == 4) {
    const int saves = std::atoi(argv[3]);
    if (saves <= 0) usage();
    if (command == "kill") return kill_test(root, saves);
    return command == "race" ? race_test(root, saves) : load_test(root, saves);
  }
  usage();
}
