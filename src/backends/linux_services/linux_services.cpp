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
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "backends/linux_services/deadline.h"
#include "backends/linux_services/ini_store.h"
#include "backends/linux_services/unique_fd.h"
#include "forms/native_services.h"
#include "graphics/coverage.h"
#include "pictures/gif_decoder.h"
#include "pictures/picture_format.h"

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
//
// A picture is decoded by the gdk-pixbuf module of the format its first bytes name (never by gdk-pixbuf's
// guess over every module it has), and refused as early as it can be: a file that is not a regular file
// or is larger than any picture within kMaxSourcePixels, a format the loader does not read, a JPEG of too
// many scans, and a header whose size is out of range, before the decoder allocates its pixels.

// The bound a load fits its picture to. A load started before the display is open learns it from the
// load that takes it over, later; meanwhile it decodes as far as it can without it.
class PendingBound {
 public:
  PendingBound() = default;
  explicit PendingBound(Size bound) : m_bound(bound) {}

  void give(Size bound) {
    const std::lock_guard lock(m_mutex);
    if (!m_bound && !m_abandoned) m_bound = bound;
    m_changed.notify_all();
  }
  // No load will take this one over: a decoder waiting for the bound gives up.
  void abandon() {
    const std::lock_guard lock(m_mutex);
    m_abandoned = true;
    m_changed.notify_all();
  }
  // The bound, once given; nothing when the load was abandoned first.
  std::optional<Size> wait() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_bound || m_abandoned; });
    return m_bound;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::optional<Size> m_bound;
  bool m_abandoned = false;
};

constexpr const char* kAbandoned = "no load took it over";

struct LoadState {
  explicit LoadState(std::shared_ptr<PendingBound> pending) : bound(std::move(pending)) {}

  // The most pixels a source of this size may have to be decoded (pixel_cap): a picture no larger than
  // kWholeDecodeFloor passes whatever the bound, so only a larger one waits for it. Empty when the load
  // was abandoned meanwhile.
  std::optional<long long> cap_for(Size source) {
    if (format == PictureFormat::Jpeg) return kMaxSourcePixels;
    if (static_cast<long long>(source.width) * source.height <= kWholeDecodeFloor) return kWholeDecodeFloor;
    const std::optional<Size> known = bound->wait();
    if (!known) return std::nullopt;
    return whole_decode_cap(*known);
  }
  // Refuses the picture when its size is out of range (or the load was abandoned); true when it may go on.
  bool accepts(Size source) {
    const std::optional<long long> cap = cap_for(source);
    if (!cap) {
      refused = kAbandoned;
      return false;
    }
    if (Status ok = check_source_size(source, *cap); !ok) {
      refused = ok.reason();
      return false;
    }
    return true;
  }

  std::shared_ptr<PendingBound> bound;
  PictureFormat format = PictureFormat::Unknown;
  std::string refused;     // why the picture was refused at its header, or empty
  std::vector<bool> rows;  // the rows the decoder has delivered, once it knows the height
  int rows_done = 0;
};

void on_size_prepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* state = static_cast<LoadState*>(data);
  if (!state->accepts({width, height})) {
    // A size of zero makes every gdk-pixbuf module stop before it allocates the picture's pixels.
    gdk_pixbuf_loader_set_size(loader, 0, 0);
    return;
  }
  // JPEG decodes straight to a smaller size; the others decode whole and are scaled after.
  if (state->format != PictureFormat::Jpeg) return;
  const std::optional<Size> bound = state->bound->wait();
  if (!bound) {
    state->refused = kAbandoned;
    gdk_pixbuf_loader_set_size(loader, 0, 0);
    return;
  }
  const Size fit = fit_within({width, height}, *bound);
  if (fit.width != width || fit.height != height) gdk_pixbuf_loader_set_size(loader, fit.width, fit.height);
}

// Counts the rows delivered, so that a file cut short (whose missing rows gdk-pixbuf leaves as they
// were allocated) is told from a whole one.
void on_area_updated(GdkPixbufLoader* loader, int x, int y, int width, int height, gpointer data) {
  (void)x, (void)width;
  auto* state = static_cast<LoadState*>(data);
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  if (pixbuf == nullptr) return;
  const int total = gdk_pixbuf_get_height(pixbuf);
  if (state->rows.empty()) state->rows.assign(static_cast<std::size_t>(total), false);
  for (int row = std::max(y, 0); row < std::min(y + height, total); ++row) {
    if (!state->rows[static_cast<std::size_t>(row)]) {
      state->rows[static_cast<std::size_t>(row)] = true;
      ++state->rows_done;
    }
  }
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
    std::uint32_t* out = argb.data() + static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x, p += channels) {
      const std::uint32_t a = alpha ? p[3] : 255;
      const std::uint32_t r = p[0];
      const std::uint32_t g = p[1];
      const std::uint32_t b = p[2];
      // Opaque pixels, nearly all of most pictures, need no premultiplying.
      if (a == 255) {
        out[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        continue;
      }
      const auto pre = [a](std::uint32_t c) { return (c * a + 127) / 255; };
      out[x] = (a << 24) | (pre(r) << 16) | (pre(g) << 8) | pre(b);
    }
  }
  return std::make_shared<const Picture>(width, height, std::move(argb));
}

