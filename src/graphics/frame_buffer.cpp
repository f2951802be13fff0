#include "graphics/frame_buffer.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace forms {
namespace {

#if defined(__linux__)
class MappedFrame final : public FrameBuffer {
 public:
  static std::unique_ptr<FrameBuffer> make(Size size) {
    const std::size_t bytes =
        static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * sizeof(Pixel);
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw FrameAllocationError(size);
    madvise(memory, bytes, MADV_HUGEPAGE);
    return std::unique_ptr<FrameBuffer>(new MappedFrame(static_cast<Pixel*>(memory), size, bytes));
  }
  ~MappedFrame() override { munmap(row(0), m_bytes); }

 private:
  MappedFrame(Pixel* data, Size size, std::size_t bytes)
      : FrameBuffer(data, size.width, size.height, size.width), m_bytes(bytes) {}
  std::size_t m_bytes;
};
#else
class HeapFrame final : public FrameBuffer {
 public:
  static std::unique_ptr<FrameBuffer> make(Size size) {
    // A 32-bit size_t cannot count the bytes of every frame two ints can describe.
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(size.width) * static_cast<std::uint64_t>(size.height) * sizeof(Pixel);
    if (bytes > PTRDIFF_MAX) throw FrameAllocationError(size);
    Pixel* data = nullptr;
    try {
      data = static_cast<Pixel*>(::operator new[](static_cast<std::size_t>(bytes), std::align_val_t{4096}));
    } catch (const std::bad_alloc&) {
      throw FrameAllocationError(size);
    }
    return std::unique_ptr<FrameBuffer>(new HeapFrame(data, size));
  }
  ~HeapFrame() override { ::operator delete[](row(0), std::align_val_t{4096}); }

 private:
  HeapFrame(Pixel* data, Size size) : FrameBuffer(data, size.width, size.height, size.width) {}
};
#endif

}  // namespace

FrameAllocationError::FrameAllocationError(Size size)
    : m_what(
          "not enough memory for a " + std::to_string(size.width) + " x " + std::to_string(size.height) + " frame (" +
          std::to_string(
              static_cast<std::uint64_t>(size.width) * static_cast<std::uint64_t>(size.height) * sizeof(Pixel) >> 20) +
          " MiB)") {}

std::unique_ptr<FrameBuffer> make_memory_frame(Size size) {
  if (size.width <= 0 || size.height <= 0) size = {1, 1};
#if defined(__linux__)
  return MappedFrame::make(size);
#else
  return HeapFrame::make(size);
#endif
}

}  // namespace forms
