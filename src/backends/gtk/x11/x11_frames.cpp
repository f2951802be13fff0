#include "backends/gtk/x11/x11_frames.h"
// Before Xlib, whose macros (Status, None) would clash with its names.
#include "graphics/surface.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <gdk/gdkx.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace forms::gtk::x11 {

// A frame the X server reads: its pixels and the XImage that describes them to Xlib (which never owns
// the pixels).
class XFrame : public FrameBuffer {
 public:
  ~XFrame() override {
    if (m_image != nullptr) {
      m_image->data = nullptr;
      XDestroyImage(m_image);
    }
  }
  XFrame(const XFrame&) = delete;
  XFrame& operator=(const XFrame&) = delete;
  virtual void put(Display* display, Window window, const Rect& area, int x, int y) const = 0;
  // Puts each area cut to `within`, the frame's pixel (0, 0) at (x, y) of the window.
  virtual void put_each(Display* display, Window window, std::span<const Rect> areas, const Rect& within, int x,
                        int y) const {
    for (const Rect& area : areas) {
      const Rect part = intersect(area, within);
      if (!part.empty()) put(display, window, part, part.left + x, part.top + y);
    }
  }

 protected:
  XFrame(Pixel* data, Size size) : FrameBuffer(data, size.width, size.height, size.width) {}
  XImage* image() const { return m_image; }
  void set_image(XImage* image) { m_image = image; }

 private:
  XImage* m_image = nullptr;
};

namespace {

constexpr int kDepth = 24;

std::size_t bytes_of(Size size) {
  return static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * sizeof(Pixel);
}

// Writes every page of the memory, so that the kernel gives it its pages now rather than at each first
// touch: a megabyte per call where the kernel can, else page by page. The kernel holds the process's
// memory map while it fills a range, and every other thread's mapping of memory (a large allocation)
// waits for it: ranges of a megabyte keep those waits short.
void touch_pages(void* memory, std::size_t bytes) {
  auto* first = static_cast<char*>(memory);
  constexpr std::size_t kRange = 1 << 20;
  for (std::size_t at = 0; at < bytes; at += kRange) {
    const std::size_t length = std::min(kRange, bytes - at);
#ifdef MADV_POPULATE_WRITE
    if (madvise(first + at, length, MADV_POPULATE_WRITE) == 0) continue;
#endif
    auto* page = static_cast<volatile char*>(first + at);
    for (std::size_t offset = 0; offset < length; offset += 4096) page[offset] = 0;
  }
}

Display* xdisplay() { return GDK_DISPLAY_XDISPLAY(gdk_display_get_default()); }
Visual* default_visual(Display* display) { return DefaultVisual(display, DefaultScreen(display)); }

// Plain memory, sent over the connection by each put.
class PlainFrame final : public XFrame {
 public:
  static std::unique_ptr<FrameBuffer> make(Display* display, Size size) {
    std::unique_ptr<FrameBuffer> memory = make_memory_frame(size);
    auto frame = std::unique_ptr<PlainFrame>(new PlainFrame(std::move(memory)));
    const Size made = frame->size();
    XImage* image = XCreateImage(display, default_visual(display), kDepth, ZPixmap, 0,
                                 reinterpret_cast<char*>(frame->row(0)), static_cast<unsigned>(made.width),
                                 static_cast<unsigned>(made.height), 32, made.width * static_cast<int>(sizeof(Pixel)));
    if (image == nullptr || image->bits_per_pixel != 32) {
      if (image != nullptr) XFree(image);
      return std::move(frame->m_memory);
    }
    frame->set_image(image);
    return frame;
  }
  void put(Display* display, Window window, const Rect& area, int x, int y) const override {
    XPutImage(display, window, DefaultGC(display, DefaultScreen(display)), image(), area.left, area.top, x, y,
              static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()));
  }

 private:
  explicit PlainFrame(std::unique_ptr<FrameBuffer> memory)
      : XFrame(memory->row(0), memory->size()), m_memory(std::move(memory)) {}
  std::unique_ptr<FrameBuffer> m_memory;
};

// A System V shared-memory segment of ours, attached here; memory is nullptr when none could be had. It is
// marked for removal as soon as it is attached, so that it goes when the last process that holds it lets
// it go, however the program ends; Linux lets the X server attach a segment so marked.
struct Segment {
  int id = -1;
  Pixel* memory = nullptr;

