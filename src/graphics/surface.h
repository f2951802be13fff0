// A drawing surface: a frame of pixels with a user coordinate system, a pen, a font and a current
// position, and the figures drawn on it. Every figure is rasterised by forms/raster into spans and each
// span is applied once with the draw mode, so a figure touches each pixel at most once and drawing the
// same figure twice in not-XOR mode restores the pixels exactly. The frame is the surface's persistent
// image: nothing ever redraws it from scratch.
//
// Drawing never fails; it clips. Until someone needs the pixels (a back end presenting, a test reading
// them) the figures are kept as a list and the frame is not filled, so a surface that is never shown
// costs no frame. When the pixels are first needed the list is replayed: each run of copy-pen figures
// (with the fresh image's fill, and a picture at its bottom) is resolved as one batch that writes every
// pixel once, and the result is the one drawing the list figure by figure would give. Once the frame is
// made, figures are drawn as they come, and the rectangles they change are kept for the back end; only a
// not-XOR figure waits for the next call, so that when the next is a not-XOR figure of the same colour
// (a hand erased, then drawn one step on) the two touch just the pixels that differ. Reading the pixels
// or the changed rectangles draws it.
//
// A back end whose screen keeps its own copy of the image can lend the surface a screen pen (see
// screen_pen.h): not-XOR figures drawn on a made frame then go to the screen alone, and the frame owes
// them until its pixels are next read.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/dirty_region.h"
#include "graphics/frame_buffer.h"
#include "graphics/raster.h"
#include "graphics/screen_pen.h"
#include "graphics/text_renderer.h"
#include "graphics/user_scale.h"
#include "pictures/picture.h"
#include "values/color.h"
#include "values/geometry.h"

namespace forms {

class CopyBatch;

constexpr int vbNotXorPen = 10;
constexpr int vbCopyPen = 13;

// Receives one call per drawing operation, with its arguments in user units as the caller gave them.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  // op: "picture", "circle", "box", "pset", "line" (args as given) or "print" (args x, y and the text).
  virtual void trace(std::string_view op, std::span<const double> args, std::string_view text, int pen, OleColor color,
                     int mode) = 0;
};

class Surface : public UserScaled {
 public:
  // The frame comes from `frames` when the pixels are first needed; text is drawn by `text`. Both outlive
  // the surface.
  Surface(FrameAllocator& frames, TextRenderer& text);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  // ---- Set by the engine. ----
  // The size in device pixels and the resolution fonts are sized for. It starts a new image, filled with
  // BackColor; the frame's memory is kept when the size does not change.
  void resize(Size pixels, double dpi);
  Size pixel_size() const { return m_size; }
  double dpi() const { return m_dpi; }

  // ---- The user coordinate system. ----
  // A user point (x, y) lies at device pixel ((x - ScaleLeft) * width / ScaleWidth,
  // (y - ScaleTop) * height / ScaleHeight). Until a window sets a scale, one unit is `default_unit_pixels`
  // pixels (1: the pixel scale; 1/15 at 96 dpi: twips).
  void set_default_unit_pixels(double pixels_per_unit) { m_scale.set_default_unit_pixels(pixels_per_unit); }

  // ---- Pen, colours, font, position: read when a figure is drawn. ----
  bool AutoRedraw = false;
  OleColor BackColor = kWhite;
  OleColor ForeColor = kBlack;
  int DrawWidth = 1;         // pixels; less than 1 draws as 1
  int DrawStyle = 0;         // 0 solid, the only style drawn
  int DrawMode = vbCopyPen;  // vbCopyPen or vbNotXorPen; any other value draws as vbCopyPen
  bool FontBold = false;
  float FontSize = 8.25f;  // points
  std::string FontName = "MS Sans Serif";
  float CurrentX = 0;
  float CurrentY = 0;

