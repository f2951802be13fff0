// The address space of the Windows builds: the x86 build is large-address-aware, so a 32-bit process gets
// 4 GiB under 64-bit Windows; the largest frames the saver makes fit beside each other; a frame that cannot
// be made throws std::bad_alloc whose text names the size, never a crash or a half-made frame.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "backends/win32_services/dib_frame.h"
#include "graphics/frame_buffer.h"
#include "pictures/picture.h"
#include "pictures/picture_format.h"

namespace {

TEST(Win32AddressSpace, TheProgramIsLargeAddressAware) {
  const auto* image = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
  EXPECT_NE(nt->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, 0)
      << "characteristics " << std::hex << nt->FileHeader.Characteristics;
  // The flag takes effect on a 64-bit kernel: under Wine, as here, or 64-bit Windows.
  BOOL wow64 = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow64);
  const bool under_wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  if (sizeof(void*) != 4 || !(wow64 || under_wine)) return;
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_GT(status.ullTotalVirtual, 3ull << 30) << "user address space " << (status.ullTotalVirtual >> 20) << " MiB";
}

// The most the saver holds at once with four 7680 x 4320 monitors: a frame for each, the largest picture
// file it reads and that picture decoded, all at once, every page of the frames' first and last rows
// written.
TEST(Win32AddressSpace, TheLargestFramesAndPictureFitAtOnce) {
  std::vector<std::unique_ptr<forms::win32::DibFrame>> frames;
  for (int monitor = 0; monitor < 4; ++monitor) {
    frames.push_back(forms::win32::DibFrame::make({7680, 4320}));
    auto& frame = *frames.back();
    ASSERT_EQ(frame.size(), (forms::Size{7680, 4320}));
    std::fill_n(frame.row(0), 7680, 1u);
    std::fill_n(frame.row(4319), 7680, 2u);
  }
  // Left unwritten but for their ends: the address space is what is tested, not the machine's memory.
  const auto file = std::make_unique_for_overwrite<char[]>(forms::kMaxPictureBytes);
  const auto decoded = std::make_unique_for_overwrite<std::uint32_t[]>(forms::kMaxSourcePixels);
  file[forms::kMaxPictureBytes - 1] = 1;
  decoded[forms::kMaxSourcePixels - 1] = 1;
}

// A frame no address space can hold throws with its size in the text; on x86 that includes frames whose
// bytes a 32-bit size_t cannot count (32768 x 32768 would wrap to 0 bytes).
TEST(Win32AddressSpace, AFrameTooLargeThrowsBadAllocNamingItsSize) {
  std::vector<forms::Size> sizes{{INT_MAX, INT_MAX}, {65535, 65535 * 8}};
  if (sizeof(void*) == 4) sizes.insert(sizes.end(), {{32768, 32768}, {1 << 30, 4}, {65536, 16385}});
  for (const forms::Size size : sizes) {
    const std::string expected =
        "not enough memory for a " + std::to_string(size.width) + " x " + std::to_string(size.height) + " frame";
    for (const char* maker : {"DibFrame::make", "make_memory_frame"}) {
      try {
        auto frame = maker[0] == 'D' ? std::unique_ptr<forms::FrameBuffer>(forms::win32::DibFrame::make(size))
                                     : forms::make_memory_frame(size);
        ADD_FAILURE() << maker << " made a " << size.width << " x " << size.height << " frame";
      } catch (const std::bad_alloc& error) {
        EXPECT_NE(std::string(error.what()).find(expected), std::string::npos)
            << maker << ": \"" << error.what() << "\", expected it to start \"" << expected << "\"";
      }
    }
  }
}

}  // namespace