  static Segment make(Size size) {
    const int id = shmget(IPC_PRIVATE, bytes_of(size), IPC_CREAT | 0600);
    if (id < 0) return {};
    void* memory = shmat(id, nullptr, 0);
    shmctl(id, IPC_RMID, nullptr);
    if (reinterpret_cast<std::intptr_t>(memory) == -1) return {};  // shmat fails with (void*)-1
    return {id, static_cast<Pixel*>(memory)};
  }
};

// A System V shared-memory segment the server has attached read-only.
class SharedFrame final : public XFrame {
 public:
  // nullptr when the segment cannot be had or the server refuses it.
  static std::unique_ptr<FrameBuffer> make(Display* display, Size size) {
    const Segment segment = Segment::make(size);
    if (segment.memory == nullptr) return nullptr;
    return attach(display, segment, size);
  }

  // The server attaches a segment of ours, which the frame then owns; nullptr when it refuses.
  static std::unique_ptr<FrameBuffer> attach(Display* display, const Segment& segment, Size size) {
    auto frame = std::unique_ptr<SharedFrame>(new SharedFrame(display, segment.id, segment.memory, size));
    GdkDisplay* gdk = gdk_display_get_default();
    gdk_x11_display_error_trap_push(gdk);
    XShmAttach(display, &frame->m_segment);
    if (gdk_x11_display_error_trap_pop(gdk) != 0) return nullptr;  // waits for the server's answer
    frame->m_attached = true;
    frame->set_image(XShmCreateImage(display, default_visual(display), kDepth, ZPixmap, frame->m_segment.shmaddr,
                                     &frame->m_segment, static_cast<unsigned>(size.width),
                                     static_cast<unsigned>(size.height)));
    if (frame->image() == nullptr || frame->image()->bits_per_pixel != 32 ||
        frame->image()->bytes_per_line != size.width * static_cast<int>(sizeof(Pixel))) {
      return nullptr;
    }
    return frame;
  }
  ~SharedFrame() override {
    if (m_clipped != nullptr) XFreeGC(m_display, m_clipped);
    if (m_attached) XShmDetach(m_display, &m_segment);
    shmdt(m_segment.shmaddr);
  }
  SharedFrame(const SharedFrame&) = delete;
  SharedFrame& operator=(const SharedFrame&) = delete;
  void put(Display* display, Window window, const Rect& area, int x, int y) const override {
    XShmPutImage(display, window, DefaultGC(display, DefaultScreen(display)), image(), area.left, area.top, x, y,
                 static_cast<unsigned>(area.width()), static_cast<unsigned>(area.height()), False);
  }
  // A tick's changes are a staircase of a hundred or more small rectangles along the hands. They go as
  // one put of their bounding box through a GC clipped to them: two requests instead of one each, and the
  // server copies the rectangles' pixels alone.
  void put_each(Display* display, Window window, std::span<const Rect> areas, const Rect& within, int x,
                int y) const override {
    m_clip.clear();
    Rect bounds;
    for (const Rect& area : areas) {
      const Rect part = intersect(area, within);
      if (part.empty()) continue;
      bounds = unite(bounds, part);
      m_clip.push_back({static_cast<short>(part.left), static_cast<short>(part.top),
                        static_cast<unsigned short>(part.width()), static_cast<unsigned short>(part.height())});
    }
    if (m_clip.empty()) return;
    if (m_clip.size() == 1) {
      put(display, window, bounds, bounds.left + x, bounds.top + y);
      return;
    }
    if (m_clipped == nullptr) {
      XGCValues values{};
      values.graphics_exposures = False;
      m_clipped = XCreateGC(display, window, GCGraphicsExposures, &values);
    }
    // The clip's rectangles are in the frame's pixels, its origin where the frame's (0, 0) lies.
    XSetClipRectangles(display, m_clipped, x, y, m_clip.data(), static_cast<int>(m_clip.size()), Unsorted);
    XShmPutImage(display, window, m_clipped, image(), bounds.left, bounds.top, bounds.left + x, bounds.top + y,
                 static_cast<unsigned>(bounds.width()), static_cast<unsigned>(bounds.height()), False);
  }

