#include "pictures/icon_file.h"

#include <cstdint>
#include <cstdlib>

namespace forms {
namespace {

constexpr std::size_t kHeaderBytes = 6;
constexpr std::size_t kEntryBytes = 16;

std::uint32_t u16(std::span<const std::byte> b, std::size_t at) {
  return std::to_integer<std::uint32_t>(b[at]) | std::to_integer<std::uint32_t>(b[at + 1]) << 8;
}

std::uint32_t u32(std::span<const std::byte> b, std::size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

}  // namespace

std::optional<std::span<const std::byte>> best_icon_image(std::span<const std::byte> file, int size) {
  if (file.size() < kHeaderBytes || u16(file, 0) != 0 || u16(file, 2) != 1) return std::nullopt;
  const std::size_t count = u16(file, 4);
  if (file.size() < kHeaderBytes + kEntryBytes * count) return std::nullopt;
  std::optional<std::span<const std::byte>> best;
  long best_score = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = kHeaderBytes + kEntryBytes * i;
    const std::size_t length = u32(file, entry + 8);
    const std::size_t offset = u32(file, entry + 12);
    // Compared without adding, which could wrap where a size is 32 bits.
    if (offset > file.size() || length > file.size() - offset || length == 0) continue;
    const int width = file[entry] == std::byte{0} ? 256 : std::to_integer<int>(file[entry]);
    const long score = static_cast<long>(u16(file, entry + 6)) * 100000 - std::abs(width - size);
    if (!best || score > best_score) best = file.subspan(offset, length), best_score = score;
  }
  return best;
}

}  // namespace forms
