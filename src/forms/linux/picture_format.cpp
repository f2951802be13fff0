#include "forms/linux/picture_format.h"

#include <algorithm>
#include <array>

namespace forms::linux_services {
namespace {

bool starts_with(std::span<const std::uint8_t> head, std::span<const std::uint8_t> signature) {
  return head.size() >= signature.size() && std::equal(signature.begin(), signature.end(), head.begin());
}

constexpr std::array<std::uint8_t, 3> kJpeg{0xFF, 0xD8, 0xFF};
constexpr std::array<std::uint8_t, 8> kPng{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::array<std::uint8_t, 6> kGif87{'G', 'I', 'F', '8', '7', 'a'};
constexpr std::array<std::uint8_t, 6> kGif89{'G', 'I', 'F', '8', '9', 'a'};
constexpr std::array<std::uint8_t, 2> kBmp{'B', 'M'};

// Markers that stand alone, without a length: TEM, RST0-7, SOI, EOI.
bool is_standalone(std::uint8_t code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD9); }

}  // namespace

PictureFormat sniff_format(std::span<const std::uint8_t> head) {
  if (starts_with(head, kJpeg)) return PictureFormat::Jpeg;
  if (starts_with(head, kPng)) return PictureFormat::Png;
  if (starts_with(head, kGif87) || starts_with(head, kGif89)) return PictureFormat::Gif;
  if (starts_with(head, kBmp)) return PictureFormat::Bmp;
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
    case PictureFormat::Unknown:
      break;
  }
  return nullptr;
}

const char* implausible_header(PictureFormat format, std::span<const std::uint8_t> head) {
  constexpr std::size_t kInfoSizeAt = 14;
  if (format != PictureFormat::Bmp || head.size() < kInfoSizeAt + 4) return nullptr;
  const std::uint32_t info_size = head[kInfoSizeAt] | (head[kInfoSizeAt + 1] << 8) | (head[kInfoSizeAt + 2] << 16) |
                                  (static_cast<std::uint32_t>(head[kInfoSizeAt + 3]) << 24);
  if (info_size < 12 || info_size > 124) return "the bitmap's header has an impossible size";
  return nullptr;
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

}  // namespace forms::linux_services
