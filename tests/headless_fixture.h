// A test that runs the program's code on a fresh headless back end: no forms, no stored settings and the
// settings values as a fresh process has them, 10:10:30.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "backends/headless/headless.h"
#include "forms/form.h"
#include "settings/settings.h"
#include "windows/saver/frmmain.h"

// A file that is not there, in a folder that is: a picture the user has deleted.
inline std::string gone_file() {
  return (std::filesystem::temp_directory_path() / "dialsaver-no-such-picture.jpg").string();
}

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::gPicturePath.clear();
    settings::gBackColor = settings::kDefaultColor;
    settings::gColor1 = settings::kDefaultColor;
    settings::gColor2 = settings::kDefaultColor;
    settings::gStretchPic = settings::kDefaultStretch;
    saver::frmmain::defer_picture_message = false;
    platform = std::make_unique<forms::headless::HeadlessPlatform>();
    platform->path = DIALSAVER_RESOURCES;  // a.gif lies there, as beside a built program
    platform->set_time(10, 10, 30);
    forms::install_platform(platform.get());
  }
  void TearDown() override {
    forms::Application::get().reset();
    forms::install_platform(nullptr);
  }

  forms::headless::MemorySettingsStore& store() { return *platform->memory_store(); }
  void stored(const std::string& key, const std::string& text) { store().values["Quillet/Settings/" + key] = text; }
  std::optional<std::string> stored(const std::string& key) {
    auto it = store().values.find("Quillet/Settings/" + key);
    if (it == store().values.end()) return std::nullopt;
    return it->second;
  }

  std::unique_ptr<forms::headless::HeadlessPlatform> platform;
};