// A picture as a gdk-pixbuf, with straight (not premultiplied) alpha, for gdk-pixbuf to scale.
PixbufPtr pixbuf_of(const Picture& picture) {
  PixbufPtr pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, picture.width(), picture.height()));
  if (!pixbuf) return pixbuf;
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf.get());
  const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
  for (int y = 0; y < picture.height(); ++y) {
    guchar* out = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (const std::uint32_t p : std::span(picture.row(y), static_cast<std::size_t>(picture.width()))) {
      const std::uint32_t a = p >> 24;
      const auto straight = [a](std::uint32_t c) { return a == 0 ? 0 : (c * 255 + a / 2) / a; };
      *out++ = static_cast<guchar>(straight((p >> 16) & 0xFF));
      *out++ = static_cast<guchar>(straight((p >> 8) & 0xFF));
      *out++ = static_cast<guchar>(straight(p & 0xFF));
      *out++ = static_cast<guchar>(a);
    }
  }
  return pixbuf;
}

// The decoded picture scaled to `fit`, converted; the decoded one goes before its scaled copy is
// converted, so that the two never meet a third.
Result<PictureRef> scaled_to(PixbufPtr decoded, Size fit, const std::string& what) {
  if (!decoded) return Error{what + ": out of memory", Failure::Passing};
  PixbufPtr scaled(gdk_pixbuf_scale_simple(decoded.get(), fit.width, fit.height, GDK_INTERP_BILINEAR));
  decoded.reset();
  if (!scaled) return Error{what + ": out of memory", Failure::Passing};
  return to_picture(scaled.get());
}

// Takes a picture's bytes in pieces and hands them to the decoder of its format, stopping at the first
// reason to refuse it. The decoder is made once the signature has been seen. GIF is decoded here
// (pictures/gif_decoder) from the whole file, the other formats by their gdk-pixbuf module as they come.
class Decoder {
 public:
  explicit Decoder(std::shared_ptr<PendingBound> bound) : m_state(std::move(bound)) {}
  ~Decoder() {
    if (m_loader == nullptr) return;
    if (!m_closed) gdk_pixbuf_loader_close(m_loader, nullptr);
    g_object_unref(m_loader);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // False once the picture has been refused; feeding more is pointless then.
  bool feed(std::span<const std::uint8_t> bytes) {
    if (refused()) return false;
    if (!m_started) {
      const std::size_t take = std::min(kHeadBytes - m_head.size(), bytes.size());
      m_head.insert(m_head.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
      bytes = bytes.subspan(take);
      if (m_head.size() < kHeadBytes) return true;
      if (!start() || !pass(m_head)) return false;
    }
    return bytes.empty() || pass(bytes);
  }

  Result<PictureRef> finish(const std::string& what) {
    if (!m_started && !refused() && start()) pass(m_head);  // a file shorter than a signature
    if (refused()) return Error{what + ": " + reason()};
    if (m_format == PictureFormat::Gif) return finish_gif(what);
    GError* error = nullptr;
    m_closed = true;
    if (gdk_pixbuf_loader_close(m_loader, &error) == 0) {
      fail(error);
      return Error{what + ": " + reason()};
    }
    if (refused()) return Error{what + ": " + reason()};
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(m_loader);
    if (pixbuf == nullptr) return Error{what + ": not a picture"};
    if (!whole(pixbuf)) return Error{what + ": the file is cut short"};
    const std::optional<Size> fit = fit_for({gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)});
    if (!fit) return Error{what + ": " + kAbandoned, Failure::Passing};
    if (*fit == Size{gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)}) return to_picture(pixbuf);
    // The picture is the loader's: held on its own, it goes with the loader once it is scaled.
    PixbufPtr decoded(GDK_PIXBUF(g_object_ref(pixbuf)));
    g_object_unref(m_loader);
    m_loader = nullptr;
    return scaled_to(std::move(decoded), *fit, what);
  }

