#include "pictures/gif_decoder.h"

#include <array>
#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace forms {
namespace {

constexpr int kMaxCodeBits = 12;
constexpr int kMaxCodes = 1 << kMaxCodeBits;

// Reads the file front to back; every read says whether the bytes were there.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  bool byte(std::uint8_t& out) {
    if (m_at >= m_bytes.size()) return false;
    out = m_bytes[m_at++];
    return true;
  }
  bool take(std::size_t n, std::span<const std::uint8_t>& out) {
    if (m_bytes.size() - m_at < n) return false;
    out = m_bytes.subspan(m_at, n);
    m_at += n;
    return true;
  }
  // The data of one sub-block (empty for the block that ends a run); false when the file ends first.
  bool sub_block(std::span<const std::uint8_t>& out) {
    std::uint8_t size = 0;
    return byte(size) && take(size, out);
  }
  // Past every sub-block up to and with the empty one.
  bool skip_sub_blocks() {
    std::span<const std::uint8_t> block;
    do {
      if (!sub_block(block)) return false;
    } while (!block.empty());
    return true;
  }

 private:
  std::span<const std::uint8_t> m_bytes;
  std::size_t m_at = 0;
};

int little16(std::span<const std::uint8_t> b, std::size_t at) { return b[at] | (b[at + 1] << 8); }

// 256 opaque colours from a table of RGB triples; the indexes past its end are black.
std::array<std::uint32_t, 256> colours_of(std::span<const std::uint8_t> table) {
  std::array<std::uint32_t, 256> colours{};
  for (std::size_t i = 0; i < colours.size(); ++i) {
    const std::size_t at = 3 * i;
    colours[i] = at + 2 < table.size() ? 0xFF000000u | (std::uint32_t{table[at]} << 16) |
                                             (std::uint32_t{table[at + 1]} << 8) | table[at + 2]
                                       : 0xFF000000u;
  }
  return colours;
}

// Places a frame's colour indexes, in the order the compressed data gives them, on the screen: row by
// row, or in the four passes of an interlaced frame; what lies off the screen and the transparent index
// leave the screen as it is.
class Placer {
 public:
  Placer(std::uint32_t* screen, Size screen_size, Rect frame, bool interlaced,
         const std::array<std::uint32_t, 256>& colours, int transparent)
      : m_screen(screen),
        m_screen_size(screen_size),
        m_frame(frame),
        m_interlaced(interlaced),
        m_colours(colours),
        m_transparent(transparent),
        m_left(static_cast<long long>(frame.width()) * frame.height()) {
    aim();
  }

  bool full() const { return m_left == 0; }

  void put(const std::uint8_t* indexes, int count) {
    while (count > 0 && m_left > 0) {
      const int run = std::min(count, m_row_left);
      if (m_out != nullptr) {
        for (int i = 0; i < run; ++i, ++m_x) {
          const std::uint8_t index = indexes[i];
          if (index != m_transparent && m_x < m_screen_size.width) m_out[m_x] = m_colours[index];
        }
      } else {
        m_x += run;
      }
      indexes += run;
      count -= run;
      m_left -= run;
      m_row_left -= run;
      if (m_row_left == 0 && m_left > 0) next_row();
    }
  }

 private:
  void next_row() {
    if (!m_interlaced) {
      ++m_row;
    } else {
      // Rows 0, 8, 16...; then 4, 12...; then 2, 6...; then 1, 3...
      static constexpr int kStart[4] = {0, 4, 2, 1};
      static constexpr int kStep[4] = {8, 8, 4, 2};
      m_row += kStep[m_pass];
      while (m_row >= m_frame.height() && m_pass < 3) m_row = kStart[++m_pass];
    }
    aim();
  }
  void aim() {
    m_row_left = m_frame.width();
    m_x = m_frame.left;
    const int y = m_frame.top + m_row;
    m_out = y < m_screen_size.height ? m_screen + static_cast<std::size_t>(y) * m_screen_size.width : nullptr;
  }