  // ---- Figures. ----
  // The whole picture scaled into the rectangle (aspect not kept; smooth resampling, area-averaged
  // when shrinking), replacing the pixels there; a null picture draws nothing.
  void PaintPicture(const PictureRef& picture, float x, float y, float width, float height);
  // Outline of the circle; the radius is measured in horizontal units and drawn round.
  void Circle(float x, float y, float radius);
  // A line with the pen's width and round ends, in ForeColor or in `color`.
  void Line(float x1, float y1, float x2, float y2);
  void Line(float x1, float y1, float x2, float y2, OleColor color);
  // Line (x1, y1)-(x2, y2), , B: the outline of the axis-parallel rectangle, square corners.
  void Box(float x1, float y1, float x2, float y2);
  // A round dot of diameter DrawWidth.
  void PSet(float x, float y);
  // Text with its top-left at (CurrentX, CurrentY) in ForeColor and the current font; the pixels between
  // glyphs keep their colour. Afterwards CurrentX is ScaleLeft and CurrentY is one line lower.
  void Print(std::string_view text);

  // ---- For the engine and back ends. ----
  // The image, with every figure drawn so far applied (those owed to it by a screen pen included).
  const FrameBuffer& pixels();
  bool realized() const { return m_realized; }
  // Rectangles covering every pixel changed since clear_dirty(), at most kMaxDirtyRects of them (coarser
  // ones when finer would be more). A thin diagonal line gives a staircase of small rectangles.
  std::span<const Rect> dirty() const;
  void clear_dirty() {
    m_dirty.clear();
    m_flipped = false;
  }
  // A screen that flips not-XOR figures on its own copy of the image, or nullptr. The pen outlives the
  // surface or is taken back first; taking it back draws what the frame owes.
  void set_screen_pen(ScreenPen* pen);
  // Whether the screen pen was handed figures since clear_dirty(): the screen has changes to complete even
  // when no rectangle of the frame is dirty.
  bool flipped() const { return m_flipped; }
  void set_trace(TraceSink* sink) { m_trace = sink; }

  // Device-pixel form of a user point (fractional), for tests and the figures.
  double to_pixel_x(double x) const { return m_scale.to_pixel_x(x); }
  double to_pixel_y(double y) const { return m_scale.to_pixel_y(y); }

  static constexpr std::size_t kMaxDirtyRects = 512;

 private:
  struct Op;
  struct Held {
    raster::Figure figure;
    Pixel color;
  };

  void record_figure(const raster::Figure& figure, Pixel color);
  void record(Op&& op);
  void execute(const Op& op);
  void realize();
  void replay();
  void draw_figure(const raster::Figure& figure, Pixel color, int mode);
  void draw_pair(const raster::Figure& a, const raster::Figure& b, Pixel color);
  void draw_held();
  void not_xor_pair(const raster::Figure& a, const raster::Figure& b, Pixel color);
  void flip(const raster::Figure& figure, const raster::Figure* mate, Pixel color);
  void owe(const raster::Figure& figure, Pixel color);
  void settle();
  void trace(std::string_view op, std::initializer_list<double> args, std::string_view text, OleColor color);

  FrameAllocator& m_frames;
  TextRenderer& m_text;
  Size m_size;
  double m_dpi = 96;

  std::unique_ptr<FrameBuffer> m_frame;  // kept across a resize to the same size
  bool m_realized = false;               // the frame holds the image
  std::vector<Op> m_pending;
  std::unique_ptr<CopyBatch> m_batch;
  std::optional<Held> m_held;  // a not-XOR figure waiting for its pair
  ScreenPen* m_pen = nullptr;
  std::vector<Held> m_owed;        // figures the screen pen flipped and the frame has not had yet
  std::array<RowRun, 512> m_runs;  // a chunk of runs on their way to the screen pen
  bool m_flipped = false;
  DirtyRegion m_dirty{kMaxDirtyRects};
  TraceSink* m_trace = nullptr;
};

}  // namespace forms
