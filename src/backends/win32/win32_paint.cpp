// Painting and presenting: the drawing surfaces blitted from their DIB sections, each then taken out of
// the clip so the background never flashes under it, then the background and the windowless controls in
// the definition's order. A tick presents only its dirty rectangles.
#include "backends/win32/win32_window.h"

#include <memory>

#include "backends/win32/win32_platform.h"
#include "backends/win32_services/dib_frame.h"
#include "backends/win32_services/wide_text.h"

namespace forms::win32 {
namespace {

COLORREF to_colorref(OleColor color) { return static_cast<COLORREF>(color & 0xFFFFFF); }

const DibFrame* dib_of(const FrameBuffer& frame) { return dynamic_cast<const DibFrame*>(&frame); }

}  // namespace

void Win32Window::on_paint() {
  PAINTSTRUCT ps{};
  HDC dc = BeginPaint(m_hwnd, &ps);
  if (dc != nullptr) paint(dc, ps.rcPaint);
  EndPaint(m_hwnd, &ps);
}

// What the window shows, drawn into a device context someone else holds: a host capturing the preview,
// or a themed control painting its parent's background under itself.
LRESULT Win32Window::on_print_client(HDC dc) {
  if (dc == nullptr || GetObjectType(dc) == 0) return 0;
  RECT client{};
  GetClientRect(m_hwnd, &client);
  paint(dc, client);
  return 0;
}

// Only the dirty rectangles travel to the screen, straight from the surface's bitmap.
void Win32Window::present(PictureBox& box, std::span<const Rect> dirty) {
  if (!surface_shown(box)) return;
  const DibFrame* frame = dib_of(box.pixels());
  if (frame == nullptr) return;
  const Rect at = box.bounds_in_form();
  WindowDc dc(m_hwnd);
  if (dc.get() == nullptr) return;
  for (const Rect& r : dirty) {
    BitBlt(dc.get(), at.left + r.left, at.top + r.top, r.width(), r.height(), frame->dc(), r.left, r.top, SRCCOPY);
  }
}

bool Win32Window::surface_shown(const PictureBox& box) const {
  return m_hwnd != nullptr && IsWindowVisible(m_hwnd) != 0 && box.Visible() && box.container() == nullptr &&
         !box.bounds().empty();
}

// Surfaces first, each then taken out of the clip region, so the background never flashes under them;
// then the background and the drawn controls in the definition's order.
void Win32Window::paint(HDC dc, const RECT& area) {
  const int saved = SaveDC(dc);
  const Rect wanted{area.left, area.top, area.right, area.bottom};
  for (ControlView& view : m_views) {
    auto* box = dynamic_cast<PictureBox*>(view.control);
    if (box == nullptr || !surface_shown(*box)) continue;
    const Rect at = box->bounds_in_form();
    const Rect part = intersect(at, wanted);
    if (part.empty()) continue;
    if (const DibFrame* frame = dib_of(box->pixels())) {
      BitBlt(dc, part.left, part.top, part.width(), part.height(), frame->dc(), part.left - at.left, part.top - at.top,
             SRCCOPY);
    }
    ExcludeClipRect(dc, at.left, at.top, at.right, at.bottom);
  }
  const std::optional<OleColor> back = m_form.def().back_color;
  GdiObject<HBRUSH> brush(CreateSolidBrush(back ? to_colorref(*back) : GetSysColor(COLOR_BTNFACE)));
  FillRect(dc, &area, brush.get());
  for (ControlView& view : m_views) {
    if (view.child == nullptr && view.control->Visible()) paint_windowless(dc, view);
  }
  RestoreDC(dc, saved);
}

void Win32Window::paint_windowless(HDC dc, ControlView& view) {
  const Rect at = view.control->bounds_in_form();
  RECT r{at.left, at.top, at.right, at.bottom};
  switch (view.control->kind()) {
    case ControlKind::Frame:
      DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
      break;
    case ControlKind::Image:
      paint_image(dc, view, at);
      break;
    case ControlKind::Label:
      paint_label(dc, view, at);
      break;
    case ControlKind::Shape: {
      auto& shape = static_cast<Shape&>(*view.control);
      GdiObject<HBRUSH> fill(CreateSolidBrush(to_colorref(shape.FillColor())));
      GdiObject<HPEN> outline(CreatePen(PS_SOLID, 1, to_colorref(shape.BorderColor())));
      Selection use_fill(dc, fill.get());
      Selection use_outline(dc, outline.get());
      Rectangle(dc, r.left, r.top, r.right, r.bottom);
      break;
    }
    default:
      break;
  }
}

// The picture is scaled once into a surface of the control's size (the engine's own smooth resampling,
// over the dialog's colour where the picture is transparent) and blitted from there on every paint.
void Win32Window::paint_image(HDC dc, ControlView& view, const Rect& at) {
  const auto& image = static_cast<const Image&>(*view.control);
  const PictureRef& picture = image.Picture();
  if (!picture || at.empty()) {
    view.image.reset();
    return;
  }
  const Size size{at.width(), at.height()};
  if (!view.image || view.image_source != picture || view.image->pixel_size() != size) {
    view.image = std::make_unique<Surface>(m_platform.services(), m_platform.services());
    view.image->resize(size, m_form.dpi());
    view.image->BackColor = static_cast<OleColor>(GetSysColor(COLOR_BTNFACE));  // the same byte order
    const float width = image.Stretch() ? static_cast<float>(size.width) : static_cast<float>(picture->width());
    const float height = image.Stretch() ? static_cast<float>(size.height) : static_cast<float>(picture->height());
    view.image->PaintPicture(picture, 0, 0, width, height);
    view.image_source = picture;
  }
  if (const DibFrame* frame = dib_of(view.image->pixels())) {
    BitBlt(dc, at.left, at.top, size.width, size.height, frame->dc(), 0, 0, SRCCOPY);
  }
}

void Win32Window::paint_label(HDC dc, ControlView& view, const Rect& at) {
  auto& label = static_cast<Label&>(*view.control);
  RECT r{at.left, at.top, at.right, at.bottom};
  const std::optional<OleColor> back = label.def().back_color;
  GdiObject<HBRUSH> brush(CreateSolidBrush(back ? to_colorref(*back) : GetSysColor(COLOR_BTNFACE)));
  FillRect(dc, &r, brush.get());
  Selection font(dc, view.font ? static_cast<HGDIOBJ>(view.font.get()) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(label.Enabled() ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
  UINT format = DT_WORDBREAK;
  if (label.def().alignment == Alignment::Right) format |= DT_RIGHT;
  if (label.def().alignment == Alignment::Center) format |= DT_CENTER;
  const std::wstring caption = widen(label.Caption());
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &r, format);
}

}  // namespace forms::win32
