// A surface's pixels as a top-down 32-bit DIB section, selected into its own memory device context, so
// that the engine draws straight into the bitmap and a window presents it with BitBlt, without a copy.
#pragma once

#include <windows.h>

#include <memory>

#include "graphics/frame_buffer.h"

namespace forms::win32 {

class DibFrame final : public FrameBuffer {
 public:
  // Throws FrameAllocationError (a std::bad_alloc) when the system cannot make the bitmap.
  static std::unique_ptr<DibFrame> make(Size size);
  ~DibFrame() override;

  // The memory device context that holds the bitmap, the source of every BitBlt.
  HDC dc() const { return m_dc; }

 private:
  DibFrame(HDC dc, HBITMAP bitmap, HGDIOBJ old_bitmap, Pixel* bits, Size size);
  HDC m_dc;
  HBITMAP m_bitmap;
  HGDIOBJ m_old_bitmap;
};

}  // namespace forms::win32