  std::uint32_t* m_screen;
  Size m_screen_size;
  Rect m_frame;
  bool m_interlaced;
  const std::array<std::uint32_t, 256>& m_colours;
  int m_transparent;
  long long m_left;  // indexes the frame still takes
  int m_row = 0;     // in the frame
  int m_pass = 0;
  int m_row_left = 0;
  int m_x = 0;                     // on the screen
  std::uint32_t* m_out = nullptr;  // the screen row, or nothing when it lies below the screen
};

// Variable-length LZW as GIF uses it, fed a sub-block at a time. A code past the table ends the data, and
// so does the end code; what the table cannot take after 4096 codes is decoded without new entries.
class Lzw {
 public:
  explicit Lzw(int min_code_size)
      : m_min_bits(min_code_size + 1), m_clear(1 << min_code_size), m_end(m_clear + 1), m_bits(m_min_bits) {
    for (int i = 0; i <= m_end && i < kMaxCodes; ++i) {
      m_prefix[i] = -1;
      m_suffix[i] = static_cast<std::uint8_t>(i);
      m_first[i] = static_cast<std::uint8_t>(i);
      m_length[i] = 1;
    }
    m_size = m_end + 1;
    m_last = m_clear;  // as if the data began with a clear code
  }

  bool ended() const { return m_ended; }

  void feed(std::span<const std::uint8_t> data, Placer& out) {
    for (std::uint8_t byte : data) {
      m_buffer |= static_cast<std::uint32_t>(byte) << m_buffered;
      m_buffered += 8;
      while (m_buffered >= m_bits) {
        const int code = static_cast<int>(m_buffer & ((1u << m_bits) - 1));
        m_buffer >>= m_bits;
        m_buffered -= m_bits;
        take(code, out);
        if (m_ended || out.full()) {
          m_ended = true;
          return;
        }
      }
    }
  }

 private:
  void take(int code, Placer& out) {
    if (code == m_end) {
      m_ended = true;
      return;
    }
    if (code == m_clear) {
      m_size = m_end + 1;
      m_bits = m_min_bits;
      m_last = m_clear;
      return;
    }
    if (m_last != m_clear && m_size < kMaxCodes) {
      // The new entry is the last code's string and the first index of this one's (of the last one's
      // when this code is the entry being made).
      const int from = code < m_size ? code : m_last;
      m_prefix[m_size] = static_cast<std::int16_t>(m_last);
      m_suffix[m_size] = m_first[from];
      m_first[m_size] = m_first[m_last];
      m_length[m_size] = static_cast<std::uint16_t>(m_length[m_last] + 1);
      ++m_size;
      if (m_size == (1 << m_bits) && m_bits < kMaxCodeBits) ++m_bits;
    }
    if (code >= m_size) {
      m_ended = true;
      return;
    }
    // The string is written back to front, then placed.
    int n = m_length[code];
    for (int c = code, at = n - 1; at >= 0; c = m_prefix[c], --at) m_string[at] = m_suffix[c];
    out.put(m_string.data(), n);
    m_last = code;
  }

  int m_min_bits;
  int m_clear;
  int m_end;
  int m_bits;
  int m_size = 0;
  int m_last = 0;
  bool m_ended = false;
  std::uint32_t m_buffer = 0;
  int m_buffered = 0;
  std::array<std::int16_t, kMaxCodes> m_prefix{};
  std::array<std::uint8_t, kMaxCodes> m_suffix{};
  std::array<std::uint8_t, kMaxCodes> m_first{};
  std::array<std::uint16_t, kMaxCodes> m_length{};
  std::array<std::uint8_t, kMaxCodes> m_string{};
};

const Error kCutShort{"the file is cut short"};

// The file's blocks in order: the screen, then extensions and images up to the trailer. Only the first
// image is decoded; the graphic control block before it gives its transparent index.
class GifFile {
 public:
  explicit GifFile(std::span<const std::uint8_t> file) : m_in(file) {}

  Result<PictureRef> decode(const std::function<Status(Size)>& accept) {
    if (Status ok = screen(accept); !ok) return Error{ok.reason(), ok.failure()};
    for (;;) {
      std::uint8_t introducer = 0;
      if (!m_in.byte(introducer)) return kCutShort;
      if (introducer == 0x3B) break;  // the trailer
      Status ok = ok_status();
      if (introducer == 0x21) ok = extension();
      if (introducer == 0x2C) ok = image();
      if (!ok) return Error{ok.reason(), ok.failure()};
      // Any other byte between blocks is passed over.
    }
    if (!m_drawn) return Error{"the GIF holds no picture"};
    return std::make_shared<const Picture>(m_screen.width, m_screen.height, std::move(m_pixels));
  }

