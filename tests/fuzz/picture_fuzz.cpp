// The Linux picture loader (gdk-pixbuf behind the checks of forms/linux): any bytes give a picture that
// fits its bound or a reason, within the fuzzer's time and memory limits. The first two bytes choose the
// bound, so that pictures are decoded both whole and scaled down.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "forms/native_services.h"

namespace {

forms::NativeServices& services() {
  static const std::unique_ptr<forms::NativeServices> made = forms::make_native_services();
  return *made;
}

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "picture: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Loads every decoder module once, so that what they keep for the process is not taken for a leak.
  for (const char* name : {"/a.gif", "/default_picture.jpg"}) {
    std::ifstream in(std::string(DIALSAVER_RESOURCES) + name, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    (void)services().decode_picture(std::as_bytes(std::span(bytes)), {64, 64});
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const forms::Size bound{1 + data[0] % 128, 1 + data[1] % 128};
  const auto bytes = std::as_bytes(std::span(data + 2, size - 2));
  auto picture = services().decode_picture(bytes, bound);
  if (!picture) {
    check(!picture.reason().empty(), "a refusal without a reason");
    return 0;
  }
  const forms::PictureRef& p = picture.value();
  check(p->width() > 0 && p->height() > 0, "a picture without pixels");
  check(p->width() <= bound.width && p->height() <= bound.height, "a picture larger than its bound");
  check(p->pixels().size() == static_cast<std::size_t>(p->width()) * static_cast<std::size_t>(p->height()),
        "a picture whose pixels do not match its size");
  return 0;
}
