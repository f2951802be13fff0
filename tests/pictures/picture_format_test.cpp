#include "pictures/picture_format.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "resources/definitions.h"

namespace {

using forms::PictureFormat;
using forms::Size;

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
  std::vector<std::uint8_t> out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  out.resize(forms::kHeadBytes, 0);
  return out;
}

void put_le32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

TEST(PictureFormat, HeadersDeclareTheirSizesWhereTheFormatKeepsThem) {
  auto png = bytes(
      {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0x02, 0x58, 0x7F, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(forms::sniff_format(png), PictureFormat::Png);
  EXPECT_EQ(forms::declared_size(PictureFormat::Png, png), (Size{600, 0x7FFFFFFF}));

  auto gif = bytes({'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0x10, 0x00});
  EXPECT_EQ(forms::declared_size(forms::sniff_format(gif), gif), (Size{65535, 16}));

  auto bmp = bytes({'B', 'M'});
  put_le32(bmp, 14, 40);
  put_le32(bmp, 18, 640);
  put_le32(bmp, 22, static_cast<std::uint32_t>(-480));  // top-down
  EXPECT_EQ(forms::declared_size(forms::sniff_format(bmp), bmp), (Size{640, 480}));
  put_le32(bmp, 22, 0x80000000u);  // -2^31: no int holds its magnitude
  EXPECT_EQ(forms::declared_size(PictureFormat::Bmp, bmp), (Size{640, 0x7FFFFFFF}));
  EXPECT_EQ(forms::implausible_header(PictureFormat::Bmp, bmp), nullptr);
  put_le32(bmp, 10, 0x2D465455);  // pixels 760 MB into the file
  EXPECT_NE(forms::implausible_header(PictureFormat::Bmp, bmp), nullptr);
  put_le32(bmp, 10, 54);
  bmp[28] = 1;  // one bit a pixel: two colours at most
  put_le32(bmp, 46, 2);
  EXPECT_EQ(forms::implausible_header(PictureFormat::Bmp, bmp), nullptr);
  put_le32(bmp, 46, 0xC8FF2030);  // a palette of 3 billion colours
  EXPECT_NE(forms::implausible_header(PictureFormat::Bmp, bmp), nullptr);
  bmp[28] = 24;  // deeper pixels may bring a palette of 256 as a hint, no more
  put_le32(bmp, 46, 256);
  EXPECT_EQ(forms::implausible_header(PictureFormat::Bmp, bmp), nullptr);
  put_le32(bmp, 46, 257);
  EXPECT_NE(forms::implausible_header(PictureFormat::Bmp, bmp), nullptr);
  put_le32(bmp, 46, 0);
  put_le32(bmp, 14, 12);  // the old core header: 16-bit sizes
  bmp[18] = 0x20, bmp[19] = 0x03, bmp[20] = 0x58, bmp[21] = 0x02;
  EXPECT_EQ(forms::declared_size(PictureFormat::Bmp, bmp), (Size{800, 600}));

  EXPECT_EQ(forms::sniff_format(bytes({'I', 'I', 42, 0})), PictureFormat::Tiff);
  EXPECT_EQ(forms::sniff_format(bytes({'M', 'M', 0, 42})), PictureFormat::Tiff);
  EXPECT_EQ(forms::sniff_format(bytes({'h', 'e', 'l', 'l', 'o'})), PictureFormat::Unknown);
}

TEST(PictureFormat, AJpegsFrameSizeScansAndEndAreFoundAsTheBytesStreamPast) {
  const auto picture = resources::default_picture();
  const std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(picture.data()), picture.size());
  forms::JpegScanCounter counter;
  for (std::size_t at = 0; at < all.size(); at += 7)
    counter.feed(all.subspan(at, std::min<std::size_t>(7, all.size() - at)));
  EXPECT_EQ(counter.frame_size(), (Size{601, 601}));
  EXPECT_EQ(counter.scans(), 1);
  EXPECT_TRUE(counter.ended());
  EXPECT_TRUE(forms::check_picture_bytes(all));
  const auto cut = forms::check_picture_bytes(all.first(all.size() - 100));
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.reason(), "the JPEG is cut short");
}

}  // namespace
