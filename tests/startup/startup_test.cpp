#include "startup/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "headless_fixture.h"
#include "windows/preview/frmprev.h"
#include "windows/saver/frmmain.h"
#include "windows/settings_dialog/frmSetting.h"

namespace {

using forms::headless::HeadlessPlatform;

class StartupTest : public HeadlessTest {
 protected:
  // Runs Main on a fresh back end with this command line.
  void run_main(const std::string& command) {
    TearDown();
    SetUp();
    platform->command = command;
    settings::gPicturePath.clear();
    platform->run_guarded(startup::Main);
  }
  std::vector<std::string> log_with(const std::string& prefix) const {
    std::vector<std::string> out;
    std::copy_if(platform->log.begin(), platform->log.end(), std::back_inserter(out),
                 [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
    return out;
  }
  std::vector<std::string> created() const { return log_with("create "); }
};

TEST_F(StartupTest, CommandLinesSelectTheirMode) {
  struct Case {
    const char* line;
    std::vector<std::string> windows;
  };
  const std::vector<std::string> saver{"create frmmain"};
  const std::vector<std::string> configuration{"create frmmain", "create frmSetting"};
  const std::vector<std::string> none;
  const Case cases[] = {
      {"", saver},
      {"/S", saver},
      {"  /s  ", saver},
      {"/s:1", saver},
      {"/c", configuration},
      {"/c:1234", configuration},
      {" /C 99", configuration},
      {"/A", none},
      {"-S", none},
      {"S", none},
      {"/", none},
      {"--help", none},
      {"s/", none},
  };
  for (const Case& c : cases) {
    run_main(c.line);
    EXPECT_EQ(created(), c.windows) << "command line \"" << c.line << "\"";
    EXPECT_FALSE(settings::gPicturePath.empty()) << "the settings are read for \"" << c.line << "\"";
  }
}

// Sets an environment variable for the life of this object, then removes it again.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : m_name(name) { set(value); }
  ~ScopedEnvironment() { set(nullptr); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void set(const char* value) {
#ifdef _WIN32
    _putenv_s(m_name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
      setenv(m_name, value, 1);
    } else {
      unsetenv(m_name);
    }
#endif
  }
  const char* m_name;
};

TEST_F(StartupTest, UnderXScreenSaverItsRootOptionRunsTheSaver) {
  using startup::Host;
  using startup::Mode;
  struct Case {
    const char* line;
    Mode plain;
    Mode hack;
  };
  const Case cases[] = {
      {"-ROOT", Mode::None, Mode::Saver},
      {"--ROOT", Mode::None, Mode::Saver},
      {"-ROOT -FPS", Mode::None, Mode::Saver},
      {"-ROOTS", Mode::None, Mode::None},
      {"-R", Mode::None, Mode::None},
      {"ROOT", Mode::None, Mode::None},
      {"/S", Mode::Saver, Mode::Saver},
      {"", Mode::Saver, Mode::Saver},
      {"/C", Mode::Configuration, Mode::Configuration},
      {"/P 12", Mode::Preview, Mode::Preview},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(startup::mode_of(c.line, Host::Plain), c.plain) << "command line \"" << c.line << "\"";
    EXPECT_EQ(startup::mode_of(c.line, Host::XScreenSaver), c.hack) << "hack's command line \"" << c.line << "\"";
  }

  // Main reads the host from the environment.
  run_main("-root");
  EXPECT_TRUE(created().empty()) << "-root without XSCREENSAVER_WINDOW";
  {
    const ScopedEnvironment hack_window("XSCREENSAVER_WINDOW", "0x200007");
    run_main("-root");
  }
  EXPECT_EQ(created(), std::vector<std::string>{"create frmmain"}) << "-root with XSCREENSAVER_WINDOW";
}

TEST_F(StartupTest, PreviewTakesTheTrailingDigitsAsTheHostWindow) {
  struct Case {
    const char* line;
    std::int32_t parent;
  };
  const Case cases[] = {{"/p 1234", 1234}, {"/P:1234", 1234}, {"/P1234", 1234}, {"/P 12X34", 34}, {" /p  77 ", 77}};
  for (const Case& c : cases) {
    run_main(c.line);
    EXPECT_EQ(startup::gPreviewParent, c.parent) << "command line \"" << c.line << "\"";
    ASSERT_EQ(created().front(), "create frmprev") << c.line;
  }
}

TEST_F(StartupTest, ParseWindowHandleReadsOnlyTheTrailingDigits) {
  EXPECT_EQ(startup::ParseWindowHandle("/P 1234"), 1234);
  EXPECT_EQ(startup::ParseWindowHandle("/P 12X34"), 34);
  EXPECT_EQ(startup::ParseWindowHandle(" /P:2147483647 "), 2147483647);
  EXPECT_EQ(startup::ParseWindowHandle("/P 0"), 0);
  EXPECT_EQ(startup::ParseWindowHandle("/P"), std::nullopt);
  EXPECT_EQ(startup::ParseWindowHandle("/P 12X"), std::nullopt);
  EXPECT_EQ(startup::ParseWindowHandle("/P 2147483648"), std::nullopt);
  EXPECT_EQ(startup::ParseWindowHandle("/P 99999999999999999999999"), std::nullopt);
}

TEST_F(StartupTest, APreviewWithoutAUsableHandleExitsWithAnErrorBeforeAnyWindow) {
  for (const char* line : {"/P", "/p:", "/P 2147483648", "/P abc"}) {
    run_main(line);
    EXPECT_TRUE(platform->ended()) << line;
    EXPECT_EQ(platform->exit_status(), 2) << line;
    EXPECT_TRUE(created().empty()) << line;
  }
}

TEST_F(StartupTest, ShowPreviewTakesItsStepsInOrder) {
  TearDown();
  SetUp();
  const forms::WindowHandle host = platform->add_foreign_window("Display settings", {152, 112});
  platform->command = "/p " + std::to_string(host);
  platform->run_guarded(startup::Main);

  auto& preview = forms::instance<preview::frmprev>();
  const std::string p = std::to_string(preview.hWnd());
  const std::string h = std::to_string(host);
  std::vector<std::string> steps;
  for (const std::string& line : platform->log) {
    if (line.rfind("create", 0) == 0 || line.find("Window") != std::string::npos || line.rfind("SetParent", 0) == 0 ||
        line.rfind("GetClientRect", 0) == 0) {
      steps.push_back(line);
    }
  }
  const std::int32_t style = static_cast<std::int32_t>(0x80000000u) | 0x40000000;
  const std::vector<std::string> expected{
      "GetClientRect " + h,
      "create frmprev",
      "create frmmain",
      "WindowState frmmain 2",
      "SetWindowPos " + std::to_string(forms::instance<saver::frmmain>().hWnd()) + " -1 0 0 0 0 3",
      "WindowState frmmain 0",
      "GetWindowLongA " + p + " -16",
      "SetWindowLongA " + p + " -16 " + std::to_string(style),
      "SetParent " + p + " " + h,
      "SetWindowLongA " + p + " -8 " + h,
      "SetWindowPos " + p + " 0 0 0 152 112 84",
  };
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(preview.Caption(), "Preview");
  const auto* window = platform->window_of(preview);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->parent, host);
  EXPECT_TRUE(window->visible);
  EXPECT_EQ(window->rect, (forms::Rect{0, 0, 152, 112}));
  EXPECT_EQ(window->title, "Preview");
}

TEST_F(StartupTest, TheGuardEndsASaverStartOnlyWhenBothConditionsHold) {
  struct Case {
    bool prev_instance;
    bool window_exists;
    bool ends;
  };
  for (const Case c :
       {Case{false, false, false}, Case{false, true, false}, Case{true, false, false}, Case{true, true, true}}) {
    TearDown();
    SetUp();
    platform->prev_instance = c.prev_instance;
    if (c.window_exists) platform->add_foreign_window(platform->exe_name, {100, 100});
    platform->command = "/S";
    platform->run_guarded(startup::Main);
    EXPECT_EQ(platform->ended(), c.ends) << c.prev_instance << c.window_exists;
    EXPECT_EQ(created().empty(), c.ends) << c.prev_instance << c.window_exists;
  }
}

TEST_F(StartupTest, TheGuardLooksOnlyForTheShownSaverWindow) {
  // A running settings dialog or preview holds a hidden saver window; it must not refuse a saver start.
  run_main("/C");
  EXPECT_EQ(platform->find_window(platform->exe_name), 0u);
  run_main("/S");
  EXPECT_NE(platform->find_window(platform->exe_name), 0u);
}

TEST_F(StartupTest, ConfigurationStopsTheHiddenSaverTimer) {
  run_main("/C");
  EXPECT_EQ(log_with("show ").size(), 1u);
  EXPECT_EQ(log_with("show ").front(), "show frmSetting");
  EXPECT_EQ(log_with("hide ").front(), "hide frmmain");
  EXPECT_EQ(forms::instance<saver::frmmain>().Timer1.Interval(), 0);
  EXPECT_EQ(platform->running_timers(), 0);
}

TEST_F(StartupTest, TheSaverCoversEveryMonitorAndAnyOfThemEndsIt) {
  TearDown();
  SetUp();
  platform->screens = {forms::Monitor{{0, 0, 1920, 1080}, 96}, forms::Monitor{{1920, 0, 1920 + 1280, 1024}, 120}};
  platform->command = "/S";
  platform->run_guarded(startup::Main);
  const auto forms_now = forms::Application::get().forms();
  ASSERT_EQ(forms_now.size(), 2u);
  for (forms::Form* form : forms_now) {
    const auto* window = platform->window_of(*form);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->rect, form->monitor().bounds);
    EXPECT_TRUE(window->visible);
    auto& saver_window = dynamic_cast<saver::frmmain&>(*form);
    EXPECT_EQ(saver_window.Picture1.pixel_size(), (forms::Size{window->rect.width(), window->rect.height()}));
  }
  // The second monitor's clock is sized to it: 1280 x 1024 pixels at 12 twips per pixel.
  auto& second = dynamic_cast<saver::frmmain&>(*forms_now[1]);
  EXPECT_FLOAT_EQ(second.Picture1.ScaleWidth(), 1280 * 12);
  EXPECT_FLOAT_EQ(second.mRadius, 1024 * 12 / 2 - 900);
  platform->key_press(second, 'x');
  EXPECT_TRUE(platform->ended());
}

// With a picture that does not load, every monitor's clock is on screen before "Image Not Found" comes
// up, once, owned by the primary monitor's window.
TEST_F(StartupTest, TheSaverReportsAMissingPictureOnceOverItsShownWindows) {
  TearDown();
  SetUp();
  stored("PICTURE_PATH", std::string(DIALSAVER_TEST_DATA) + "/gone.jpg");  // gone from a folder that is there
  platform->screens = {forms::Monitor{{0, 0, 1920, 1080}, 96}, forms::Monitor{{1920, 0, 1920 + 1280, 1024}, 120}};
  platform->command = "/S";
  std::vector<bool> shown_under_the_box;
  forms::WindowHandle primary_handle = 0;
  platform->during_message_box = [&](const forms::headless::MessageRecord&) {
    for (forms::Form* form : forms::Application::get().forms()) {
      const auto* window = platform->window_of(*form);
      shown_under_the_box.push_back(window != nullptr && window->visible);
    }
    primary_handle = platform->window_of(forms::instance<saver::frmmain>())->handle;
  };
  platform->run_guarded(startup::Main);
  ASSERT_EQ(platform->messages.size(), 1u);
  EXPECT_EQ(platform->messages[0].text, "Image Not Found");
  EXPECT_EQ(platform->messages[0].owner_handle, primary_handle);
  EXPECT_EQ(shown_under_the_box, (std::vector<bool>{true, true}));
  EXPECT_EQ(stored("PICTURE_PATH"), settings::DefaultPicturePath());
  EXPECT_FALSE(platform->ended());
}

}  // namespace