 private:
  Status screen(const std::function<Status(Size)>& accept) {
    std::span<const std::uint8_t> header;
    if (!m_in.take(13, header)) return kCutShort;
    const std::string signature(header.begin(), header.begin() + 6);
    if (signature != "GIF87a" && signature != "GIF89a") return Error{"not a GIF picture (GIF87a or GIF89a)"};
    m_screen = {little16(header, 6), little16(header, 8)};
    if (Status ok = accept(m_screen); !ok) return ok;
    m_has_global = (header[10] & 0x80) != 0;
    if (m_has_global && !m_in.take(3u << ((header[10] & 7) + 1), m_global)) return kCutShort;
    return ok_status();
  }

  // A label and sub-blocks; a graphic control block before the first image is read.
  Status extension() {
    std::uint8_t label = 0;
    if (!m_in.byte(label)) return kCutShort;
    if (label == 0xF9 && !m_drawn) {
      std::span<const std::uint8_t> control;
      if (!m_in.sub_block(control)) return kCutShort;
      if (control.empty()) return ok_status();  // an empty first block ends the extension
      const bool has_transparent = (control[0] & 1) != 0;
      m_transparent = has_transparent ? (control.size() > 3 ? control[3] : 0) : -1;
    }
    return m_in.skip_sub_blocks() ? ok_status() : kCutShort;
  }

  // An image: its descriptor, colour table and compressed data, decoded onto the screen if it is the first.
  Status image() {
    std::span<const std::uint8_t> descriptor;
    if (!m_in.take(9, descriptor)) return kCutShort;
    const int left = little16(descriptor, 0);
    const int top = little16(descriptor, 2);
    const int width = little16(descriptor, 4);
    const int height = little16(descriptor, 6);
    std::span<const std::uint8_t> local;
    const bool has_local = (descriptor[8] & 0x80) != 0;
    if (has_local && !m_in.take(3u << ((descriptor[8] & 7) + 1), local)) return kCutShort;
    if (!has_local && !m_has_global) return Error{"a picture of the GIF has no colour table"};
    std::uint8_t min_code_size = 0;
    if (!m_in.byte(min_code_size)) return kCutShort;
    if (min_code_size >= kMaxCodeBits) return Error{"the GIF's compressed data is corrupt (code size)"};
    if (static_cast<long long>(width) * 4 * height >= INT_MAX) return Error{"a picture of the GIF is too large"};
    if (m_drawn) return m_in.skip_sub_blocks() ? ok_status() : kCutShort;
    if (width == 0 || height == 0) {
      return Error{"the GIF's first picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) +
                   ")"};
    }
    m_drawn = true;
    m_pixels.assign(static_cast<std::size_t>(m_screen.width) * static_cast<std::size_t>(m_screen.height), 0);
    const auto colours = colours_of(has_local ? local : m_global);
    Placer placer(m_pixels.data(), m_screen, Rect{left, top, left + width, top + height}, (descriptor[8] & 0x40) != 0,
                  colours, m_transparent);
    return decompress(min_code_size, placer);
  }

  Status decompress(int min_code_size, Placer& placer) {
    const auto lzw = std::make_unique<Lzw>(min_code_size);
    std::span<const std::uint8_t> block;
    for (;;) {
      if (!m_in.sub_block(block)) return kCutShort;
      if (block.empty()) return ok_status();
      if (!lzw->ended()) lzw->feed(block, placer);
    }
  }

  Reader m_in;
  Size m_screen;
  std::span<const std::uint8_t> m_global;
  bool m_has_global = false;
  bool m_drawn = false;
  int m_transparent = -1;  // the first image's
  std::vector<std::uint32_t> m_pixels;
};

}  // namespace

// The screen starts clear; only the first image is drawn on it.
Result<PictureRef> decode_gif(std::span<const std::uint8_t> file, const std::function<Status(Size)>& accept) {
  return GifFile(file).decode(accept);
}

}  // namespace forms
