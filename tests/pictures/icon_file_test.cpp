// Choosing an image from an .ico file's directory, and refusing directories that point outside the file.
#include "pictures/icon_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

struct Entry {
  int width;  // 256 is stored as 0
  int bits;
  std::uint32_t length;
  std::uint32_t offset;
};

// An icon file whose directory lists `entries`, followed by `tail` bytes of image data.
std::vector<std::byte> icon_file(const std::vector<Entry>& entries, std::size_t tail) {
  std::vector<std::byte> out;
  const auto put16 = [&](unsigned v) {
    out.push_back(static_cast<std::byte>(v & 0xFF));
    out.push_back(static_cast<std::byte>((v >> 8) & 0xFF));
  };
  const auto put32 = [&](std::uint32_t v) { put16(v & 0xFFFF), put16(v >> 16); };
  put16(0), put16(1), put16(static_cast<unsigned>(entries.size()));
  for (const Entry& e : entries) {
    out.push_back(static_cast<std::byte>(e.width & 0xFF));
    out.push_back(static_cast<std::byte>(e.width & 0xFF));
    put16(0), put16(1), put16(static_cast<unsigned>(e.bits)), put32(e.length), put32(e.offset);
  }
  out.resize(out.size() + tail);
  return out;
}

std::size_t offset_of(std::span<const std::byte> file, std::optional<std::span<const std::byte>> image) {
  return image ? static_cast<std::size_t>(image->data() - file.data()) : 0;
}

TEST(IconFile, PrefersTheDeepestColourThenTheNearestWidth) {
  // Data starts after the header (6) and four entries (64): offsets 70, 80, 90, 100.
  const auto file = icon_file({{16, 8, 10, 70}, {32, 32, 10, 80}, {48, 32, 10, 90}, {256, 32, 10, 100}}, 40);
  EXPECT_EQ(offset_of(file, forms::best_icon_image(file, 32)), 80u);
  EXPECT_EQ(offset_of(file, forms::best_icon_image(file, 44)), 90u);
  EXPECT_EQ(offset_of(file, forms::best_icon_image(file, 16)), 80u) << "32-bit colour beats the exact 8-bit size";
  EXPECT_EQ(offset_of(file, forms::best_icon_image(file, 1000)), 100u) << "a stored 0 is 256 pixels";
}

// An entry whose bytes do not lie wholly inside the file is passed over, whatever its numbers, including
// an offset and length whose sum wraps in 32 bits.
TEST(IconFile, EntriesOutsideTheFileAreSkipped) {
  const auto file = icon_file({{32, 32, 0x20, 0xFFFFFFF0u}, {32, 32, 100, 30}, {32, 32, 0, 38}, {16, 8, 10, 70}}, 10);
  EXPECT_EQ(offset_of(file, forms::best_icon_image(file, 32)), 70u);
  const auto only_bad = icon_file({{32, 32, 0x20, 0xFFFFFFF0u}}, 10);
  EXPECT_FALSE(forms::best_icon_image(only_bad, 32));
}

TEST(IconFile, WhatIsNoIconIsRefused) {
  auto file = icon_file({{32, 32, 10, 22}}, 10);
  EXPECT_TRUE(forms::best_icon_image(file, 32));
  EXPECT_FALSE(forms::best_icon_image(std::span(file).first(5), 32)) << "shorter than the header";
  EXPECT_FALSE(forms::best_icon_image(std::span(file).first(12), 32)) << "the directory cut short";
  file[2] = std::byte{2};  // a cursor file
  EXPECT_FALSE(forms::best_icon_image(file, 32));
}

TEST(IconFile, TheProgramsOwnIconHasItsSizes) {
  std::ifstream in(std::string(DIALSAVER_RESOURCES) + "/clock.ico", std::ios::binary);
  const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::span bytes(reinterpret_cast<const std::byte*>(raw.data()), raw.size());
  for (const int size : {16, 32, 48, 256}) EXPECT_TRUE(forms::best_icon_image(bytes, size)) << size;
}

}  // namespace
