// What the picture loaders check in a file's bytes before a decoder sees them: which format the file is
// (by its signature, never by its name), the size its header declares, and how many scans a JPEG has and
// whether it ends. Cheap checks over bytes as they stream past; none allocates. Both operating systems'
// loaders apply them, so a picture is refused for the same reasons everywhere, before a decoder that
// would trust its header (some decode a whole JPEG before they report its size) allocates anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "pictures/picture.h"
#include "values/geometry.h"
#include "values/result.h"

namespace forms {

// The formats the loaders decode: the GIF, JPEG and bitmap files the program promises, and PNG. TIFF is
// recognised only to be refused: its decoders bring a dozen codecs and read the whole file first.
enum class PictureFormat { Unknown, Jpeg, Png, Gif, Bmp, Tiff };

// Why a file of a known signature is not decoded, for TIFF; nullptr for the formats that are.
const char* refused_format(PictureFormat format);
// What a format may hold: kMaxSourcePixels for JPEG, which is scaled as it is decoded, else
// whole_decode_cap(bound).
long long pixel_cap(PictureFormat format, Size bound);

// Enough leading bytes to tell every format apart and to check the fixed part of its header (a bitmap's
// file and info headers take 54).
constexpr std::size_t kHeadBytes = 54;

PictureFormat sniff_format(std::span<const std::uint8_t> head);
// gdk-pixbuf's module name for a format that is decoded; nullptr for the others.
const char* module_name(PictureFormat format);
// The size the header declares: a PNG's IHDR, a GIF's logical screen, a bitmap's info header. nullopt
// for the formats whose size is not at a fixed place (JPEG: see JpegScanCounter::frame_size; TIFF).
std::optional<Size> declared_size(PictureFormat format, std::span<const std::uint8_t> head);
// Why a header that the decoder would trust for an allocation before any size check is refused, or
// nullptr. A bitmap's info header is read into a buffer of the size it claims for itself, so one
// claiming 640 MB costs 640 MB (real ones are 12 to 124 bytes); and everything up to the offset its
// file header gives for the pixels is buffered, so an offset of 760 MB costs that much; and its palette
// is allocated for the number of colours the info header claims, so a 64-byte file claiming 3 billion
// colours costs 600 MB.
const char* implausible_header(PictureFormat format, std::span<const std::uint8_t> head);

// The largest picture file worth reading, in every format: it holds a 24-bit bitmap of 22 Mpx, and any
// JPEG, PNG or GIF a camera or an editor writes; files that take seconds to parse are larger.
constexpr std::uint64_t kMaxPictureBytes = 64u << 20;

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
  // The size of the first frame header (SOF) seen, if any.
  std::optional<Size> frame_size() const { return m_frame_size; }
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
  std::uint8_t m_frame_header[5]{};  // precision, height, width of a frame header, as they come
  std::uint32_t m_frame_header_seen = 0;
  std::optional<Size> m_frame_size;
};

// Checks a whole file's bytes before a decoder sees them: a format this program reads, a plausible header,
// a declared size within the pixel limit, and for a JPEG at most kMaxJpegScans scans and an end marker.
// Returns the format, or why the bytes are refused.
Result<PictureFormat> check_picture_bytes(std::span<const std::uint8_t> bytes);

}  // namespace forms
