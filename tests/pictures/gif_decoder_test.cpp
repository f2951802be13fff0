// The GIF decoder: random GIFs (made here by a small encoder: palettes, transparency, interlacing, frames
// placed partly off the screen, clear codes, full code tables, later frames and extensions) decode to the
// pixels gdk-pixbuf's GIF loader shows for them; the default picture too; a first frame smaller than the
// screen leaves the rest clear.
#include "pictures/gif_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <gdk-pixbuf/gdk-pixbuf.h>
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, int v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

// GIF's LZW: codes least significant bit first, widened as the decoder's table grows. The table is
// cleared when full, or (deferred_clear) left full and used as it is.
Bytes lzw_encode(const std::vector<std::uint8_t>& indexes, int min_code_size, std::mt19937& random,
                 bool deferred_clear) {
  const int clear = 1 << min_code_size;
  Bytes out;
  std::uint32_t buffer = 0;
  int buffered = 0;
  int bits = min_code_size + 1;
  const auto emit = [&](int code) {
    buffer |= static_cast<std::uint32_t>(code) << buffered;
    buffered += bits;
    while (buffered >= 8) {
      out.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
      buffer >>= 8;
      buffered -= 8;
    }
  };
  std::map<std::pair<int, int>, int> table;
  int next = clear + 2;
  const auto reset = [&] {
    emit(clear);
    table.clear();
    next = clear + 2;
    bits = min_code_size + 1;
  };
  reset();
  int prefix = -1;
  for (std::uint8_t index : indexes) {
    if (prefix < 0) {
      prefix = index;
      continue;
    }
    const auto found = table.find({prefix, index});
    if (found != table.end()) {
      prefix = found->second;
      continue;
    }
    emit(prefix);
    if (next < 4096) {
      table[{prefix, index}] = next++;
      if (next > (1 << bits) && bits < 12) ++bits;
    } else if (!deferred_clear) {
      reset();
    }
    // Now and then a clear code where none is needed.
    if (random() % 300 == 0) reset();
    prefix = index;
  }
  if (prefix >= 0) emit(prefix);
  emit(clear + 1);
  if (buffered > 0) out.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
  return out;
}

void put_sub_blocks(Bytes& out, const Bytes& data, std::mt19937& random) {
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t n = std::min<std::size_t>(data.size() - at, 1 + random() % 255);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  }
  out.push_back(0);
}

