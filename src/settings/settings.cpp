#include "settings/settings.h"

#include <cstdio>

#include "forms/services.h"
#include "values/printable.h"
#include "values/text.h"

namespace settings {

std::string gPicturePath;
std::int32_t gBackColor = kDefaultColor;
std::int32_t gColor1 = kDefaultColor;
std::int32_t gColor2 = kDefaultColor;
bool gStretchPic = kDefaultStretch;

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void warn_ignored(const char* key, const std::string& text, const char* what) {
  std::fprintf(stderr, "%s: ignoring the stored %s \"%s\": %s; using the default\n",
               forms::printable(forms::App.EXEName()).c_str(), key,
               forms::printable(text.size() > 60 ? text.substr(0, 60) + "..." : std::string(text)).c_str(),
               forms::printable(what).c_str());
}

std::int32_t color_setting(const char* key, const std::string& text) {
  if (auto color = text_to_color(text)) return *color;
  warn_ignored(key, text, "not a 32-bit integer");
  return kDefaultColor;
}

bool flag_setting(const char* key, const std::string& text) {
  if (auto flag = text_to_flag(text)) return *flag;
  warn_ignored(key, text, "neither True, False nor a number");
  return kDefaultStretch;
}

}  // namespace

std::optional<std::int32_t> text_to_color(std::string_view text) {
  text = forms::trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > 2147483647LL) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<bool> text_to_flag(std::string_view text) {
  text = forms::trim(text);
  const auto equals_ignoring_case = [](std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
      if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
  };
  if (equals_ignoring_case(text, "True")) return true;
  if (equals_ignoring_case(text, "False")) return false;
  // A decimal number, with an optional sign and fraction: true unless every digit is zero.
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  bool digits = false;
  bool non_zero = false;
  bool point = false;
  for (char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (is_digit(c)) {
      digits = true;
      non_zero = non_zero || c != '0';
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  return non_zero;
}

std::string color_to_text(std::int32_t color) { return std::to_string(color); }

std::string flag_to_text(bool flag) { return flag ? "True" : "False"; }

std::string DefaultPicturePath() { return forms::App.Path() + forms::kPathSeparator + "a.gif"; }

// The five keys are read at one moment, so that another instance saving meanwhile cannot give a mixture
// of its settings and the ones before.
void LoadSettings() {
  const forms::SettingText asked[] = {
      {kKeyPicturePath, DefaultPicturePath()},         {kKeyBackColor, color_to_text(kDefaultColor)},
      {kKeyColor1, color_to_text(kDefaultColor)},      {kKeyColor2, color_to_text(kDefaultColor)},
      {kKeyStretchPic, flag_to_text(kDefaultStretch)},
  };
  const std::vector<std::string> texts = forms::GetSettingsTogether(kAppName, kSection, asked);
  gPicturePath = texts[0];
  gBackColor = color_setting(kKeyBackColor, texts[1]);
  gColor1 = color_setting(kKeyColor1, texts[2]);
  gColor2 = color_setting(kKeyColor2, texts[3]);
  gStretchPic = flag_setting(kKeyStretchPic, texts[4]);
}

forms::Status SaveSettings() {
  const forms::SettingText entries[] = {
      {kKeyPicturePath, gPicturePath},
      {kKeyBackColor, color_to_text(gBackColor)},
      {kKeyColor1, color_to_text(gColor1)},
      {kKeyColor2, color_to_text(gColor2)},
      {kKeyStretchPic, flag_to_text(gStretchPic)},
  };
  return forms::SaveSettingsTogether(kAppName, kSection, entries);
}

forms::Status SavePicturePath() { return forms::SaveSetting(kAppName, kSection, kKeyPicturePath, gPicturePath); }

}  // namespace settings
