// Frames whose pixels go straight to X windows, and the put that sends a rectangle of one.
//
// On a local server with MIT-SHM a frame lives in a shared-memory segment the server has attached: a put
// sends only the rectangle's coordinates, and the server copies the pixels once, from the frame itself.
// Elsewhere (a remote display, a server without the extension, a segment the server cannot attach) the
// frame is plain memory and a put sends the rectangle's pixels over the connection, again from the frame.
// Either way the program keeps no second copy of the pixels.
//
// The frames' 0x00RRGGBB words are what a 24-bit TrueColor visual with 32-bit pixels reads as they stand
// in least-significant-byte-first images. On any other default visual, or before the display is open,
// the maker hands out plain frames that put() refuses, and the windows draw them through cairo instead.
#pragma once

#include <memory>
#include <span>

#include "backends/gtk/x11/x11.h"
#include "graphics/frame_buffer.h"
#include "graphics/screen_pen.h"

namespace forms::gtk::x11 {

// How frames reach the display: not at all (cairo draws them), sent over the connection, or shared.
enum class PixelPath { Cairo, Plain, Shared };

class FrameMaker final : public FrameAllocator {
 public:
  FrameMaker();
  ~FrameMaker() override;
  FrameMaker(const FrameMaker&) = delete;
  FrameMaker& operator=(const FrameMaker&) = delete;

  // Decided once the display is open, from its visual and MIT-SHM; Cairo until then. A shared segment the
  // server refuses turns the path to Plain for every later frame.
  PixelPath path();
  std::unique_ptr<FrameBuffer> create_frame(Size size) override;
  // On the shared path the segment is made now and its pages are touched on a thread of their own (the
  // first touch of a 4K frame's pages takes some 20 ms), while the program goes on; the server attaches
  // it when the frame is asked for.
  void prepare(Size size) override;

 private:
  struct Prepared;
  bool m_decided = false;
  PixelPath m_path = PixelPath::Cairo;
  std::unique_ptr<Prepared> m_prepared;
};

// The puts of one frame on one window, whose pixel (0, 0) lies at (x, y) of the window. Each queues the
// put of an area (the frame's own pixel coordinates) with no round trip: the server reads a shared frame
// when it handles the request, and every change to the pixels is followed by a put of the rectangles it
// touched, so the last put of any pixel shows its last value. Make puts while a PutBatch lives.
class XFrame;

class FramePuts {
 public:
  FramePuts(const FrameBuffer& frame, XId window, int x, int y);
  // Whether the frame is one from a FrameMaker that the display reads; no put is made otherwise.
  explicit operator bool() const { return m_frame != nullptr; }
  void put(const Rect& area) const;
  // Puts each of `areas` cut to `within`; on a shared frame as one request, which sends only the areas.
  void put_each(std::span<const Rect> areas, const Rect& within) const;

 private:
  const XFrame* m_frame;
  XId m_window;
  int m_x;
  int m_y;
};

// Fills `area` of `window` with `color`, queued like a put: on a display that takes the frames, their words
// are its pixels.
void fill(XId window, const Rect& area, Pixel color);

// Applies the not-XOR pen in `color` to the window's own pixels at runs of a frame shown with its pixel
// (0, 0) at (x, y), cut to `within` (the frame's pixels): the server XORs them with the pen's complement, as
// the surface would the frame's words. One request, queued like a put, of eight bytes a rectangle: runs with the
// same columns in successive rows share one.
void flip(XId window, int x, int y, Pixel color, std::span<const RowRun> runs, const Rect& within);

// The puts made while one lives are sent to the server when it ends. On a window that may go with its
// host, an X error they cause (the window destroyed meanwhile) is ignored. GDK keeps each ignored error
// trap until the server has been heard from after it, and a saver hears nothing for hours: one batch in
// kSyncEvery waits for the server, so the traps kept stay few and a tick's cost stays flat. A window that
// is the program's alone needs no trap (GDK's own requests for it have none): a tick on it neither walks
// GDK's list of traps nor ever waits.
class PutBatch {
 public:
  static constexpr int kSyncEvery = 64;
  explicit PutBatch(WindowFate fate);
  ~PutBatch();
  PutBatch(const PutBatch&) = delete;
  PutBatch& operator=(const PutBatch&) = delete;

 private:
  bool m_trapped;
};

// Sends what is left in the connection's buffer and says whether Xlib's queue holds events. A flush reads
// the socket as well, so events may have come in that a poll of the socket no longer shows: a thread that
// sends while the main loop sleeps on the socket must wake the loop then. The socket is read only when
// there is something to send, which a PutBatch that has ended has sent already.
bool flush_and_check_events();

}  // namespace forms::gtk::x11