// A random GIF and what it holds, in words.
Bytes random_gif(std::mt19937& random, std::string& what) {
  std::ostringstream said;
  Bytes gif = {'G', 'I', 'F', '8', random() % 2 ? std::uint8_t{'9'} : std::uint8_t{'7'}, 'a'};
  // Mostly small; now and then large enough for noise to fill the code table.
  const bool large = random() % 10 == 0;
  const int width = 1 + static_cast<int>(random() % (large ? 200 : 40));
  const int height = 1 + static_cast<int>(random() % (large ? 150 : 30));
  put16(gif, width);
  put16(gif, height);
  const bool global = random() % 4 != 0;
  const int global_bits = 1 + static_cast<int>(random() % 8);
  gif.push_back(static_cast<std::uint8_t>((global ? 0x80 : 0) | (global_bits - 1)));
  gif.push_back(0);
  gif.push_back(0);
  const auto put_palette = [&](int bits) {
    for (int i = 0; i < 3 * (1 << bits); ++i) gif.push_back(static_cast<std::uint8_t>(random()));
  };
  if (global) put_palette(global_bits);
  said << width << "x" << height << (global ? " global " + std::to_string(global_bits) : " no global");
  const int frames = 1 + static_cast<int>(random() % 2);
  for (int f = 0; f < frames; ++f) {
    if (random() % 3 == 0) {  // a comment
      gif.insert(gif.end(), {0x21, 0xFE});
      put_sub_blocks(gif, Bytes(1 + random() % 300, 'c'), random);
    }
    if (random() % 2 == 0) {  // a graphic control block, with a transparent index or not
      const bool transparent = random() % 2 == 0;
      const auto index = static_cast<std::uint8_t>(random() % (1 << global_bits));
      gif.insert(gif.end(), {0x21, 0xF9, 4, static_cast<std::uint8_t>(transparent ? 1 : 0), 0, 0, index, 0});
      if (f == 0) said << (transparent ? " transparent " + std::to_string(index) : " opaque");
    }
    if (random() % 5 == 0) gif.push_back(0x00);  // a stray byte between blocks
    const int fw = 1 + static_cast<int>(random() % (width + 8));
    const int fh = 1 + static_cast<int>(random() % (height + 8));
    const int left = static_cast<int>(random() % (width + 4));
    const int top = static_cast<int>(random() % (height + 4));
    const bool local = !global || random() % 3 == 0;
    const int local_bits = 1 + static_cast<int>(random() % 8);
    const bool interlaced = random() % 2 == 0;
    gif.push_back(0x2C);
    put16(gif, left);
    put16(gif, top);
    put16(gif, fw);
    put16(gif, fh);
    gif.push_back(static_cast<std::uint8_t>((local ? 0x80 : 0) | (interlaced ? 0x40 : 0) | (local_bits - 1)));
    if (local) put_palette(local_bits);
    const int colours = 1 << (local ? local_bits : global_bits);
    const int min_code_size = std::max(2, local ? local_bits : global_bits);
    gif.push_back(static_cast<std::uint8_t>(min_code_size));
    // Runs of one colour compress; noise fills the table.
    std::vector<std::uint8_t> indexes(static_cast<std::size_t>(fw) * fh);
    const bool noisy = random() % 2 == 0;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      indexes[i] =
          noisy || i == 0 || random() % 6 == 0 ? static_cast<std::uint8_t>(random() % colours) : indexes[i - 1];
    }
    // Sometimes the data ends before every pixel is given.
    if (random() % 8 == 0) indexes.resize(indexes.size() / 2);
    const bool deferred = random() % 2 == 0;
    put_sub_blocks(gif, lzw_encode(indexes, min_code_size, random, deferred), random);
    if (f == 0) {
      said << " frame " << fw << "x" << fh << "+" << left << "+" << top << (local ? " local " : " ") << "min "
           << min_code_size << (interlaced ? " interlaced" : "") << (noisy ? " noisy" : " runs")
           << (deferred ? " deferred" : "");
    }
  }
  gif.push_back(0x3B);
  what = said.str();
  return gif;
}

forms::Status accept_all(forms::Size) { return forms::ok_status(); }

#ifndef _WIN32
// What gdk-pixbuf's own GIF loader shows, as premultiplied 0xAARRGGBB, or nothing when it refuses.
std::optional<std::vector<std::uint32_t>> gdk_pixbuf_pixels(const Bytes& gif, forms::Size& size) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("gif", nullptr);
  const bool wrote = gdk_pixbuf_loader_write(loader, gif.data(), gif.size(), nullptr) != 0;
  const bool closed = gdk_pixbuf_loader_close(loader, nullptr) != 0;
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  std::optional<std::vector<std::uint32_t>> out;
  if (wrote && closed && pixbuf != nullptr) {
    size = {gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf)};
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    out.emplace();
    for (int y = 0; y < size.height; ++y) {
      const guchar* p =
          gdk_pixbuf_get_pixels(pixbuf) + static_cast<std::ptrdiff_t>(y) * gdk_pixbuf_get_rowstride(pixbuf);
      for (int x = 0; x < size.width; ++x, p += channels) {
        const std::uint32_t a = channels == 4 ? p[3] : 255;
        const auto pre = [a](std::uint32_t c) { return (c * a + 127) / 255; };
        out->push_back((a << 24) | (pre(p[0]) << 16) | (pre(p[1]) << 8) | pre(p[2]));
      }
    }
  }
  g_object_unref(loader);
  return out;
}

