#include "backends/win32_services/dib_frame.h"

#include <new>

namespace forms::win32 {

std::unique_ptr<DibFrame> DibFrame::make(Size size) {
  if (size.width <= 0 || size.height <= 0) size = {1, 1};
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = size.width;
  info.bmiHeader.biHeight = -size.height;  // rows top to bottom, as the engine counts them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) throw FrameAllocationError(size);
  HDC dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) {
    DeleteObject(bitmap);
    throw FrameAllocationError(size);
  }
  HGDIOBJ old = SelectObject(dc, bitmap);
  return std::unique_ptr<DibFrame>(new DibFrame(dc, bitmap, old, static_cast<Pixel*>(bits), size));
}

// A 32-bit DIB row is whole pixels, never padded, so the stride is the width.
DibFrame::DibFrame(HDC dc, HBITMAP bitmap, HGDIOBJ old_bitmap, Pixel* bits, Size size)
    : FrameBuffer(bits, size.width, size.height, size.width), m_dc(dc), m_bitmap(bitmap), m_old_bitmap(old_bitmap) {}

DibFrame::~DibFrame() {
  SelectObject(m_dc, m_old_bitmap);
  DeleteDC(m_dc);
  DeleteObject(m_bitmap);
}

}  // namespace forms::win32
