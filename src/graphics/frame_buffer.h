// The pixels of a drawing surface, 0x00RRGGBB, `stride` pixels from one row to the next, and who makes
// them. A back end makes the frames of its windows (a DIB section on Windows, page-aligned memory
// elsewhere) so that it can draw text into them and present them without a copy.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <string>

#include "values/color.h"
#include "values/geometry.h"

namespace forms {

class FrameBuffer {
 public:
  virtual ~FrameBuffer() = default;
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  Pixel* row(int y) { return m_data + static_cast<std::ptrdiff_t>(y) * m_stride; }
  const Pixel* row(int y) const { return m_data + static_cast<std::ptrdiff_t>(y) * m_stride; }
  int width() const { return m_width; }
  int height() const { return m_height; }
  Size size() const { return {m_width, m_height}; }
  std::ptrdiff_t stride() const { return m_stride; }

 protected:
  FrameBuffer(Pixel* data, int width, int height, std::ptrdiff_t stride)
      : m_data(data), m_width(width), m_height(height), m_stride(stride) {}

 private:
  Pixel* m_data;
  int m_width;
  int m_height;
  std::ptrdiff_t m_stride;
};

// What a frame maker throws when the memory for a frame cannot be had: a std::bad_alloc whose text says
// which frame, so that the message that ends the program is clear ("not enough memory for a 7680 x 4320
// frame (127 MiB)").
class FrameAllocationError final : public std::bad_alloc {
 public:
  explicit FrameAllocationError(Size size);
  const char* what() const noexcept override { return m_what.c_str(); }

 private:
  std::string m_what;
};

// Makes the frames of surfaces; a surface asks once per size and keeps what it gets.
class FrameAllocator {
 public:
  virtual ~FrameAllocator() = default;
  // A frame of at least 1 x 1 pixels; throws FrameAllocationError when the memory cannot be had.
  virtual std::unique_ptr<FrameBuffer> create_frame(Size size) = 0;
  // A frame of this size is about to be asked for: an allocator that can may start making it in the
  // background. The next create_frame takes it when it is of that size, and lets it go otherwise.
  virtual void prepare(Size size) { (void)size; }
};

// Page-aligned memory that is never copied, asking the kernel for huge pages where it can: the first
// touch of a fresh 4K frame costs ~100 ms in 4 KiB page faults. Throws FrameAllocationError when the
// frame cannot be had, a size whose bytes the address space cannot even count included.
std::unique_ptr<FrameBuffer> make_memory_frame(Size size);

// The allocator of plain memory frames.
class MemoryFrameAllocator final : public FrameAllocator {
 public:
  std::unique_ptr<FrameBuffer> create_frame(Size size) override { return make_memory_frame(size); }
};

}  // namespace forms
