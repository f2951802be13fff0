// A run of copy-pen drawing resolved at once. At the bottom lie, optionally, a fill of the whole frame
// with one colour and a picture composited over it; above them the figures, in the order drawn.
//
// Each row is resolved from the last figure drawn down to the first, keeping the row's covered intervals:
// a figure writes only the pixels that no later figure covers, and the pixels no figure covers get the
// bottom layers. So every pixel is written once (twice under a translucent picture: the fill, then the
// picture over it), and the frame ends exactly as drawing the layers one after another would leave it. A figure that
// cannot reach the row's uncovered pixels is skipped without working out its spans, which is what makes concentric
// rings drawn over each other cheap.
#pragma once

#include <optional>
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

  // Draws everything into the frame; the batch is empty afterwards (and keeps its memory).
  void resolve(FrameBuffer& frame);

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

  void resolve_row(Pixel* row, int y, int width);
  int skip_hidden_rings(int i, int y, int lo, int hi) const;
  void cover(Pixel* row, int x0, int x1, Pixel color);
  void fill_bottom(Pixel* row, int y, int x0, int x1);

  std::vector<Entry> m_figures;
  std::optional<Pixel> m_fill;
  std::optional<PictureScaler> m_picture;
  // The covered intervals of the row being resolved: sorted, disjoint and not touching.
  std::vector<raster::Span> m_covered;
  // Each ring's edges on the last row it was asked about, for the next row to start from.
  std::vector<raster::RingEdges> m_edges;
  int m_covered_count = 0;
};

}  // namespace forms
