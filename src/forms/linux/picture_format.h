// What the picture loader checks in a file's bytes before a decoder sees them: which format the file is
// (by its signature, never by its name), and how many scans a JPEG has and whether it ends. These are
// cheap checks over bytes as they stream past; none allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace forms::linux_services {

// The formats the loader decodes: the GIF, JPEG and bitmap files the program promises, and PNG.
enum class PictureFormat { Unknown, Jpeg, Png, Gif, Bmp };

// Enough leading bytes to tell every format apart and to check the fixed part of its header.
constexpr std::size_t kHeadBytes = 32;

PictureFormat sniff_format(std::span<const std::uint8_t> head);
// gdk-pixbuf's module name for a known format.
const char* module_name(PictureFormat format);
// Why a header that the decoder would trust for an allocation before any size check is refused, or
// nullptr. A bitmap's info header is read into a buffer of the size it claims for itself, so one
// claiming 640 MB costs 640 MB; real ones are 12 to 124 bytes.
const char* implausible_header(PictureFormat format, std::span<const std::uint8_t> head);

// A progressive JPEG is redrawn once per scan, so a small file of a few thousand empty scans costs
// minutes. Encoders write one scan (baseline) or up to a dozen or so (progressive).
constexpr int kMaxJpegScans = 32;

// Follows a JPEG's marker structure across pieces of the stream, counting its scans (SOS markers),
// without being misled by marker-like bytes inside segments or entropy-coded data. Everything after the
// end-of-image marker is ignored, as the decoder ignores it.
class JpegScanCounter {
 public:
  void feed(std::span<const std::uint8_t> bytes);
  int scans() const { return m_scans; }
  // Whether the end-of-image marker has been seen: a JPEG cut short decodes with its lost part grey,
  // and this tells it from a whole one.
  bool ended() const { return m_state == State::Done; }

 private:
  enum class State { SeekMarker, MarkerCode, LengthHigh, LengthLow, Segment, Entropy, EntropyFF, Done };
  void on_marker(std::uint8_t code);
  void step(std::uint8_t b);

  State m_state = State::SeekMarker;
  std::uint8_t m_marker = 0;
  std::uint32_t m_remaining = 0;  // bytes of the current segment still to skip
  int m_scans = 0;
};

}  // namespace forms::linux_services
