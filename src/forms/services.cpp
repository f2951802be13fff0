#include "forms/services.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "forms/form.h"
#include "values/printable.h"

namespace forms {
namespace {

// The form a message box belongs to: the last visible default instance, else the last visible further
// instance. The saver's box so belongs to the primary monitor's window, not to another monitor's.
Form* visible_form() {
  Form* found = nullptr;
  Form* further = nullptr;
  const std::vector<Form*> all = Application::get().forms();
  const std::size_t defaults = Application::get().default_count();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (!all[i]->loaded() || !all[i]->Visible()) continue;
    (i < defaults ? found : further) = all[i];
  }
  return found != nullptr ? found : further;
}

// A picture is decoded no larger than the largest monitor.
Size picture_bound() {
  Size bound;
  for (const Monitor& m : platform().monitors()) {
    bound.width = std::max(bound.width, m.bounds.width());
    bound.height = std::max(bound.height, m.bounds.height());
  }
  return bound;
}

}  // namespace

std::string AppObject::Path() const { return platform().app_path(); }
std::string AppObject::EXEName() const { return platform().app_exe_name(); }
bool AppObject::PrevInstance() const { return platform().app_prev_instance(); }

std::string Command() { return platform().command_line(); }

int MsgBox(const std::string& prompt, int buttons, const std::string& title) {
  return platform().message_box(visible_form(), prompt, buttons, title.empty() ? App.EXEName() : title);
}

std::string GetSetting(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& default_text) {
  auto stored = platform().settings().read(app, section, key);
  if (!stored) {
    std::fprintf(stderr, "%s: cannot read setting %s: %s\n", forms::printable(App.EXEName()).c_str(),
                 forms::printable(key).c_str(), forms::printable(stored.reason()).c_str());
    return default_text;
  }
  return stored.value().value_or(default_text);
}

std::vector<std::string> GetSettingsTogether(const std::string& app, const std::string& section,
                                             std::span<const SettingText> keys_and_defaults) {
  std::vector<std::string> keys;
  for (const SettingText& asked : keys_and_defaults) keys.push_back(asked.key);
  auto stored = platform().settings().read_all(app, section, keys);
  std::vector<std::string> texts;
  if (!stored || stored.value().size() != keys.size()) {
    // Whatever can be read is read key by key; each key that cannot takes its default, with a message.
    for (const SettingText& asked : keys_and_defaults) texts.push_back(GetSetting(app, section, asked.key, asked.text));
    return texts;
  }
  for (std::size_t i = 0; i < keys.size(); ++i) texts.push_back(stored.value()[i].value_or(keys_and_defaults[i].text));
  return texts;
}

Status SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& text) {
  return platform().settings().write(app, section, key, text);
}

Status SaveSettingsTogether(const std::string& app, const std::string& section, std::span<const SettingText> entries) {
  return platform().settings().write_all(app, section, entries);
}

Result<PictureRef> LoadPicture(const std::string& path) { return platform().load_picture(path, picture_bound()); }

void start_loading_picture(const std::string& path) { platform().services().start_loading(path); }

void prepare_monitor_frame(int monitor) {
  const std::vector<Monitor> monitors = platform().monitors();
  if (monitor < 0 || monitor >= static_cast<int>(monitors.size())) return;
  const Rect& bounds = monitors[static_cast<std::size_t>(monitor)].bounds;
  platform().services().prepare({bounds.width(), bounds.height()});
}

TimeOfDay Time() { return platform().time_of_day(); }

// A back end's end_program never returns; the abort only tells the compiler so.
void End() {
  platform().end_program(0);
  std::abort();
}

void fail_start(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", forms::printable(App.EXEName()).c_str(), forms::printable(message).c_str());
  std::fflush(stderr);
  platform().end_program(2);
  std::abort();
}

}  // namespace forms
