// What every back end takes from the operating system and none draws itself: frames, decoding pictures,
// rendering text into a frame, and the user's settings store. One implementation per operating system
// (backends/linux_services: gdk-pixbuf, Pango + cairo, an INI file; backends/win32_services: WIC, GDI into
// DIB sections, the registry), shared by that system's windowed back end and by the headless one.
#pragma once

#include <memory>

#include "forms/settings_store.h"
#include "graphics/frame_buffer.h"
#include "graphics/text_renderer.h"
#include "pictures/picture_loader.h"

namespace forms {

class NativeServices : public FrameAllocator, public TextRenderer, public PictureLoader {
 public:
  // Plain memory unless the system draws text into frames of its own kind.
  std::unique_ptr<FrameBuffer> create_frame(Size size) override { return make_memory_frame(size); }
  // The current user's real store (the registry, or the INI file under the user's config folder).
  virtual std::unique_ptr<SettingsStore> user_settings_store() = 0;
};

std::unique_ptr<NativeServices> make_native_services();

}  // namespace forms
