#include "graphics/surface.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <variant>

#include "graphics/copy_batch.h"
#include "graphics/raster.h"
#include "pictures/picture_scaler.h"

namespace forms {
namespace {

// Past this many figures an unshown surface makes its frame anyway, so a surface drawn on forever while
// hidden costs a frame, not unbounded memory.
constexpr std::size_t kMaxPendingOps = 100000;

struct FigureOp {
  raster::Figure figure;
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

int pen_mode(int draw_mode) { return draw_mode == vbNotXorPen ? vbNotXorPen : vbCopyPen; }

// Applies the draw mode to pixels [x0, x1) of a row. The copy pen replaces them; the not-XOR pen makes
// each channel 255 - (pen XOR pixel), which is its own inverse.
template <int Mode>
void apply_span(Pixel* row, int x0, int x1, Pixel color) {
  if constexpr (Mode != vbNotXorPen) {
    std::fill(row + x0, row + x1, color);
  } else {
    const Pixel flip = ~color & 0xFFFFFFu;
    for (int x = x0; x < x1; ++x) row[x] = (row[x] ^ flip) & 0xFFFFFFu;
  }
}

// Gathers a figure's spans into one rectangle per band of rows and span index (a ring's left and right
// arcs stay apart) and hands them to the dirty region when the band changes.
class DirtyGatherer {
 public:
  explicit DirtyGatherer(DirtyRegion& region) : m_region(region), m_shift(region.band_shift()) {}
  ~DirtyGatherer() { flush(); }
  DirtyGatherer(const DirtyGatherer&) = delete;
  DirtyGatherer& operator=(const DirtyGatherer&) = delete;

  void add(int y, int k, int x0, int x1) {
    if ((y >> m_shift) != m_band) {
      flush();
      m_band = y >> m_shift;
    }
    Rect& r = m_rects[static_cast<std::size_t>(k)];
    r = r.empty() ? Rect{x0, y, x1, y + 1} : Rect{std::min(r.left, x0), r.top, std::max(r.right, x1), y + 1};
  }

