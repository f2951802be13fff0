#include "pictures/picture_format.h"

#include <algorithm>
#include <array>
#include <string>

namespace forms {
namespace {

bool starts_with(std::span<const std::uint8_t> head, std::span<const std::uint8_t> signature) {
  return head.size() >= signature.size() && std::equal(signature.begin(), signature.end(), head.begin());
}

constexpr std::array<std::uint8_t, 3> kJpeg{0xFF, 0xD8, 0xFF};
constexpr std::array<std::uint8_t, 8> kPng{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::array<std::uint8_t, 6> kGif87{'G', 'I', 'F', '8', '7', 'a'};
constexpr std::array<std::uint8_t, 6> kGif89{'G', 'I', 'F', '8', '9', 'a'};
constexpr std::array<std::uint8_t, 2> kBmp{'B', 'M'};
constexpr std::array<std::uint8_t, 4> kTiffLittle{'I', 'I', 0x2A, 0x00};
constexpr std::array<std::uint8_t, 4> kTiffBig{'M', 'M', 0x00, 0x2A};

std::uint32_t little32(std::span<const std::uint8_t> b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint32_t little16(std::span<const std::uint8_t> b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::uint32_t big32(std::span<const std::uint8_t> b, std::size_t at) {
  return (static_cast<std::uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

// A declared dimension as an int; one no int holds becomes the largest, which no size check lets through.
int dimension(std::uint32_t value) { return value > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(value); }

// Frame headers: SOF0-3, 5-7, 9-11, 13-15 (C4 is DHT, C8 reserved, CC DAC).
bool is_frame_header(std::uint8_t code) {
  return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Markers that stand alone, without a length: TEM, RST0-7, SOI, EOI.
bool is_standalone(std::uint8_t code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD9); }

}  // namespace

PictureFormat sniff_format(std::span<const std::uint8_t> head) {
  if (starts_with(head, kJpeg)) return PictureFormat::Jpeg;
  if (starts_with(head, kPng)) return PictureFormat::Png;
  if (starts_with(head, kGif87) || starts_with(head, kGif89)) return PictureFormat::Gif;
  if (starts_with(head, kBmp)) return PictureFormat::Bmp;
  if (starts_with(head, kTiffLittle) || starts_with(head, kTiffBig)) return PictureFormat::Tiff;
  return PictureFormat::Unknown;
}

const char* module_name(PictureFormat format) {
  switch (format) {
    case PictureFormat::Jpeg:
      return "jpeg";
    case PictureFormat::Png:
      return "png";
    case PictureFormat::Gif:
      return "gif";
    case PictureFormat::Bmp:
      return "bmp";
    case PictureFormat::Tiff:
    case PictureFormat::Unknown:
      break;
  }
  return nullptr;
}

const char* refused_format(PictureFormat format) {
  return format == PictureFormat::Tiff ? "TIFF pictures are not read (GIF, JPEG, PNG or bitmap only)" : nullptr;
}

long long pixel_cap(PictureFormat format, Size bound) {
  return format == PictureFormat::Jpeg ? kMaxSourcePixels : whole_decode_cap(bound);
}

const char* implausible_header(PictureFormat format, std::span<const std::uint8_t> head) {
  constexpr std::size_t kPixelsAt = 10;
  constexpr std::size_t kInfoSizeAt = 14;
  // Where a bitmap's pixels start: writers put them right after the headers and the palette, a few
  // hundred or thousand bytes in; a decoder buffers everything up to there.
  constexpr std::uint32_t kMaxPixelOffset = 1u << 20;
  if (format != PictureFormat::Bmp || head.size() < kInfoSizeAt + 4) return nullptr;
  const std::uint32_t info_size = little32(head, kInfoSizeAt);
  if (info_size < 12 || info_size > 124) return "the bitmap's header has an impossible size";
  if (little32(head, kPixelsAt) > kMaxPixelOffset) return "the bitmap's pixels lie impossibly far into the file";
  // A palette names at most 2^bits colours for pixels of up to 8 bits; deeper pixels hold their colours
  // and may bring a palette of up to 256 only as a hint for displays of fewer colours.
  constexpr std::size_t kBitsAt = 28;
  constexpr std::size_t kColoursUsedAt = 46;
  if (info_size >= 40 && head.size() >= kColoursUsedAt + 4) {
    const std::uint32_t bits = little16(head, kBitsAt);
    const std::uint32_t most = bits <= 8 ? 1u << bits : 256;
    if (little32(head, kColoursUsedAt) > most) return "the bitmap's palette claims more colours than it can have";
  }
  return nullptr;
}

std::optional<Size> declared_size(PictureFormat format, std::span<const std::uint8_t> head) {
  switch (format) {
    case PictureFormat::Png:  // the IHDR chunk comes first: width and height, big-endian
      if (head.size() < 24) return std::nullopt;
      return Size{dimension(big32(head, 16)), dimension(big32(head, 20))};
    case PictureFormat::Gif:  // the logical screen the frames are placed on
      if (head.size() < 10) return std::nullopt;
      return Size{static_cast<int>(little16(head, 6)), static_cast<int>(little16(head, 8))};
    case PictureFormat::Bmp: {  // a negative height is a top-down bitmap of that many rows
      if (head.size() < 26) return std::nullopt;
      if (little32(head, 14) == 12)
        return Size{static_cast<int>(little16(head, 18)), static_cast<int>(little16(head, 20))};
      const auto height = static_cast<std::int32_t>(little32(head, 22));
      const std::uint32_t rows =
          height < 0 ? 0u - static_cast<std::uint32_t>(height) : static_cast<std::uint32_t>(height);
      return Size{dimension(little32(head, 18)), dimension(rows)};
    }
    case PictureFormat::Jpeg:
    case PictureFormat::Tiff:
    case PictureFormat::Unknown:
      break;
  }
  return std::nullopt;
}

void JpegScanCounter::on_marker(std::uint8_t code) {
  if (code == 0xD9) {
    m_state = State::Done;
  } else if (is_standalone(code)) {
    m_state = State::SeekMarker;
  } else {
    m_marker = code;
    m_state = State::LengthHigh;
  }
}

// One byte of anything but a segment's body, which feed() skips in one go.
void JpegScanCounter::step(std::uint8_t b) {
  switch (m_state) {
    case State::SeekMarker:  // bytes between segments that are not a marker are skipped, as decoders do
      if (b == 0xFF) m_state = State::MarkerCode;
      break;
    case State::MarkerCode:
      if (b == 0x00) {
        m_state = State::SeekMarker;
      } else if (b != 0xFF) {  // 0xFF is fill before a marker
        on_marker(b);
      }
      break;
    case State::LengthHigh:
      m_remaining = static_cast<std::uint32_t>(b) << 8;
      m_state = State::LengthLow;
      break;
    case State::LengthLow:
      m_remaining |= b;
      m_remaining = m_remaining >= 2 ? m_remaining - 2 : 0;  // the length counts its own two bytes
      if (m_marker == 0xDA) ++m_scans;
      m_state = State::Segment;
      if (m_remaining == 0) m_state = m_marker == 0xDA ? State::Entropy : State::SeekMarker;
      break;
    case State::Entropy:
      if (b == 0xFF) m_state = State::EntropyFF;
      break;
    case State::EntropyFF:  // 0xFF 0x00 is a stuffed data byte; 0xFF 0xD0-0xD7 a restart marker
      if (b == 0x00 || (b >= 0xD0 && b <= 0xD7)) {
        m_state = State::Entropy;
      } else if (b != 0xFF) {
        on_marker(b);
      }
      break;
    case State::Segment:
    case State::Done:
      break;
  }
}

void JpegScanCounter::feed(std::span<const std::uint8_t> bytes) {
  std::size_t i = 0;
  while (i < bytes.size() && m_state != State::Done) {
    if (m_state == State::Segment && is_frame_header(m_marker) && !m_frame_size && m_frame_header_seen < 5) {
      m_frame_header[m_frame_header_seen++] = bytes[i++];
      if (--m_remaining == 0) m_state = State::SeekMarker;
      if (m_frame_header_seen == 5) {
        m_frame_size = Size{(m_frame_header[3] << 8) | m_frame_header[4], (m_frame_header[1] << 8) | m_frame_header[2]};
      }
      continue;
    }
    if (m_state == State::Segment) {
      const auto skip = static_cast<std::uint32_t>(std::min<std::size_t>(m_remaining, bytes.size() - i));
      m_remaining -= skip;
      i += skip;
      if (m_remaining == 0) m_state = m_marker == 0xDA ? State::Entropy : State::SeekMarker;
      continue;
    }
    step(bytes[i++]);
  }
}

Result<PictureFormat> check_picture_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return Error{"the file is empty"};
  if (bytes.size() > kMaxPictureBytes) return Error{"the file is larger than any picture this program shows"};
  const auto head = bytes.first(std::min(bytes.size(), kHeadBytes));
  const PictureFormat format = sniff_format(head);
  if (format == PictureFormat::Unknown) {
    return Error{"not a picture in a format this program reads (GIF, JPEG, PNG or bitmap)"};
  }
  if (const char* refused = refused_format(format)) return Error{refused};
  if (const char* implausible = implausible_header(format, head)) return Error{implausible};
  if (const auto size = declared_size(format, head)) {
    if (Status ok = check_source_size(*size); !ok) return Error{ok.reason()};
  }
  if (format != PictureFormat::Jpeg) return format;
  JpegScanCounter scans;
  scans.feed(bytes);
  if (scans.scans() > kMaxJpegScans) return Error{"the JPEG has more than " + std::to_string(kMaxJpegScans) + " scans"};
  if (const auto size = scans.frame_size()) {
    if (Status ok = check_source_size(*size); !ok) return Error{ok.reason()};
  }
  if (!scans.ended()) return Error{"the JPEG is cut short"};
  return format;
}

}  // namespace forms
