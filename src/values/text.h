// Plain text helpers.
#pragma once

#include <string_view>

namespace forms {

// Spaces and tabs: the blanks around a value in a settings file or a command line.
inline constexpr std::string_view kBlanks = " \t";

// `text` without the leading and trailing characters that are in `blanks`.
constexpr std::string_view trim(std::string_view text, std::string_view blanks = kBlanks) {
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace forms