 private:
  void flush() {
    for (Rect& r : m_rects) {
      if (r.empty()) continue;
      m_region.add(r);
      r = {};
    }
  }
  DirtyRegion& m_region;
  int m_shift;
  int m_band = -1;
  std::array<Rect, 4> m_rects{};
};

// Applies the draw mode to the spans rows(y, n, out) gives for rows top to bottom - 1, and marks them dirty.
template <class Rows>
void paint_rows(FrameBuffer& frame, DirtyRegion& region, int top, int bottom, Rows&& rows, Pixel color, int mode) {
  DirtyGatherer dirty(region);
  const auto prefetch = [&](int y, int x0, int x1) {
    // Rows lie a frame's width apart, so each span is a cache miss of its own; asking for them a chunk
    // ahead lets the misses overlap. (A span is mostly a few pixels: its first line is the one to ask.)
    (void)x1;
    __builtin_prefetch(frame.row(y) + x0);
  };
  const Rect clip{0, 0, frame.width(), frame.height()};
  if (mode == vbNotXorPen) {
    raster::for_each_span(top, bottom, clip, rows, prefetch, [&](int y, int k, int x0, int x1) {
      apply_span<vbNotXorPen>(frame.row(y), x0, x1, color);
      dirty.add(y, k, x0, x1);
    });
  } else {
    raster::for_each_span(top, bottom, clip, rows, prefetch, [&](int y, int k, int x0, int x1) {
      apply_span<vbCopyPen>(frame.row(y), x0, x1, color);
      dirty.add(y, k, x0, x1);
    });
  }
}

// Calls paint(top, bottom, rows) with a figure's rows, worked out by its own shape (no dispatch per row).
template <class Paint>
void with_rows(const raster::Figure& figure, Paint&& paint) {
  figure.visit([&](const auto& shape) {
    paint(shape.top(), shape.bottom(), [&](int y, int n, raster::RowSpans* out) { shape.rows(y, n, out); });
  });
}

// Two not-XOR figures of one colour drawn one after the other flip twice, and so keep, the pixels they
// share: only the pixels in exactly one of them change. Touching just those makes erasing a hand and
// drawing it one step on cost the pixels that moved. Calls paint(top, bottom, rows) with the rows of those
// pixels; rows(y, n, out) is asked for rows in order, top to bottom.
template <class Paint>
void with_pair_rows(const raster::Figure& a, const raster::Figure& b, Paint&& paint) {
  const int top = std::max(std::min(a.top(), b.top()), 0);
  const int bottom = std::max(a.bottom(), b.bottom());
  if (a.capsule() != nullptr && b.capsule() != nullptr) {
    // Two lines (a hand and its next step), walked side by side: a row's difference is worked out from two
    // spans.
    raster::DifferenceWalker walk(*a.capsule(), *b.capsule(), top);
    paint(top, bottom, [&](int, int n, raster::RowSpans* out) {
      for (int i = 0; i < n; ++i) out[i].count = walk.next(out[i].spans.data());
    });
    return;
  }
  raster::RowSpans first[16];
  raster::RowSpans second[16];
  paint(top, bottom, [&](int y, int n, raster::RowSpans* out) {
    for (int i0 = 0; i0 < n; i0 += 16) {
      const int m = std::min(16, n - i0);
      raster::rows_within(a, y + i0, m, first);
      raster::rows_within(b, y + i0, m, second);
      for (int i = 0; i < m; ++i) raster::difference(first[i], second[i], out[i0 + i]);
    }
  });
}

}  // namespace

struct Surface::Op {
  std::variant<FigureOp, PictureOp, TextOp> what;
  Pixel color = 0;
  int mode = vbCopyPen;
};

Surface::Surface(FrameAllocator& frames, TextRenderer& text) : m_frames(frames), m_text(text) {}
Surface::~Surface() = default;

void Surface::resize(Size pixels, double dpi) {
  m_size = pixels;
  m_scale.set_area(pixels);
  m_dpi = dpi;
  if (m_frame && m_frame->size() != pixels) m_frame.reset();
  m_realized = false;
  m_held.reset();
  m_owed.clear();
  m_pending.clear();
  m_dirty.resize(pixels);
}

// ---- Figures ----

void Surface::PaintPicture(const PictureRef& picture, float x, float y, float width, float height) {
  trace("picture", {x, y, width, height}, {}, ForeColor);
  if (!picture) return;
  record(
      {PictureOp{picture, to_pixel_x(x), to_pixel_y(y), to_pixel_x(x + width), to_pixel_y(y + height)}, 0, vbCopyPen});
}

void Surface::Circle(float x, float y, float radius) {
  trace("circle", {x, y, radius}, {}, ForeColor);
  const double pixels_per_unit = ScaleWidth() == 0 ? 0 : m_size.width / static_cast<double>(ScaleWidth());
  record_figure(raster::Figure(raster::Ring(raster::snap(to_pixel_x(x), to_pixel_y(y), DrawWidth),
                                            std::abs(radius * pixels_per_unit), DrawWidth)),
                to_pixel(ForeColor));
}

void Surface::Line(float x1, float y1, float x2, float y2) { Line(x1, y1, x2, y2, ForeColor); }

void Surface::Line(float x1, float y1, float x2, float y2, OleColor color) {
  trace("line", {x1, y1, x2, y2}, {}, color);
  record_figure(raster::Figure(raster::Capsule(raster::snap(to_pixel_x(x1), to_pixel_y(y1), DrawWidth),
                                               raster::snap(to_pixel_x(x2), to_pixel_y(y2), DrawWidth), DrawWidth)),
                to_pixel(color));
}

void Surface::Box(float x1, float y1, float x2, float y2) {
  trace("box", {x1, y1, x2, y2}, {}, ForeColor);
  record_figure(raster::Figure(raster::BoxOutline(raster::snap(to_pixel_x(x1), to_pixel_y(y1), DrawWidth),
                                                  raster::snap(to_pixel_x(x2), to_pixel_y(y2), DrawWidth), DrawWidth)),
                to_pixel(ForeColor));
}

void Surface::PSet(float x, float y) {
  trace("pset", {x, y}, {}, ForeColor);
  record_figure(raster::Figure(raster::Dot(raster::snap(to_pixel_x(x), to_pixel_y(y), DrawWidth), DrawWidth)),
                to_pixel(ForeColor));
}

void Surface::Print(std::string_view text) {
  trace("print", {CurrentX, CurrentY}, text, ForeColor);
  TextStyle style{FontName, FontSize, FontBold};
  const int x = static_cast<int>(std::lround(to_pixel_x(CurrentX)));
  const int y = static_cast<int>(std::lround(to_pixel_y(CurrentY)));
  const Size extent = m_text.measure_text(text, style, m_dpi);
  record({TextOp{std::string(text), std::move(style), x, y}, to_pixel(ForeColor), vbCopyPen});
  const double units_per_pixel_y = m_size.height == 0 ? 0 : ScaleHeight() / static_cast<double>(m_size.height);
  CurrentX = m_scale.left();
  CurrentY += static_cast<float>(extent.height * units_per_pixel_y);
}

// ---- Recording, replaying and drawing ----

// Figures are the per-tick path: on a made frame they are drawn at once, without building an Op.
void Surface::record_figure(const raster::Figure& figure, Pixel color) {
  if (m_size.width <= 0 || m_size.height <= 0) return;
  const int mode = pen_mode(DrawMode);
  if (!m_realized) {
    record({FigureOp{figure}, color, mode});
    return;
  }
  if (mode != vbNotXorPen) {
    draw_held();
    settle();
    draw_figure(figure, color, mode);
  } else if (m_held && m_held->color == color) {
    // The same figure twice leaves every pixel as it was (an hour hand that has not moved a pixel).
    if (!(m_held->figure == figure)) not_xor_pair(m_held->figure, figure, color);
    m_held.reset();
  } else {
    draw_held();
    m_held.emplace(Held{figure, color});
  }
}

void Surface::record(Op&& op) {
  if (m_size.width <= 0 || m_size.height <= 0) return;
  if (m_realized) {
    draw_held();
    settle();
    execute(op);
    return;
  }
  m_pending.push_back(std::move(op));
  if (m_pending.size() > kMaxPendingOps) realize();
}

const FrameBuffer& Surface::pixels() {
  if (!m_realized) realize();
  draw_held();
  settle();
  return *m_frame;
}

void Surface::set_screen_pen(ScreenPen* pen) {
  if (pen == m_pen) return;
  draw_held();
  settle();
  m_pen = pen;
}

void Surface::realize() {
  const Size size = m_size.width > 0 && m_size.height > 0 ? m_size : Size{1, 1};
  if (!m_frame || m_frame->size() != size) {
    m_frame.reset();
    m_frame = m_frames.create_frame(size);
  }
  m_realized = true;
  replay();
  m_dirty.clear();
  m_dirty.add({0, 0, m_frame->width(), m_frame->height()});
}

// Draws the recorded list into the fresh frame: copy-pen figures gather into batches (the first one also
// carries the fill with BackColor, and a picture may lie at the bottom of each); anything else ends the
// batch and is drawn on its own.
void Surface::replay() {
  if (!m_batch) m_batch = std::make_unique<CopyBatch>();
  CopyBatch& batch = *m_batch;
  FrameBuffer& frame = *m_frame;
  batch.fill(to_pixel(BackColor));
  for (const Op& op : m_pending) {
    const auto* figure = std::get_if<FigureOp>(&op.what);
    if (figure != nullptr && op.mode == vbCopyPen) {
      batch.add(figure->figure, op.color);
      continue;
    }
    if (const auto* p = std::get_if<PictureOp>(&op.what)) {
      if (!batch.takes_bottom_layers()) batch.resolve(frame);
      batch.picture(PictureScaler(p->picture, p->x0, p->y0, p->x1, p->y1, frame.size()));
      continue;
    }
    batch.resolve(frame);
    execute(op);
  }
  batch.resolve(frame);
  m_pending.clear();
}

void Surface::execute(const Op& op) {
  FrameBuffer& frame = *m_frame;
  const Rect whole{0, 0, frame.width(), frame.height()};
  if (const auto* f = std::get_if<FigureOp>(&op.what)) {
    draw_figure(f->figure, op.color, op.mode);
  } else if (const auto* p = std::get_if<PictureOp>(&op.what)) {
    PictureScaler scaler(p->picture, p->x0, p->y0, p->x1, p->y1, frame.size());
    const Rect& area = scaler.area();
    for (int y = area.top; y < area.bottom; ++y) scaler.composite(frame.row(y), y, area.left, area.right);
    m_dirty.add(area);
  } else if (const auto* t = std::get_if<TextOp>(&op.what)) {
    const Rect changed = m_text.draw_text(frame, t->x, t->y, t->text, t->style, m_dpi, op.color, whole);
    m_dirty.add(intersect(changed, whole));
  }
}

void Surface::draw_figure(const raster::Figure& figure, Pixel color, int mode) {
  with_rows(figure,
            [&](int top, int bottom, auto&& rows) { paint_rows(*m_frame, m_dirty, top, bottom, rows, color, mode); });
}

void Surface::draw_pair(const raster::Figure& a, const raster::Figure& b, Pixel color) {
  with_pair_rows(a, b, [&](int top, int bottom, auto&& rows) {
    paint_rows(*m_frame, m_dirty, top, bottom, rows, color, vbNotXorPen);
  });
}

// A not-XOR figure waits for the next figure, in case it is its pair; anything else draws it first.
void Surface::draw_held() {
  if (!m_held) return;
  const Held held = *m_held;
  m_held.reset();
  if (m_pen != nullptr) {
    flip(held.figure, nullptr, held.color);
  } else {
    draw_figure(held.figure, held.color, vbNotXorPen);
  }
}

void Surface::not_xor_pair(const raster::Figure& a, const raster::Figure& b, Pixel color) {
  if (m_pen != nullptr) {
    flip(a, &b, color);
  } else {
    draw_pair(a, b, color);
  }
}

// Hands the screen pen the runs of a not-XOR figure, or of the pixels in exactly one of a pair, and owes
// the frame the figures. The runs go in chunks that stay in the first-level cache from the walk to the pen
// and through the pen's own buffers: a hand's thousand rows are not written out to memory to be read back.
void Surface::flip(const raster::Figure& figure, const raster::Figure* mate, Pixel color) {
  std::size_t count = 0;
  const auto hand_over = [&] {
    m_pen->flip(color, std::span<const RowRun>(m_runs.data(), count));
    count = 0;
    m_flipped = true;
  };
  const auto add = [&](int y, int x0, int x1) {
    m_runs[count++] = {y, x0, x1};
    if (count == m_runs.size()) [[unlikely]]
      hand_over();
  };
  const Rect clip{0, 0, m_frame->width(), m_frame->height()};
  const auto collect = [&](int top, int bottom, auto&& rows) {
    raster::for_each_span(
        top, bottom, clip, rows, [](int, int, int) {}, [&](int y, int, int x0, int x1) { add(y, x0, x1); });
  };
  if (mate != nullptr && figure.capsule() != nullptr && mate->capsule() != nullptr) {
    raster::for_each_difference_run(*figure.capsule(), *mate->capsule(), clip, add);
  } else if (mate != nullptr) {
    with_pair_rows(figure, *mate, collect);
  } else {
    with_rows(figure, collect);
  }
  if (count > 0) hand_over();
  owe(figure, color);
  if (mate != nullptr) owe(*mate, color);
}

// A figure owed twice is owed no more: the not-XOR pen undoes itself. So a hand erased and drawn anew each
// tick leaves the frame owing only where the hand was when the frame was last complete, and where it is.
void Surface::owe(const raster::Figure& figure, Pixel color) {
  constexpr std::size_t kMaxOwed = 32;
  for (Held& owed : m_owed) {
    if (owed.color == color && owed.figure == figure) {
      owed = m_owed.back();
      m_owed.pop_back();
      return;
    }
  }
  m_owed.push_back({figure, color});
  if (m_owed.size() > kMaxOwed) settle();
}

// Draws into the frame the figures it owes, two of one colour at a time, so that a hand's old and new
// places cost the pixels between them. The screen has them already; marking them dirty only puts them
// again.
void Surface::settle() {
  while (!m_owed.empty()) {
    const Held first = m_owed.back();
    m_owed.pop_back();
    const auto mate = std::find_if(m_owed.begin(), m_owed.end(), [&](const Held& h) { return h.color == first.color; });
    if (mate == m_owed.end()) {
      draw_figure(first.figure, first.color, vbNotXorPen);
      continue;
    }
    if (!(mate->figure == first.figure)) draw_pair(mate->figure, first.figure, first.color);
    *mate = m_owed.back();
    m_owed.pop_back();
  }
}

std::span<const Rect> Surface::dirty() const {
  // Reading the changes completes the drawing; a surface is never a const object while it holds a figure.
  const_cast<Surface*>(this)->draw_held();
  return m_dirty.rects();
}

void Surface::trace(std::string_view op, std::initializer_list<double> args, std::string_view text, OleColor color) {
  if (m_trace != nullptr) m_trace->trace(op, {args.begin(), args.size()}, text, DrawWidth, color, DrawMode);
}

}  // namespace forms
