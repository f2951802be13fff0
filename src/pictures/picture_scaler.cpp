#include "pictures/picture_scaler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "values/numeric.h"

namespace forms {
namespace {

// The scaled channels are laid out as the frame's pixels lie in memory.
static_assert(std::endian::native == std::endian::little, "pixels are read as bytes B, G, R, A");

// The first pixel whose centre lies at or right of `edge`.
int first_pixel(double edge) { return static_cast<int>(std::ceil(edge - 0.5)); }

// v / 255, rounded, for v up to 255 * 255.
std::uint32_t div255(std::uint32_t v) { return (v + 128 + ((v + 128) >> 8)) >> 8; }

}  // namespace

PictureScaler::PictureScaler(PictureRef picture, double x0, double y0, double x1, double y1, Size frame)
    : m_picture(std::move(picture)) {
  x0 = tame(x0), x1 = tame(x1), y0 = tame(y0), y1 = tame(y1);
  const bool mirror_x = x1 < x0;
  const bool mirror_y = y1 < y0;
  if (mirror_x) std::swap(x0, x1);
  if (mirror_y) std::swap(y0, y1);
  m_area = intersect({first_pixel(x0), first_pixel(y0), first_pixel(x1), first_pixel(y1)},
                     {0, 0, frame.width, frame.height});
  if (m_area.empty()) return;
  m_x = make_axis(m_area.left, m_area.width(), x0, x1, mirror_x, m_picture->width());
  m_y = make_axis(m_area.top, m_area.height(), y0, y1, mirror_y, m_picture->height());
  const auto slots = static_cast<std::size_t>(m_y.max_count + 1);
  const auto channels = static_cast<std::size_t>(m_area.width()) * 4;
  m_rows.resize(slots * channels);
  m_row_of_slot.assign(slots, -1);
  m_sum.resize(channels);
  m_mixed.resize(channels);
  if (m_x.max_count == 2 && m_x.weight.size() == 2 * m_x.first.size()) {
    // Two taps everywhere (enlarging): the first weight to 8 fraction bits, the second making up 256.
    m_x_pairs.resize(m_x.first.size());
    for (std::size_t k = 0; k < m_x_pairs.size(); ++k)
      m_x_pairs[k] = static_cast<std::uint16_t>((m_x.weight[2 * k] + 32) >> 6);
    m_spread.resize(static_cast<std::size_t>(m_picture->width()));
  }
}

PictureScaler::Axis PictureScaler::make_axis(int dest_first, int dest_count, double d0, double d1, bool mirrored,
                                             int source) {
  Axis axis;
  axis.first.resize(static_cast<std::size_t>(dest_count));
  axis.count.resize(static_cast<std::size_t>(dest_count));
  axis.offset.resize(static_cast<std::size_t>(dest_count));
  const double scale = source / (d1 - d0);  // source pixels per destination pixel
  std::vector<double> taps;
  for (int k = 0; k < dest_count; ++k) {
    const double at = dest_first + k + 0.5;
    const double centre = (mirrored ? d1 - at : at - d0) * scale;  // in source pixels
    taps.clear();
    int first = 0;
    if (scale <= 1) {
      // Enlarging: linear interpolation between the two nearest source pixels (always two taps, the
      // second perhaps weighing nothing, so that the scaling loop need not count).
      const double s = std::clamp(centre - 0.5, 0.0, source - 1.0);
      first = std::max(0, std::min(static_cast<int>(s), source - 2));
      const double f = s - first;
      taps.push_back(1 - f);
      if (source > 1) taps.push_back(f);
    } else {
      // Shrinking: the average over the destination pixel's footprint.
      const double u0 = std::clamp(centre - scale / 2, 0.0, static_cast<double>(source));
      const double u1 = std::clamp(centre + scale / 2, 0.0, static_cast<double>(source));
      first = std::min(static_cast<int>(u0), source - 1);
      const int end = std::max(first + 1, std::min(source, static_cast<int>(std::ceil(u1))));
      const double total = std::max(u1 - u0, 1e-9);
      for (int i = first; i < end; ++i)
        taps.push_back(std::max(std::min<double>(i + 1, u1) - std::max<double>(i, u0), 0.0) / total);
    }
    const auto index = static_cast<std::size_t>(k);
    axis.first[index] = first;
    axis.count[index] = static_cast<int>(taps.size());
    axis.offset[index] = static_cast<int>(axis.weight.size());
    axis.max_count = std::max(axis.max_count, axis.count[index]);
    // Rounded to fixed point; what rounding lost or added goes to the largest weight, so they sum to kOne.
    int sum = 0;
    std::size_t largest = axis.weight.size();
    for (double w : taps) {
      const auto q = static_cast<std::uint16_t>(std::floor(w * kOne + 0.5));
      if (axis.weight.size() == largest || q > axis.weight[largest]) largest = axis.weight.size();
      axis.weight.push_back(q);
      sum += q;
    }
    axis.weight[largest] = static_cast<std::uint16_t>(axis.weight[largest] + (kOne - sum));
  }
  return axis;
}

// Source row `source_row` scaled across the area, 4 channels per pixel with 8 fraction bits.
const std::uint16_t* PictureScaler::scaled_row(int source_row) {
  const auto width = static_cast<std::size_t>(m_area.width());
  const std::size_t slot = static_cast<std::size_t>(source_row) % m_row_of_slot.size();
  std::uint16_t* out = m_rows.data() + slot * width * 4;
  if (m_row_of_slot[slot] == source_row) return out;
  m_row_of_slot[slot] = source_row;
  // The source's bytes, pixel by pixel in memory order: the channels in the order the frame stores them.
  const auto* src = reinterpret_cast<const std::uint8_t*>(m_picture->row(source_row));
  if (!m_x_pairs.empty()) {
    // Enlarging: each source pixel's channels spread to four 16-bit lanes, so that one multiplication
    // weighs all four; with weights of 8 fraction bits summing to 256 no lane can carry into the next.
    const std::uint32_t* pixels = m_picture->row(source_row);
    for (int i = 0; i < m_picture->width(); ++i) {
      const std::uint64_t p = pixels[i];
      m_spread[static_cast<std::size_t>(i)] =
          (p & 0xFF) | ((p & 0xFF00) << 8) | ((p & 0xFF0000) << 16) | ((p & 0xFF000000) << 24);
    }
    const std::uint64_t* spread = m_spread.data();
    for (std::size_t k = 0; k < width; ++k) {
      const std::uint64_t w0 = m_x_pairs[k];
      const std::uint64_t* q = spread + m_x.first[k];
      const std::uint64_t v = w0 * q[0] + (256 - w0) * q[1];
      std::memcpy(out + 4 * k, &v, sizeof v);
    }
    return out;
  }
  for (std::size_t k = 0; k < width; ++k) {
    const std::uint8_t* p = src + 4 * static_cast<std::size_t>(m_x.first[k]);
    const std::uint16_t* w = m_x.weight.data() + m_x.offset[k];
    std::uint32_t acc[4] = {0, 0, 0, 0};
    for (int t = 0; t < m_x.count[k]; ++t) {
      for (std::size_t c = 0; c < 4; ++c) acc[c] += w[t] * std::uint32_t{p[4 * static_cast<std::size_t>(t) + c]};
    }
    for (std::size_t c = 0; c < 4; ++c) out[4 * k + c] = static_cast<std::uint16_t>((acc[c] + 32) >> 6);
  }
  return out;
}

// The scaled picture's pixels [begin, end) (counted in channels) of row j of the area, as bytes in the
// frame's memory order.
void PictureScaler::mix_rows(std::size_t j, std::size_t begin, std::size_t end) {
  constexpr std::uint32_t kHalf = 1u << (kShift + 7);
  std::uint8_t* mixed = m_mixed.data();
  const std::uint16_t* w = m_y.weight.data() + m_y.offset[j];
  const std::uint16_t* r0 = scaled_row(m_y.first[j]);
  if (m_y.count[j] == 1) {
    for (std::size_t i = begin; i < end; ++i)
      mixed[i] = static_cast<std::uint8_t>((w[0] * std::uint32_t{r0[i]} + kHalf) >> (kShift + 8));
    return;
  }
  const std::uint16_t* r1 = scaled_row(m_y.first[j] + 1);
  if (m_y.count[j] == 2) {
    const std::uint32_t w0 = w[0];
    const std::uint32_t w1 = w[1];
    for (std::size_t i = begin; i < end; ++i) {
      mixed[i] = static_cast<std::uint8_t>((w0 * r0[i] + w1 * r1[i] + kHalf) >> (kShift + 8));
    }
    return;
  }
  std::uint32_t* sum = m_sum.data();
  for (std::size_t i = begin; i < end; ++i) sum[i] = w[0] * std::uint32_t{r0[i]} + w[1] * std::uint32_t{r1[i]};
  for (int t = 2; t < m_y.count[j]; ++t) {
    const std::uint16_t* r = scaled_row(m_y.first[j] + t);
    for (std::size_t i = begin; i < end; ++i) sum[i] += w[t] * std::uint32_t{r[i]};
  }
  for (std::size_t i = begin; i < end; ++i) mixed[i] = static_cast<std::uint8_t>((sum[i] + kHalf) >> (kShift + 8));
}

void PictureScaler::composite(Pixel* row, int y, int x0, int x1) {
  const std::size_t begin = static_cast<std::size_t>(x0 - m_area.left) * 4;
  const std::size_t end = static_cast<std::size_t>(x1 - m_area.left) * 4;
  mix_rows(static_cast<std::size_t>(y - m_area.top), begin, end);
  const std::uint8_t* mixed = m_mixed.data() + begin;
  if (opaque()) {
    for (int x = x0; x < x1; ++x, mixed += 4) {
      std::uint32_t p;
      std::memcpy(&p, mixed, 4);
      row[x] = p & 0xFFFFFFu;
    }
    return;
  }
  for (int x = x0; x < x1; ++x, mixed += 4) {
    const std::uint32_t keep = 255u - mixed[3];
    Pixel d = 0;
    for (int c = 0; c < 3; ++c) {
      const std::uint32_t under = (row[x] >> (8 * c)) & 0xFF;
      d |= std::min<std::uint32_t>(255, mixed[c] + div255(keep * under)) << (8 * c);
    }
    row[x] = d;
  }
}

}  // namespace forms
