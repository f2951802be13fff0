// The five user settings: their process-wide values and the only code that reads or writes the store.
// Stored as text under application "Quillet", section "Settings": colours as plain decimal integers,
// the flag as "True" or "False". A stored value that does not convert takes its key's default (with a
// warning on standard error) and is left as it is in the store: reading never writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "values/result.h"

namespace settings {

inline constexpr char kAppName[] = "Quillet";
inline constexpr char kSection[] = "Settings";
inline constexpr char kKeyPicturePath[] = "PICTURE_PATH";
inline constexpr char kKeyBackColor[] = "BACK_COLOR";
inline constexpr char kKeyColor1[] = "COLOR1";
inline constexpr char kKeyColor2[] = "COLOR2";
inline constexpr char kKeyStretchPic[] = "STRETCH_PIc";
inline constexpr std::int32_t kDefaultColor = 16777215;
inline constexpr bool kDefaultStretch = true;

extern std::string gPicturePath;
extern std::int32_t gBackColor;
extern std::int32_t gColor1;
extern std::int32_t gColor2;
extern bool gStretchPic;

// The program folder's "a.gif".
std::string DefaultPicturePath();

void LoadSettings();
// Writes all five keys, in order, as one change where the store can make it one (the Linux settings file:
// all five or none); elsewhere every key is attempted and the first failure is returned.
forms::Status SaveSettings();
forms::Status SavePicturePath();

// Decimal integer text with optional surrounding blanks and sign, within the 32-bit signed range.
std::optional<std::int32_t> text_to_color(std::string_view text);
// "True" / "False" in any letter case, or a number (zero is false, any other number true).
std::optional<bool> text_to_flag(std::string_view text);
std::string color_to_text(std::int32_t color);
std::string flag_to_text(bool flag);

}  // namespace settings