 private:
  SharedFrame(Display* display, int id, Pixel* memory, Size size) : XFrame(memory, size), m_display(display) {
    m_segment.shmid = id;
    m_segment.shmaddr = reinterpret_cast<char*>(memory);
    m_segment.readOnly = True;
    m_clip.reserve(Surface::kMaxDirtyRects);
  }
  Display* m_display;
  XShmSegmentInfo m_segment{};
  bool m_attached = false;
  mutable GC m_clipped = nullptr;          // made at the first clipped put
  mutable std::vector<XRectangle> m_clip;  // room for a surface's dirty rectangles, made with the frame
};

// Whether the frames' words are the default visual's pixels as they stand.
bool visual_takes_frames(Display* display) {
  const Visual* visual = default_visual(display);
  return DefaultDepth(display, DefaultScreen(display)) == kDepth && visual->c_class == TrueColor &&
         visual->red_mask == 0xFF0000 && visual->green_mask == 0x00FF00 && visual->blue_mask == 0x0000FF &&
         ImageByteOrder(display) == LSBFirst;
}

// MIT-SHM on a server on this machine: a remote server would look the segment up among its own.
bool shared_memory_usable(Display* display) {
  const std::string_view name = DisplayString(display);
  const bool local = name.starts_with(':') || name.starts_with("unix:");
  return local && XShmQueryExtension(display) != False;
}

}  // namespace

// A segment being made ready on a thread of its own.
struct FrameMaker::Prepared {
  Size size;
  Segment segment;
  std::thread touching;

  Prepared(Size of, Segment made) : size(of), segment(made) {}
  ~Prepared() {
    if (touching.joinable()) touching.join();
    if (segment.memory != nullptr) shmdt(segment.memory);
  }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  // The segment, ready; it is the caller's from now on.
  Segment take() {
    if (touching.joinable()) touching.join();
    return std::exchange(segment, Segment{});
  }
};

FrameMaker::FrameMaker() = default;
FrameMaker::~FrameMaker() = default;

void FrameMaker::prepare(Size size) {
  m_prepared.reset();
  if (size.width <= 0 || size.height <= 0 || path() != PixelPath::Shared) return;
  const Segment segment = Segment::make(size);
  if (segment.memory == nullptr) return;
  auto prepared = std::make_unique<Prepared>(size, segment);
  try {
    prepared->touching = std::thread([memory = segment.memory, bytes = bytes_of(size)] { touch_pages(memory, bytes); });
  } catch (const std::system_error&) {
    // No thread: the pages are touched as the frame is drawn.
  }
  m_prepared = std::move(prepared);
}

PixelPath FrameMaker::path() {
  if (m_decided) return m_path;
  GdkDisplay* gdk = gdk_display_get_default();
  if (gdk == nullptr || !GDK_IS_X11_DISPLAY(gdk)) return PixelPath::Cairo;
  m_decided = true;
  Display* display = GDK_DISPLAY_XDISPLAY(gdk);
  if (!visual_takes_frames(display)) {
    m_path = PixelPath::Cairo;
  } else {
    m_path = shared_memory_usable(display) ? PixelPath::Shared : PixelPath::Plain;
  }
  return m_path;
}

std::unique_ptr<FrameBuffer> FrameMaker::create_frame(Size size) {
  if (size.width <= 0 || size.height <= 0) size = {1, 1};
  std::unique_ptr<Prepared> prepared = std::move(m_prepared);
  // A segment of another size goes before the frame's own is made, so that the two never meet.
  if (prepared && prepared->size != size) prepared.reset();
  switch (path()) {
    case PixelPath::Cairo:
      return make_memory_frame(size);
    case PixelPath::Shared:
      if (prepared) {
        if (auto frame = SharedFrame::attach(xdisplay(), prepared->take(), size)) return frame;
      } else if (auto frame = SharedFrame::make(xdisplay(), size)) {
        return frame;
      }
      m_path = PixelPath::Plain;
      [[fallthrough]];
    case PixelPath::Plain:
      return PlainFrame::make(xdisplay(), size);
  }
  return make_memory_frame(size);
}

FramePuts::FramePuts(const FrameBuffer& frame, XId window, int x, int y)
    : m_frame(dynamic_cast<const XFrame*>(&frame)), m_window(window), m_x(x), m_y(y) {}

void FramePuts::put(const Rect& area) const {
  if (m_frame == nullptr || area.empty()) return;
  m_frame->put(xdisplay(), m_window, area, area.left + m_x, area.top + m_y);
}

void FramePuts::put_each(std::span<const Rect> areas, const Rect& within) const {
  if (m_frame != nullptr) m_frame->put_each(xdisplay(), m_window, areas, within, m_x, m_y);
}

