// What every back end takes from the operating system and none draws itself: decoding pictures,
// rendering text into a frame, and the user's settings store. One implementation per operating system
// (forms/linux: gdk-pixbuf, Pango + cairo, an INI file; forms/win32: WIC, GDI, the registry), shared by
// that system's windowed back end and by the headless one.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "forms/platform.h"

namespace forms {

class NativeServices {
 public:
  virtual ~NativeServices() = default;
  virtual Result<PictureRef> load_picture(const std::string& path, Size bound) = 0;
  virtual Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) = 0;
  virtual Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                         Pixel color, const Rect& clip) = 0;
  virtual Size measure_text(std::string_view text, const TextStyle& style, double dpi) = 0;
  // The current user's real store (the registry, or the INI file under the user's config folder).
  virtual std::unique_ptr<SettingsStore> user_settings_store() = 0;
};

std::unique_ptr<NativeServices> make_native_services();

// Blends `color` into the frame through an 8-bit coverage mask whose top-left lies at (x, y), touching
// only pixels the mask covers, inside `clip`. Returns the rectangle it may have changed.
Rect blend_coverage(FrameBuffer& frame, int x, int y, const std::uint8_t* mask, int mask_width, int mask_height,
                    std::ptrdiff_t mask_stride, Pixel color, const Rect& clip);

}  // namespace forms
