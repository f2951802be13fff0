// Text from settings, file names and the command line made safe for a terminal or a log: each control
// character (below 0x20, and 0x7F) becomes \xNN, so that nothing written to standard error can move the
// cursor, clear the screen or forge a line of its own. Other bytes, UTF-8 included, pass unchanged.
#pragma once

#include <string>
#include <string_view>

namespace forms {

inline std::string printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) {
      out += c;
      continue;
    }
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  }
  return out;
}

}  // namespace forms
