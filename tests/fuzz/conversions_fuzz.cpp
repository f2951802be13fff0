// The stored-text conversions: any text converts or is refused without undefined behaviour; a colour's
// text reads back as the same colour, a flag's as the same flag; text that reads as an integer colour
// reads as a flag that is false exactly when the integer is zero.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "settings/settings.h"

namespace {

void check(bool ok, const char* what, std::string_view text) {
  if (ok) return;
  std::fprintf(stderr, "conversions: %s for \"%.*s\"\n", what, static_cast<int>(text.size()), text.data());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto color = settings::text_to_color(text);
  const auto flag = settings::text_to_flag(text);
  if (color) {
    check(settings::text_to_color(settings::color_to_text(*color)) == color, "a colour's own text differs", text);
    check(flag.has_value() && *flag == (*color != 0), "an integer reads as another flag", text);
  }
  if (flag) check(settings::text_to_flag(settings::flag_to_text(*flag)) == flag, "a flag's own text differs", text);
  if (size >= 4) {
    std::int32_t any = 0;
    std::memcpy(&any, data, sizeof any);
    check(settings::text_to_color(settings::color_to_text(any)) == any, "a colour does not round-trip", text);
  }
  return 0;
}
