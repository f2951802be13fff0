// A run of copy-pen drawing resolved at once. At the bottom lie, optionally, a fill of the whole frame
// with one colour and a picture composited over it; above them the figures, in the order drawn.
//
// Each row is resolved from the last figure drawn down to the first, keeping the row's covered intervals:
// a figure writes only the pixels that no later figure covers, and the pixels no figure covers get the
// bottom layers. So every pixel is written once (twice under a translucent picture: the fill, then the
// picture over it), and the frame ends exactly as drawing the layers one after another would leave it. A figure that
// cannot reach the row's uncovered pixels is skipped without working out its spans, which is what makes concentric
// rings drawn over each other cheap.
//
// Rows are resolved independently of each other, so a large batch (a whole face) is split into bands of rows
// resolved at once on the machine's cores; the frame's first touch, page by page, is shared out with them.
// Every pixel comes out the same however the rows are shared.
#pragma once

#include <optional>
#include <thread>
#include <vector>

#include "graphics/raster.h"
#include "pictures/picture_scaler.h"
#include "values/color.h"

namespace forms {

class FrameBuffer;

class CopyBatch {
 public:
  // The bottom layers; only while no figure has been added.
  void fill(Pixel color) { m_fill = color; }
  void picture(PictureScaler scaler) { m_picture.emplace(std::move(scaler)); }
  bool takes_bottom_layers() const { return m_figures.empty() && !m_picture; }

  void add(const raster::Figure& figure, Pixel color);

  // Draws everything into the frame; the batch is empty afterwards (and keeps its memory). `threads` is
  // the most threads it may use (the calling one included).
  void resolve(FrameBuffer& frame, unsigned threads = std::thread::hardware_concurrency());

  // A batch covering fewer pixels than this is resolved on the calling thread alone.
  static constexpr long long kSharedPixels = 1 << 20;

 private:
  struct Entry {
    raster::Figure figure;
    Pixel color;
    // Rings drawn one after another round one centre with growing holes (a field of rings) form a run
    // from run_start; a row's search skips the rings whose holes hold all it has left to paint.
    int run_start;
    double hole2;  // a ring's squared hole radius; negative otherwise
    raster::Point center;
  };

  // What resolving a band of rows keeps from one row to the next; one per thread.
  struct Band {
    // The covered intervals of the row being resolved: sorted, disjoint and not touching.
    std::vector<raster::Span> covered;
    int covered_count = 0;
    // Each ring's edges on the last row it was asked about, for the next row to start from.
    std::vector<raster::RingEdges> edges;
    // The bottom picture, whose scaler keeps the source rows it has scaled.
    std::optional<PictureScaler> picture;
  };

  void start(Band& band) const;
  void resolve_rows(Band& band, FrameBuffer& frame, int top, int bottom) const;
  void resolve_row(Band& band, Pixel* row, int y, int width) const;
  int skip_hidden_rings(int i, int y, int lo, int hi) const;
  static void cover(Band& band, Pixel* row, int x0, int x1, Pixel color);
  void fill_bottom(Band& band, Pixel* row, int y, int x0, int x1) const;

  std::vector<Entry> m_figures;
  std::optional<Pixel> m_fill;
  std::optional<PictureScaler> m_picture;
  Band m_band;  // the calling thread's, whose memory is kept from one batch to the next
};

}  // namespace forms
