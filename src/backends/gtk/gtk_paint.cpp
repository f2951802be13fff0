// What the window draws: the canvas showing the drawing surfaces 1:1 onto device pixels, and the image and
// shape widgets.
//
// A canvas that fills its window alone (the clock windows) puts its surfaces' frames on the window's X
// window itself, with no GTK paint in between: a tick sends only the changed rectangles, at once, and an
// exposure sends the exposed part, straight from the frame (see x11_frames.h). Once a frame is on the
// window, its surface borrows a screen pen (see screen_pen.h): the hands' not-XOR strokes are flipped by the
// server on the window's pixels, and the frame catches up when it is next put. GTK draws that window
// without a buffer of its own and paints no background under the canvas, so nothing covers what was put.
// Any other canvas, or one whose frames the display cannot read as they stand, is drawn by cairo, which
// reads each frame in place through a cairo surface made once per buffer. Either way a tick's paint
// allocates nothing.
#include "backends/gtk/gtk_window.h"

#include <algorithm>
#include <optional>

#include "backends/gtk/gtk_platform.h"
#include "backends/gtk/gtk_window_parts.h"
#include "backends/gtk/x11/x11_frames.h"

namespace forms::gtk {
namespace {

// The most pixel bytes sent to the X server in one go (see draw_canvas).
constexpr int kBandBytes = 4 << 20;

void set_source_color(cairo_t* cr, OleColor color) {
  cairo_set_source_rgb(cr, red_of(color) / 255.0, green_of(color) / 255.0, blue_of(color) / 255.0);
}

}  // namespace

Rect FormWindow::to_device(int x, int y, int width, int height) const {
  return {x * m_scale, y * m_scale, (x + width) * m_scale, (y + height) * m_scale};
}

void FormWindow::paint_directly() {
  if (m_platform.pixel_path() == x11::PixelPath::Cairo) return;
  m_direct = true;
  gtk_widget_set_app_paintable(m_window, TRUE);
  // GTK then hands the draw handlers the window itself, not an off-screen buffer it copies in afterwards
  // over whatever was put meanwhile.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_widget_set_double_buffered(m_window, FALSE);
  G_GNUC_END_IGNORE_DEPRECATIONS
}

// The surface's frame, complete. A new image is drawn from here on as its parts are exposed; nothing of
// it is owed to the screen.
const FrameBuffer& FormWindow::frame_of(PictureBox& box) {
  const bool fresh = !box.realized();
  const FrameBuffer& frame = box.pixels();
  if (fresh) box.clear_dirty();
  return frame;
}

// Where the surface lies on the toplevel's X window: its frame's pixel (0, 0) at (left, top), the part the
// form shows (in the frame's own pixels) in `shown`.
FormWindow::Placement FormWindow::placement_of(const PictureBox& box) const {
  GtkAllocation canvas{};  // a bare toplevel is its own canvas
  if (m_canvas != nullptr) gtk_widget_get_allocation(m_canvas, &canvas);
  const Rect at = box.bounds_in_form();
  const Rect shown = shown_area(box, m_client);
  return {at.left + canvas.x * m_scale,
          at.top + canvas.y * m_scale,
          {shown.left - at.left, shown.top - at.top, shown.right - at.left, shown.bottom - at.top}};
}

// The puts of a surface's frame on the window, the frame's pixel (0, 0) where the surface lies.
x11::FramePuts FormWindow::puts_of(const FrameBuffer& frame, const PictureBox& box) const {
  const Placement placed = placement_of(box);
  return {frame, x11::id_of(toplevel()), placed.left, placed.top};
}

// Puts `area` (device pixels of the client area, inside the surface) of the surface's frame on the
// window; false when the frame is not one the display reads.
bool FormWindow::put(PictureBox& box, const Rect& area) {
  const x11::FramePuts puts = puts_of(frame_of(box), box);
  if (!puts) return false;
  const Rect at = box.bounds_in_form();
  puts.put({area.left - at.left, area.top - at.top, area.right - at.left, area.bottom - at.top});
  lend_pen(box);
  return true;
}

// Only the changed rectangles are drawn again; an unmapped window draws nothing and realises nothing.
void FormWindow::present(PictureBox& box, std::span<const Rect> dirty) {
  // The flips queued since the last present go to the server, ahead of any put.
  if (const auto flips = m_flips.find(&box); flips != m_flips.end()) flips->second->batch.reset();
  if (dirty.empty()) return;
  if (m_bare != nullptr) {
    if (!gdk_window_is_viewable(m_bare)) return;
    if (!box.realized()) {
      // The first image is drawn when the window is exposed, as GTK's draw would.
      gdk_window_invalidate_rect(m_bare, nullptr, FALSE);
      return;
    }
  } else if (m_canvas == nullptr || !gtk_widget_get_mapped(m_canvas)) {
    return;
  }
  const Rect at = box.bounds_in_form();
  const Rect shown = shown_area(box, m_client);
  if (m_direct && box.realized() && present_directly(box, dirty)) return;
  if (m_bare != nullptr) return;  // it has no canvas to draw them otherwise
  for (const Rect& r : dirty) {
    const Rect area = intersect({r.left + at.left, r.top + at.top, r.right + at.left, r.bottom + at.top}, shown);
    if (area.empty()) continue;
    const int x0 = area.left / m_scale;
    const int y0 = area.top / m_scale;
    const int x1 = (area.right + m_scale - 1) / m_scale;
    const int y1 = (area.bottom + m_scale - 1) / m_scale;
    gtk_widget_queue_draw_area(m_canvas, x0, y0, x1 - x0, y1 - y0);
  }
}

// The changed rectangles put on the window from the frame, the window and the frame's kind looked up
// once for them all; false when the frame is not one the display reads.
bool FormWindow::present_directly(PictureBox& box, std::span<const Rect> dirty) {
  const x11::FramePuts puts = puts_of(box.pixels(), box);
  if (!puts) return false;
  const x11::PutBatch batch(fate());
  puts.put_each(dirty, placement_of(box).shown);
  lend_pen(box);
  return true;
}

void FormWindow::lend_pen(PictureBox& box) {
  auto& flips = m_flips[&box];
  if (flips) return;
  flips = std::make_unique<Flips>(*this, box);
  box.set_screen_pen(flips.get());
}

// Runs of the surface's frame flipped on the window, where and as far as the form shows the surface.
void FormWindow::flip(Flips& flips, Pixel color, std::span<const RowRun> runs) {
  GdkWindow* window = toplevel();
  if (window == nullptr) return;  // not on the screen: the frame is put whole when it is
  if (!flips.batch) flips.batch.emplace(fate());
  const Placement placed = placement_of(flips.box);
  x11::flip(x11::id_of(window), placed.left, placed.top, color, runs, placed.shown);
}

// The surfaces draw what their frames owe; their flips still queued go out.
void FormWindow::take_pens_back() {
  for (auto& [box, flips] : m_flips) box->set_screen_pen(nullptr);
  m_flips.clear();
}

gboolean FormWindow::on_canvas_draw(GtkWidget* /*widget*/, cairo_t* cr, gpointer self) {
  auto* window = static_cast<FormWindow*>(self);
  window->m_platform.dispatch([&] { window->draw_canvas(cr); });
  return TRUE;
}

void FormWindow::draw_canvas(cairo_t* cr) {
  GdkRectangle clip{};
  if (gdk_cairo_get_clip_rectangle(cr, &clip) == 0) return;
  const Rect clip_px = to_device(clip.x, clip.y, clip.width, clip.height);
  // Two passes over the controls rather than a list of the shown ones: a paint allocates nothing.
  bool covered = false;
  for (const auto& control : m_form.controls()) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box != nullptr && intersect(shown_area(*box, m_client), clip_px) == clip_px) covered = true;
  }
  if (!covered) {
    set_source_color(cr, m_form.def().back_color.value_or(kButtonFace));
    cairo_paint(cr);
    // What cairo drew goes out before the puts that lie over it.
    cairo_surface_flush(cairo_get_target(cr));
  }
  const double scale = m_scale;
  std::optional<x11::PutBatch> batch;
  if (m_direct) batch.emplace(fate());
  for (const auto& control : m_form.controls()) {
    auto* box = dynamic_cast<PictureBox*>(control.get());
    if (box == nullptr) continue;
    const Rect part = intersect(shown_area(*box, m_client), clip_px);
    if (part.empty()) continue;
    if (m_direct && put(*box, part)) continue;
    cairo_surface_t* pixels = surface_of(*box);
    const Rect at = box->bounds_in_form();
    // cairo sends the pixels through a shared-memory block as large as what one paint uploads, and keeps
    // the block. A whole frame goes up in bands of a few megabytes, each waited for, so a block of one
    // band's size serves the first frame and every tick after it, not one of the screen's size.
    const int band_rows = std::max(1, kBandBytes / (part.width() * static_cast<int>(sizeof(Pixel))));
    for (int top = part.top; top < part.bottom; top += band_rows) {
      const int bottom = std::min(part.bottom, top + band_rows);
      cairo_save(cr);
      cairo_rectangle(cr, part.left / scale, top / scale, part.width() / scale, (bottom - top) / scale);
      cairo_clip(cr);
      cairo_set_source_surface(cr, pixels, at.left / scale, at.top / scale);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
      cairo_paint(cr);
      cairo_restore(cr);
      if (bottom < part.bottom) gdk_display_sync(gtk_widget_get_display(m_canvas));
    }
  }
}