void fill(XId window, const Rect& area, Pixel color) {
  if (area.empty()) return;
  Display* display = xdisplay();
  GC gc = DefaultGC(display, DefaultScreen(display));
  XSetForeground(display, gc, color);
  XFillRectangle(display, window, gc, area.left, area.top, static_cast<unsigned>(area.width()),
                 static_cast<unsigned>(area.height()));
}

void flip(XId window, int x, int y, Pixel color, std::span<const RowRun> runs, const Rect& within) {
  // One GC for every window, made on the root: the windows have the root's depth, the default visual's,
  // which the frames' path was decided on.
  static GC xor_gc = nullptr;
  static std::vector<XRectangle> rectangles;
  Display* display = xdisplay();
  if (xor_gc == nullptr) {
    XGCValues values{};
    values.function = GXxor;
    values.graphics_exposures = False;
    xor_gc = XCreateGC(display, DefaultRootWindow(display), GCFunction | GCGraphicsExposures, &values);
  }
  // A run with the same columns as one in the row above lengthens that one's rectangle: a steep hand's
  // edges stay in their columns for rows at a time, and every rectangle saved is eight bytes less to send
  // and one fill less for the server. The rectangles that reach the row above are few (a row of a pair has
  // at most four runs): their columns are kept beside their places, in two small lists that trade roles
  // at each new row.
  struct Reach {
    int left;
    int right;
    XRectangle* rectangle;
  };
  constexpr int kReach = 4;
  Reach lists[2][kReach];
  Reach* above = lists[0];
  Reach* here = lists[1];
  int above_count = 0;
  int here_count = 0;
  if (rectangles.size() < runs.size()) rectangles.resize(runs.size());  // at most one rectangle a run
  XRectangle* const first = rectangles.data();
  XRectangle* next = first;
  int row = INT_MIN;
  for (const RowRun& run : runs) {
    const int left = std::max(run.x0, within.left);
    const int right = std::min(run.x1, within.right);
    if (left >= right || run.y < within.top || run.y >= within.bottom) continue;
    if (run.y != row) {
      // A new row: the rectangles that reached the last one are those that may reach this one.
      std::swap(above, here);
      above_count = run.y == row + 1 ? here_count : 0;
      here_count = 0;
      row = run.y;
    }
    XRectangle* reached = nullptr;
    for (int i = 0; i < above_count; ++i) {
      if (above[i].left == left && above[i].right == right) {
        reached = above[i].rectangle;
        ++reached->height;
        above[i] = above[--above_count];  // a rectangle grows by one run a row
        break;
      }
    }
    if (reached == nullptr) {
      reached = next++;
      *reached = {static_cast<short>(left + x), static_cast<short>(row + y), static_cast<unsigned short>(right - left),
                  1};
    }
    if (here_count < kReach) here[here_count++] = {left, right, reached};
  }
  if (next == first) return;
  XSetForeground(display, xor_gc, ~color & 0xFFFFFFu);
  XFillRectangles(display, window, xor_gc, first, static_cast<int>(next - first));
}

namespace {
int batches = 0;
// The number the next request will have, when the last one before it was sent.
unsigned long sent_before = 0;

void flush(Display* display) {
  XFlush(display);
  sent_before = XNextRequest(display);
}
}  // namespace

PutBatch::PutBatch(WindowFate fate) : m_trapped(fate == WindowFate::MayGoWithHost) {
  if (m_trapped) gdk_x11_display_error_trap_push(gdk_display_get_default());
}

PutBatch::~PutBatch() {
  GdkDisplay* gdk = gdk_display_get_default();
  if (m_trapped) {
    if (++batches % kSyncEvery == 0) {
      // Waits for the server, which has then had every put; an error it reports is of a window gone.
      [[maybe_unused]] const int error = gdk_x11_display_error_trap_pop(gdk);
      sent_before = XNextRequest(GDK_DISPLAY_XDISPLAY(gdk));
      return;
    }
    gdk_x11_display_error_trap_pop_ignored(gdk);
  }
  flush(GDK_DISPLAY_XDISPLAY(gdk));
}

bool flush_and_check_events() {
  Display* display = xdisplay();
  if (XNextRequest(display) != sent_before) flush(display);
  return XEventsQueued(display, QueuedAlready) > 0;
}

}  // namespace forms::gtk::x11
