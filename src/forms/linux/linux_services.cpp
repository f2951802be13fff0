// The Linux native services: gdk-pixbuf decodes pictures, Pango + cairo render text as a coverage mask
// that is blended into the frame, and the settings live in an INI file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "forms/linux/ini_store.h"
#include "forms/native_services.h"

namespace forms {
namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const {
    if (p != nullptr) Free(p);
  }
};

void unref_pixbuf(GdkPixbuf* p) { g_object_unref(p); }
using PixbufPtr = std::unique_ptr<GdkPixbuf, Deleter<GdkPixbuf, unref_pixbuf>>;

// ---- Pictures ----

struct LoadState {
  Size bound;
  std::string refused;  // why the picture was refused at its header, or empty
};

void on_size_prepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* state = static_cast<LoadState*>(data);
  if (Status ok = check_source_size({width, height}); !ok) {
    state->refused = ok.reason();
    gdk_pixbuf_loader_set_size(loader, 1, 1);
    return;
  }
  const Size fit = fit_within({width, height}, state->bound);
  if (fit.width != width || fit.height != height) gdk_pixbuf_loader_set_size(loader, fit.width, fit.height);
}

PictureRef to_picture(GdkPixbuf* pixbuf) {
  const int width = gdk_pixbuf_get_width(pixbuf);
  const int height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf) != 0;
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    const guchar* p = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x, p += channels) {
      const std::uint32_t a = alpha ? p[3] : 255;
      const auto pre = [a](guchar c) { return (static_cast<std::uint32_t>(c) * a + 127) / 255; };
      argb[static_cast<std::size_t>(y) * width + x] = (a << 24) | (pre(p[0]) << 16) | (pre(p[1]) << 8) | pre(p[2]);
    }
  }
  return std::make_shared<const Picture>(width, height, std::move(argb));
}

// Feeds bytes to a loader in pieces, stopping as soon as the header has been refused.
class Decoder {
 public:
  explicit Decoder(Size bound) : m_loader(gdk_pixbuf_loader_new()) {
    m_state.bound = bound;
    g_signal_connect(m_loader, "size-prepared", G_CALLBACK(on_size_prepared), &m_state);
  }
  ~Decoder() {
    if (!m_closed) gdk_pixbuf_loader_close(m_loader, nullptr);
    g_object_unref(m_loader);
  }

  bool feed(const guchar* data, gsize size) {
    GError* error = nullptr;
    if (gdk_pixbuf_loader_write(m_loader, data, size, &error) == 0) return fail(error);
    return m_state.refused.empty();
  }

  Result<PictureRef> finish(const std::string& what) {
    if (!m_state.refused.empty()) return Error{what + ": " + m_state.refused};
    if (!m_error.empty()) return Error{what + ": " + m_error};
    GError* error = nullptr;
    m_closed = true;
    if (gdk_pixbuf_loader_close(m_loader, &error) == 0) {
      fail(error);
      return Error{what + ": " + m_error};
    }
    if (!m_state.refused.empty()) return Error{what + ": " + m_state.refused};
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(m_loader);
    if (pixbuf == nullptr) return Error{what + ": not a picture"};
    const Size have{gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)};
    const Size fit = fit_within(have, m_state.bound);
    if (fit == have) return to_picture(pixbuf);
    PixbufPtr scaled(gdk_pixbuf_scale_simple(pixbuf, fit.width, fit.height, GDK_INTERP_BILINEAR));
    if (!scaled) return Error{what + ": out of memory"};
    return to_picture(scaled.get());
  }

 private:
  bool fail(GError* error) {
    m_error = error != nullptr ? error->message : "not a picture";
    if (error != nullptr) g_error_free(error);
    return false;
  }
  GdkPixbufLoader* m_loader;
  LoadState m_state;
  std::string m_error;
  bool m_closed = false;
};

// ---- Text ----

class TextRenderer {
 public:
  TextRenderer()
      : m_font_map(pango_cairo_font_map_new()),
        m_context(pango_font_map_create_context(m_font_map)),
        m_layout(pango_layout_new(m_context)) {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    pango_cairo_context_set_font_options(m_context, options);
    cairo_font_options_destroy(options);
  }
  ~TextRenderer() {
    g_object_unref(m_layout);
    g_object_unref(m_context);
    g_object_unref(m_font_map);
  }

  // Lays the text out and returns its logical size in pixels.
  Size layout(std::string_view text, const TextStyle& style, double dpi) {
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, style.face.c_str());
    pango_font_description_set_weight(font, style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    const double pixels = std::max(style.size_points, 0.01) * dpi / 72.0;
    pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
    pango_layout_set_font_description(m_layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(m_layout, text.data(), static_cast<int>(text.size()));
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(m_layout, &width, &height);
    return {width, height};
  }

  Rect draw(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
            Pixel color, const Rect& clip) {
    layout(text, style, dpi);
    PangoRectangle ink{};
    PangoRectangle logical{};
    pango_layout_get_pixel_extents(m_layout, &ink, &logical);
    if (ink.width <= 0 || ink.height <= 0) return {};
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A8, ink.width, ink.height);
    cairo_t* cr = cairo_create(mask);
    cairo_move_to(cr, -ink.x, -ink.y);
    pango_cairo_show_layout(cr, m_layout);
    cairo_destroy(cr);
    cairo_surface_flush(mask);
    const Rect changed = blend_coverage(frame, x + ink.x, y + ink.y, cairo_image_surface_get_data(mask), ink.width,
                                        ink.height, cairo_image_surface_get_stride(mask), color, clip);
    cairo_surface_destroy(mask);
    return changed;
  }

 private:
  PangoFontMap* m_font_map;
  PangoContext* m_context;
  PangoLayout* m_layout;
};

class LinuxServices final : public NativeServices {
 public:
  Result<PictureRef> load_picture(const std::string& path, Size bound) override {
    const std::string what = "cannot load " + path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return Error{what + ": " + std::strerror(errno)};
    struct Closer {
      int fd;
      ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) return Error{what + ": " + std::strerror(errno)};
    if (!S_ISREG(st.st_mode)) return Error{what + ": not a file"};
    if (st.st_size == 0) return Error{what + ": the file is empty"};
    Decoder decoder(bound);
    guchar buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Error{what + ": " + std::strerror(errno)};
      if (n == 0 || !decoder.feed(buffer, static_cast<gsize>(n))) break;
    }
    return decoder.finish(what);
  }

  Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) override {
    Decoder decoder(bound);
    if (!bytes.empty()) decoder.feed(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    return decoder.finish("cannot decode the picture");
  }

  Rect draw_text(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi,
                 Pixel color, const Rect& clip) override {
    return m_text.draw(frame, x, y, text, style, dpi, color, clip);
  }

  Size measure_text(std::string_view text, const TextStyle& style, double dpi) override {
    return m_text.layout(text, style, dpi);
  }

  std::unique_ptr<SettingsStore> user_settings_store() override {
    return std::make_unique<linux_services::IniSettingsStore>(linux_services::IniSettingsStore::default_root());
  }

 private:
  TextRenderer m_text;
};

}  // namespace

std::unique_ptr<NativeServices> make_native_services() { return std::make_unique<LinuxServices>(); }

}  // namespace forms