cairo_surface_t* FormWindow::surface_of(PictureBox& box) {
  const FrameBuffer& frame = frame_of(box);
  auto& painted = m_painted[&box];
  if (!painted) painted = std::make_unique<Painted>();
  if (painted->surface == nullptr || painted->data != frame.row(0) || painted->size != frame.size()) {
    if (painted->surface != nullptr) cairo_surface_destroy(painted->surface);
    auto* data = reinterpret_cast<unsigned char*>(const_cast<Pixel*>(frame.row(0)));
    painted->surface = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_RGB24, frame.width(), frame.height(),
                                                           static_cast<int>(frame.stride() * sizeof(Pixel)));
    cairo_surface_set_device_scale(painted->surface, m_scale, m_scale);
    painted->data = frame.row(0);
    painted->size = frame.size();
  }
  // The engine changes the pixels behind cairo's back: forget any copy cairo keeps of them.
  cairo_surface_mark_dirty(painted->surface);
  return painted->surface;
}

gboolean FormWindow::on_image_draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  const auto& image = static_cast<const Image&>(*static_cast<Link*>(data)->control);
  const PictureRef& picture = image.Picture();
  if (!picture || picture->width() <= 0 || picture->height() <= 0) return FALSE;
  auto* pixels = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(picture->row(0)));
  cairo_surface_t* source = cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_ARGB32, picture->width(),
                                                                picture->height(), picture->width() * 4);
  cairo_save(cr);
  if (image.Stretch()) {
    cairo_scale(cr, gtk_widget_get_allocated_width(widget) / static_cast<double>(picture->width()),
                gtk_widget_get_allocated_height(widget) / static_cast<double>(picture->height()));
  } else {
    cairo_surface_set_device_scale(source, gtk_widget_get_scale_factor(widget), gtk_widget_get_scale_factor(widget));
  }
  cairo_set_source_surface(cr, source, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(source);
  return FALSE;
}

gboolean FormWindow::on_shape_draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
  const auto& shape = static_cast<const Shape&>(*static_cast<Link*>(data)->control);
  const double width = gtk_widget_get_allocated_width(widget);
  const double height = gtk_widget_get_allocated_height(widget);
  const double pixel = 1.0 / gtk_widget_get_scale_factor(widget);
  set_source_color(cr, shape.FillColor());
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_fill(cr);
  set_source_color(cr, shape.BorderColor());
  cairo_set_line_width(cr, pixel);
  cairo_rectangle(cr, pixel / 2, pixel / 2, width - pixel, height - pixel);
  cairo_stroke(cr);
  return FALSE;
}

}  // namespace forms::gtk