 private:
  // The size the picture is fitted to, once the bound is known; nothing when the load was abandoned.
  std::optional<Size> fit_for(Size have) {
    const std::optional<Size> bound = m_state.bound->wait();
    if (!bound) return std::nullopt;
    return fit_within(have, *bound);
  }

  // The size was checked with the header (start), before the bytes were taken.
  Result<PictureRef> finish_gif(const std::string& what) {
    auto decoded = decode_gif(m_bytes, [](Size) { return ok_status(); });
    m_bytes = {};
    if (!decoded) return Error{what + ": " + decoded.reason(), decoded.failure()};
    PictureRef picture = std::move(decoded).value();
    const std::optional<Size> fit = fit_for(picture->size());
    if (!fit) return Error{what + ": " + kAbandoned, Failure::Passing};
    if (*fit == picture->size()) return picture;
    PixbufPtr pixbuf = pixbuf_of(*picture);
    picture.reset();
    return scaled_to(std::move(pixbuf), *fit, what);
  }

  bool refused() const { return !m_state.refused.empty() || !m_error.empty(); }
  const std::string& reason() const { return m_state.refused.empty() ? m_error : m_state.refused; }

  bool start() {
    m_format = sniff_format(m_head);
    m_state.format = m_format;
    if (const char* refused = refused_format(m_format)) {
      m_error = refused;
      return false;
    }
    const char* module = module_name(m_format);
    if (module == nullptr) {
      m_error = "not a picture in a format this program reads (GIF, JPEG, PNG or bitmap)";
      return false;
    }
    if (const char* implausible = implausible_header(m_format, m_head)) {
      m_error = implausible;
      return false;
    }
    if (const auto size = declared_size(m_format, m_head); size && !m_state.accepts(*size)) return false;
    m_started = true;
    if (m_format == PictureFormat::Gif) return true;
    GError* error = nullptr;
    m_loader = gdk_pixbuf_loader_new_with_type(module, &error);
    if (m_loader == nullptr) return fail(error);
    g_signal_connect(m_loader, "size-prepared", G_CALLBACK(on_size_prepared), &m_state);
    g_signal_connect(m_loader, "area-updated", G_CALLBACK(on_area_updated), &m_state);
    return true;
  }

  // A JPEG must reach its end marker; the other formats must have delivered every row.
  bool whole(GdkPixbuf* pixbuf) const {
    if (m_format == PictureFormat::Jpeg) return m_scans.ended();
    return m_state.rows_done == gdk_pixbuf_get_height(pixbuf);
  }

  bool pass(std::span<const std::uint8_t> bytes) {
    if (m_format == PictureFormat::Gif) {
      m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
      return true;
    }
    if (m_format == PictureFormat::Jpeg) {
      m_scans.feed(bytes);  // counted before the decoder sees them
      if (m_scans.scans() > kMaxJpegScans) {
        m_error = "the JPEG has more than " + std::to_string(kMaxJpegScans) + " scans";
        return false;
      }
      if (const auto size = m_scans.frame_size()) {
        if (Status ok = check_source_size(*size); !ok) {
          m_error = ok.reason();
          return false;
        }
      }
    }
    GError* error = nullptr;
    if (gdk_pixbuf_loader_write(m_loader, bytes.data(), bytes.size(), &error) == 0) return fail(error);
    return !refused();
  }

  bool fail(GError* error) {
    m_error = error != nullptr ? error->message : "not a picture";
    if (error != nullptr) g_error_free(error);
    return false;
  }

  bool m_started = false;  // the format is known and its decoder ready
  GdkPixbufLoader* m_loader = nullptr;
  std::vector<std::uint8_t> m_bytes;  // a GIF's, until the file is whole
  std::vector<std::uint8_t> m_head;   // the leading bytes, held back until the format is known
  PictureFormat m_format = PictureFormat::Unknown;
  JpegScanCounter m_scans;
  LoadState m_state;
  std::string m_error;
  bool m_closed = false;
};

// ---- Text ----

