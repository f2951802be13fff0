#include "forms/surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <variant>

#include "forms/platform.h"
#include "forms/raster.h"

namespace forms {
namespace {

// Past this many figures an unshown surface makes its frame anyway, so a surface drawn on forever while
// hidden costs a frame, not unbounded memory.
constexpr std::size_t kMaxPendingOps = 100000;

constexpr int kDirtyBandRows = 16;

struct FigureOp {
  enum class Shape { Ring, Capsule, Box, Dot } shape;
  raster::Point a;
  raster::Point b;
  double radius = 0;
};

struct PictureOp {
  PictureRef picture;
  double x0, y0, x1, y1;  // device pixels
};

struct TextOp {
  std::string text;
  TextStyle style;
  int x, y;
};

// Weights for resampling one axis: destination pixel k takes source pixels [first, first + count) with
// the given weights (summing to 1).
struct Taps {
  std::vector<int> first;
  std::vector<int> count;
  std::vector<float> weight;  // count[k] entries per destination pixel, in order
  std::vector<int> offset;
};

Taps make_taps(int dest_first, int dest_count, double d0, double d1, int source) {
  Taps taps;
  taps.first.resize(static_cast<std::size_t>(dest_count));
  taps.count.resize(static_cast<std::size_t>(dest_count));
  taps.offset.resize(static_cast<std::size_t>(dest_count));
  const double scale = source / (d1 - d0);  // source pixels per destination pixel
  for (int k = 0; k < dest_count; ++k) {
    const double centre = (dest_first + k + 0.5 - d0) * scale;  // in source pixels
    taps.offset[static_cast<std::size_t>(k)] = static_cast<int>(taps.weight.size());
    if (scale <= 1) {
      // Enlarging: linear interpolation between the two nearest source pixels.
      const double s = std::clamp(centre - 0.5, 0.0, source - 1.0);
      const int i = std::min(static_cast<int>(s), source - 1);
      const double f = s - i;
      taps.first[static_cast<std::size_t>(k)] = i;
      if (f > 0 && i + 1 < source) {
        taps.count[static_cast<std::size_t>(k)] = 2;
        taps.weight.push_back(static_cast<float>(1 - f));
        taps.weight.push_back(static_cast<float>(f));
      } else {
        taps.count[static_cast<std::size_t>(k)] = 1;
        taps.weight.push_back(1.0f);
      }
      continue;
    }
    // Shrinking: the average over the destination pixel's footprint.
    const double u0 = std::clamp(centre - scale / 2, 0.0, static_cast<double>(source));
    const double u1 = std::clamp(centre + scale / 2, 0.0, static_cast<double>(source));
    const int i0 = static_cast<int>(u0);
    const int i1 = std::min(source, static_cast<int>(std::ceil(u1)));
    taps.first[static_cast<std::size_t>(k)] = i0;
    taps.count[static_cast<std::size_t>(k)] = std::max(1, i1 - i0);
    const double total = std::max(u1 - u0, 1e-9);
    for (int i = i0; i < i0 + taps.count[static_cast<std::size_t>(k)]; ++i) {
      const double cover = std::min<double>(i + 1, u1) - std::max<double>(i, u0);
      taps.weight.push_back(static_cast<float>(std::max(cover, 0.0) / total));
    }
  }
  return taps;
}

}  // namespace

struct Surface::Op {
  std::variant<FigureOp, PictureOp, TextOp> what;
  Pixel color = 0;
  int width = 1;
  int mode = vbCopyPen;
};

Surface::Surface() = default;
Surface::~Surface() = default;

void Surface::resize(Size pixels, double dpi) {
  m_size = pixels;
  m_dpi = dpi;
  m_frame.reset();
  m_pending.clear();
  m_dirty_count = 0;
}

float Surface::ScaleWidth() const {
  return m_scale_frozen ? m_scale_width : static_cast<float>(m_size.width / m_default_unit_pixels);
}

float Surface::ScaleHeight() const {
  return m_scale_frozen ? m_scale_height : static_cast<float>(m_size.height / m_default_unit_pixels);
}

void Surface::freeze_scale() {
  if (m_scale_frozen) return;
  m_scale_width = ScaleWidth();
  m_scale_height = ScaleHeight();
  m_scale_frozen = true;
}

void Surface::ScaleWidth(float value) {
  freeze_scale();
  m_scale_width = value;
}

void Surface::ScaleHeight(float value) {
  freeze_scale();
  m_scale_height = value;
}

double Surface::to_pixel_x(double x) const {
  const double width = ScaleWidth();
  return width == 0 ? 0 : (x - m_scale_left) * m_size.width / width;
}

double Surface::to_pixel_y(double y) const {
  const double height = ScaleHeight();
  return height == 0 ? 0 : (y - m_scale_top) * m_size.height / height;
}

// ---- Figures ----

void Surface::PaintPicture(const PictureRef& picture, float x, float y, float width, float height) {
  trace("picture", {x, y, width, height}, {}, ForeColor);
  if (!picture) return;
  record({PictureOp{picture, to_pixel_x(x), to_pixel_y(y), to_pixel_x(x + width), to_pixel_y(y + height)},
          0, 1, vbCopyPen});
}

void Surface::Circle(float x, float y, float radius) {
  trace("circle", {x, y, radius}, {}, ForeColor);
  const double pixels_per_unit = ScaleWidth() == 0 ? 0 : m_size.width / static_cast<double>(ScaleWidth());
  FigureOp f{FigureOp::Shape::Ring, raster::snap(to_pixel_x(x), to_pixel_y(y), DrawWidth), {}, 
             std::abs(radius * pixels_per_unit)};
  record({f, to_pixel(ForeColor), DrawWidth, DrawMode});
}

void Surface::Line(float x1, float y1, float x2, float y2) { Line(x1, y1, x2, y2, ForeColor); }

void Surface::Line(float x1, float y1, float x2, float y2, OleColor color) {
  trace("line", {x1, y1, x2, y2}, {}, color);
  FigureOp f{FigureOp::Shape::Capsule, raster::snap(to_pixel_x(x1), to_pixel_y(y1), DrawWidth),
             raster::snap(to_pixel_x(x2), to_pixel_y(y2), DrawWidth), 0};
  record({f, to_pixel(color), DrawWidth, DrawMode});
}

void Surface::Box(float x1, float y1, float x2, float y2) {
  trace("box", {x1, y1, x2, y2}, {}, ForeColor);
  FigureOp f{FigureOp::Shape::Box, raster::snap(to_pixel_x(x1), to_pixel_y(y1), DrawWidth),
             raster::snap(to_pixel_x(x2), to_pixel_y(y2), DrawWidth), 0};
  record({f, to_pixel(ForeColor), DrawWidth, DrawMode});
}

void Surface::PSet(float x, float y) {
  trace("pset", {x, y}, {}, ForeColor);
  FigureOp f{FigureOp::Shape::Dot, raster::snap(to_pixel_x(x), to_pixel_y(y), DrawWidth), {}, 0};
  record({f, to_pixel(ForeColor), DrawWidth, DrawMode});
}

void Surface::Print(std::string_view text) {
  trace("print", {CurrentX, CurrentY}, text, ForeColor);
  TextStyle style{FontName, FontSize, FontBold};
  const int x = static_cast<int>(std::lround(to_pixel_x(CurrentX)));
  const int y = static_cast<int>(std::lround(to_pixel_y(CurrentY)));
  const Size extent = platform().measure_text(text, style, m_dpi);
  record({TextOp{std::string(text), style, x, y}, to_pixel(ForeColor), 1, vbCopyPen});
  const double units_per_pixel_y = m_size.height == 0 ? 0 : ScaleHeight() / static_cast<double>(m_size.height);
  CurrentX = m_scale_left;
  CurrentY += static_cast<float>(extent.height * units_per_pixel_y);
}

// ---- Recording and executing ----

void Surface::record(Op op) {
  if (m_size.width <= 0 || m_size.height <= 0) return;
  if (m_frame) {
    execute(op);
    return;
  }
  m_pending.push_back(std::move(op));
  if (m_pending.size() > kMaxPendingOps) realize();
}

const FrameBuffer& Surface::pixels() {
  if (!m_frame) realize();
  return *m_frame;
}

void Surface::realize() {
  m_frame = platform().create_frame(m_size.width > 0 && m_size.height > 0 ? m_size : Size{1, 1});
  const Pixel back = to_pixel(BackColor);
  for (int y = 0; y < m_frame->height(); ++y) std::fill_n(m_frame->row(y), m_frame->width(), back);
  std::vector<Op> pending;
  pending.swap(m_pending);
  for (const Op& op : pending) execute(op);
  m_dirty_count = 0;
  mark_dirty({0, 0, m_frame->width(), m_frame->height()});
}

namespace {

// Applies one figure's spans with the draw mode, and reports the rows it touched in bands.
template <class Figure>
void fill_figure(FrameBuffer& frame, const Figure& figure, Pixel color, int mode,
                 const std::function<void(const Rect&)>& dirty) {
  const Rect clip{0, 0, frame.width(), frame.height()};
  Rect band;
  int band_start = -1;
  raster::for_each_span(figure, clip, [&](int y, int x0, int x1) {
    Pixel* row = frame.row(y);
    if (mode == vbNotXorPen) {
      for (int x = x0; x < x1; ++x) row[x] = ~(color ^ row[x]) & 0xFFFFFFu;
    } else {
      std::fill(row + x0, row + x1, color);
    }
    if (band_start < 0 || y - band_start >= kDirtyBandRows) {
      if (band_start >= 0) dirty(band);
      band_start = y;
      band = {x0, y, x1, y + 1};
    } else {
      band = unite(band, {x0, y, x1, y + 1});
    }
  });
  if (band_start >= 0) dirty(band);
}

void paint_picture(FrameBuffer& frame, const PictureOp& op, const std::function<void(const Rect&)>& dirty) {
  const Picture& pic = *op.picture;
  double x0 = op.x0, x1 = op.x1, y0 = op.y0, y1 = op.y1;
  const bool flip_x = x1 < x0;
  const bool flip_y = y1 < y0;
  if (flip_x) std::swap(x0, x1);
  if (flip_y) std::swap(y0, y1);
  const auto first_pixel = [](double edge) { return static_cast<int>(std::ceil(std::clamp(edge, -1e7, 1e7) - 0.5)); };
  const Rect area = intersect({first_pixel(x0), first_pixel(y0), first_pixel(x1), first_pixel(y1)},
                              {0, 0, frame.width(), frame.height()});
  if (area.empty() || x1 - x0 <= 0 || y1 - y0 <= 0) return;
  const int left = first_pixel(x0);
  const int top = first_pixel(y0);
  const Taps tx = make_taps(area.left, area.width(), x0, x1, pic.width());
  const Taps ty = make_taps(area.top, area.height(), y0, y1, pic.height());
  (void)left;
  (void)top;
  for (int j = 0; j < area.height(); ++j) {
    const auto jy = static_cast<std::size_t>(flip_y ? area.height() - 1 - j : j);
    Pixel* out = frame.row(area.top + j) + area.left;
    for (int i = 0; i < area.width(); ++i) {
      const auto ix = static_cast<std::size_t>(flip_x ? area.width() - 1 - i : i);
      float acc[4] = {0, 0, 0, 0};
      for (int v = 0; v < ty.count[jy]; ++v) {
        const float wy = ty.weight[static_cast<std::size_t>(ty.offset[jy] + v)];
        const std::uint32_t* src = pic.row(ty.first[jy] + v);
        for (int u = 0; u < tx.count[ix]; ++u) {
          const float w = wy * tx.weight[static_cast<std::size_t>(tx.offset[ix] + u)];
          const std::uint32_t p = src[tx.first[ix] + u];
          acc[0] += w * static_cast<float>(p >> 24);
          acc[1] += w * static_cast<float>((p >> 16) & 0xFF);
          acc[2] += w * static_cast<float>((p >> 8) & 0xFF);
          acc[3] += w * static_cast<float>(p & 0xFF);
        }
      }
      const float keep = 1.0f - acc[0] / 255.0f;
      const Pixel d = out[i];
      const auto channel = [&](float premultiplied, int shift) {
        const float value = premultiplied + keep * static_cast<float>((d >> shift) & 0xFF);
        return static_cast<Pixel>(std::clamp(std::lround(value), 0L, 255L)) << shift;
      };
      out[i] = channel(acc[1], 16) | channel(acc[2], 8) | channel(acc[3], 0);
    }
  }
  dirty(area);
}

}  // namespace

void Surface::execute(const Op& op) {
  const auto dirty = [this](const Rect& r) { mark_dirty(r); };
  FrameBuffer& frame = *m_frame;
  if (const auto* f = std::get_if<FigureOp>(&op.what)) {
    switch (f->shape) {
      case FigureOp::Shape::Ring: fill_figure(frame, raster::Ring(f->a, f->radius, op.width), op.color, op.mode, dirty); break;
      case FigureOp::Shape::Capsule: fill_figure(frame, raster::Capsule(f->a, f->b, op.width), op.color, op.mode, dirty); break;
      case FigureOp::Shape::Box: fill_figure(frame, raster::BoxOutline(f->a, f->b, op.width), op.color, op.mode, dirty); break;
      case FigureOp::Shape::Dot: fill_figure(frame, raster::Dot(f->a, op.width), op.color, op.mode, dirty); break;
    }
  } else if (const auto* p = std::get_if<PictureOp>(&op.what)) {
    paint_picture(frame, *p, dirty);
  } else if (const auto* t = std::get_if<TextOp>(&op.what)) {
    const Rect changed = platform().draw_text(frame, t->x, t->y, t->text, t->style, m_dpi, op.color,
                                              {0, 0, frame.width(), frame.height()});
    mark_dirty(intersect(changed, {0, 0, frame.width(), frame.height()}));
  }
}

void Surface::mark_dirty(const Rect& rect) {
  if (rect.empty()) return;
  for (std::size_t i = 0; i < m_dirty_count; ++i) {
    const Rect& r = m_dirty[i];
    if (intersect(r, rect) == rect) return;  // already covered
  }
  if (m_dirty_count < m_dirty.size()) {
    m_dirty[m_dirty_count++] = rect;
    return;
  }
  Rect all = rect;
  for (std::size_t i = 0; i < m_dirty_count; ++i) all = unite(all, m_dirty[i]);
  m_dirty[0] = all;
  m_dirty_count = 1;
}

void Surface::trace(std::string_view op, std::initializer_list<double> args, std::string_view text, OleColor color) {
  if (m_trace != nullptr) m_trace->trace(op, {args.begin(), args.size()}, text, DrawWidth, color, DrawMode);
}

}  // namespace forms