std::string first_difference(const std::vector<std::uint32_t>& actual, const std::vector<std::uint32_t>& expected,
                             int width) {
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (actual[i] == expected[i]) continue;
    std::ostringstream out;
    out << "pixel (" << i % width << ", " << i / width << "): 0x" << std::hex << actual[i] << ", gdk-pixbuf 0x"
        << expected[i];
    return out.str();
  }
  return "";
}

TEST(GifDecoder, RandomGifsDecodeToWhatGdkPixbufShows) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 3000; ++trial) {
    std::string what;
    const Bytes gif = random_gif(random, what);
    forms::Size size;
    const auto expected = gdk_pixbuf_pixels(gif, size);
    ASSERT_TRUE(expected.has_value()) << "trial " << trial << ": gdk-pixbuf refused " << what;
    const auto decoded = forms::decode_gif(gif, accept_all);
    ASSERT_TRUE(decoded.ok()) << "trial " << trial << ": " << decoded.reason() << "; " << what;
    ASSERT_EQ(decoded.value()->size(), size) << "trial " << trial << ": " << what;
    const std::vector<std::uint32_t> actual(decoded.value()->pixels().begin(), decoded.value()->pixels().end());
    ASSERT_EQ(first_difference(actual, *expected, size.width), "") << "trial " << trial << ": " << what;
  }
}

TEST(GifDecoder, TheDefaultPictureDecodesToWhatGdkPixbufShows) {
  std::ifstream in(std::string(DIALSAVER_RESOURCES) + "/a.gif", std::ios::binary);
  const Bytes gif((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  forms::Size size;
  const auto expected = gdk_pixbuf_pixels(gif, size);
  ASSERT_TRUE(expected.has_value());
  const auto decoded = forms::decode_gif(gif, accept_all);
  ASSERT_TRUE(decoded.ok()) << decoded.reason();
  ASSERT_EQ(decoded.value()->size(), size);
  const std::vector<std::uint32_t> actual(decoded.value()->pixels().begin(), decoded.value()->pixels().end());
  EXPECT_EQ(first_difference(actual, *expected, size.width), "");
}
#endif

// A first image that covers part of the screen leaves the rest clear; so does its transparent colour.
TEST(GifDecoder, WhatTheFirstImageLeavesIsClear) {
  // A 4 x 3 screen, white and black; a 2 x 1 image at (1, 1) of white and the transparent black.
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 3, 0, 0x80, 0, 0, 255, 255, 255, 0, 0, 0};
  gif.insert(gif.end(), {0x21, 0xF9, 4, 1, 0, 0, 1, 0});
  gif.insert(gif.end(), {0x2C, 1, 0, 1, 0, 2, 0, 1, 0, 0, 2});
  std::mt19937 random(3);
  put_sub_blocks(gif, lzw_encode({0, 1}, 2, random, false), random);
  gif.push_back(0x3B);
  const auto decoded = forms::decode_gif(gif, accept_all);
  ASSERT_TRUE(decoded.ok()) << decoded.reason();
  const std::vector<std::uint32_t> expected = {0, 0, 0, 0, 0, 0xFFFFFFFF, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<std::uint32_t>(decoded.value()->pixels().begin(), decoded.value()->pixels().end()), expected);
}

// The screen's size goes to `accept` before anything is decoded; its refusal is the decoder's.
TEST(GifDecoder, TheScreenSizeIsAcceptedFirst) {
  std::mt19937 random(4);
  std::string what;
  const Bytes gif = random_gif(random, what);
  forms::Size heard;
  const auto refused = forms::decode_gif(gif, [&](forms::Size size) -> forms::Status {
    heard = size;
    return forms::Error{"too large"};
  });
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.reason(), "too large");
  EXPECT_EQ(heard, (forms::Size{gif[6] | (gif[7] << 8), gif[8] | (gif[9] << 8)}));
}

}  // namespace