class GlyphRenderer {
 public:
  GlyphRenderer()
      : m_font_map(pango_cairo_font_map_new()),
        m_context(pango_font_map_create_context(m_font_map)),
        m_layout(pango_layout_new(m_context)) {
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    pango_cairo_context_set_font_options(m_context, options);
    cairo_font_options_destroy(options);
  }
  ~GlyphRenderer() {
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

  Rect draw(FrameBuffer& frame, int x, int y, std::string_view text, const TextStyle& style, double dpi, Pixel color,
            const Rect& clip) {
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

// Why a file cannot be opened, and whether that lasts: a file missing from a folder that is there is
// gone, while a missing folder may be a drive not mounted yet, and a refused permission, an I/O error or
// a lack of memory says nothing about the file itself.
Error open_failure(const std::string& what, const std::string& path, int error) {
  if (error == ENOENT) {
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    struct stat st {};
    if (!folder.empty() && (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
      return Error{what + ": its folder is not there (a drive not mounted yet?)", Failure::Passing};
    }
    return Error{what + ": " + std::strerror(error)};
  }
  if (error == ENOTDIR || error == ELOOP || error == ENAMETOOLONG) return Error{what + ": " + std::strerror(error)};
  return Error{what + ": " + std::strerror(error), Failure::Passing};
}

// What one read of a picture file takes: most pictures in one go.
constexpr std::size_t kReadBytes = 1 << 20;

Result<PictureRef> load_file(const std::string& path, const std::shared_ptr<PendingBound>& bound,
                             const std::string& what) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below like any non-file.
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  const int fd = file.fd;
  if (fd < 0) return open_failure(what, path, errno);
  struct stat st {};
  if (fstat(fd, &st) != 0) return Error{what + ": " + std::strerror(errno), Failure::Passing};
  if (S_ISDIR(st.st_mode)) return Error{what + ": it is a folder, not a file"};
  if (!S_ISREG(st.st_mode)) return Error{what + ": not a file"};
  if (st.st_size == 0) return Error{what + ": the file is empty"};
  if (static_cast<std::uint64_t>(st.st_size) > kMaxPictureBytes) return Error{what + ": the file is too large"};
  Decoder decoder(bound);
  // Large reads: gdk-pixbuf's GIF reader goes over what it holds again at each write, so a file fed in
  // small pieces takes several times as long to decode. The buffer's pages are touched only as it fills.
  const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kReadBytes);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.get(), kReadBytes);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Error{what + ": " + std::strerror(errno), Failure::Passing};
    total += static_cast<std::uint64_t>(n);
    // A file that grows while it is read is cut at the size a picture may have.
    if (n == 0 || total > kMaxPictureBytes) break;
    if (!decoder.feed(std::span(buffer.get(), static_cast<std::size_t>(n)))) break;
  }
  return decoder.finish(what);
}

class LinuxServices final : public NativeServices {
 public:
  // On a thread of its own and within kPictureDeadline of its start: a stalled mount or a decoder spinning
  // over a crafted file costs the program a few seconds without its picture, never its main loop. A load
  // started beforehand (start_loading) is taken over when it is of the same path, and given the bound.
  Result<PictureRef> load_picture(const std::string& path, Size bound) override {
    const std::string what = "cannot load " + path;
    if (m_overdue.contains(path)) return Error{what + ": it took too long before", Failure::Passing};
    std::optional<Started> started = std::exchange(m_started, std::nullopt);
    if (started && started->path == path) {
      started->bound->give(bound);
    } else {
      started.emplace(path, std::make_shared<PendingBound>(bound));
    }
    auto loaded = started->job.wait(linux_services::kPictureDeadline, what);
    if (!loaded && loaded.reason().ends_with(linux_services::kOverdue)) m_overdue.insert(path);
    return loaded;
  }

  // Only the last load started is kept; one that no load takes is abandoned with the next.
  void start_loading(const std::string& path) override {
    m_started.reset();
    if (!m_overdue.contains(path)) m_started.emplace(path, std::make_shared<PendingBound>());
  }

  Result<PictureRef> decode_picture(std::span<const std::byte> bytes, Size bound) override {
    const std::string what = "cannot decode the picture";
    if (bytes.size() > kMaxPictureBytes) return Error{what + ": it is too large"};
    Decoder decoder(std::make_shared<PendingBound>(bound));
    decoder.feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return decoder.finish(what);
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
  // A load under way and the bound it waits for; a load that nobody took over is told so as it goes.
  struct Started {
    Started(std::string p, std::shared_ptr<PendingBound> b)
        : path(std::move(p)),
          bound(std::move(b)),
          job([path = path, bound = bound] { return load_file(path, bound, "cannot load " + path); }) {}
    ~Started() {
      if (bound) bound->abandon();
    }
    Started(Started&&) noexcept = default;
    Started& operator=(Started&&) = delete;
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;

    std::string path;
    std::shared_ptr<PendingBound> bound;
    linux_services::BackgroundJob job;
  };

  GlyphRenderer m_text;
  std::set<std::string> m_overdue;   // pictures that passed their deadline: not tried again in this run
  std::optional<Started> m_started;  // the load start_loading began, until a load takes it
};

}  // namespace

std::unique_ptr<NativeServices> make_native_services() { return std::make_unique<LinuxServices>(); }

}  // namespace forms
