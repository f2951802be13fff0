// The saver's face and tick on the headless back end, beside the same drawing done with cairo.
//
// redraw/W/H: frmmain's redraw on a W x H screen at 96 dpi, from a fresh image to its pixels.
// cairo_redraw/W/H: the operations that redraw issued (recorded through a TraceSink) replayed with cairo
//   at the same pixel mapping, antialiasing off, text through Pango; counter `ratio` = cairo / ours.
// tick/W/H: one Timer1_Timer (three hands erased and drawn with the not-XOR pen) and the listing of the
//   rectangles it changed; counters: `dirty_pct` of the screen, `rects` listed, `allocs` per tick (heap
//   allocations, counted by a replaced operator new).
// tick_cold/W/H: the same tick after 64 MiB of other data has gone through the caches, as a saver's tick
//   finds them after a second of other programs (the eviction is not timed).
// tick_pen/W/H, tick_pen_cold/W/H: the same tick with a screen pen lent to the surface, as the X back end
//   lends one: the hands become runs handed to the pen and the frame is not touched; counters: `runs` a
//   tick and the `bytes` the X back end would send for them (eight a run).
// cairo_tick/W/H: the same six lines with cairo's DIFFERENCE operator; counter `ratio` = cairo / ours.
#include <benchmark/benchmark.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <chrono>
#include <cmath>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "backends/headless/headless.h"
#include "forms/form.h"
#include "graphics/screen_pen.h"
#include "settings/settings.h"
#include "support/allocation_counter.h"
#include "trace_recorder.h"
#include "windows/dial/dial.h"
#include "windows/saver/frmmain.h"

namespace {

using Clock = std::chrono::steady_clock;

// The saver loaded on one W x H screen, as the program loads it.
class Saver {
 public:
  Saver(int width, int height) : m_platform(std::make_unique<forms::headless::HeadlessPlatform>()) {
    m_platform->screens = {forms::Monitor{{0, 0, width, height}, 96}};
    m_platform->path = DIALSAVER_RESOURCES;
    m_platform->set_time(10, 10, 30);
    forms::install_platform(m_platform.get());
    settings::LoadSettings();
    form = &forms::instance<saver::frmmain>();
    form->Timer1.Enabled(false);  // the benchmark calls the handler itself
  }
  ~Saver() {
    forms::Application::get().reset();
    forms::install_platform(nullptr);
  }
  Saver(const Saver&) = delete;
  Saver& operator=(const Saver&) = delete;

  // A fresh image, the face drawn, and its pixels made.
  const forms::FrameBuffer& redraw() {
    forms::PictureBox& box = form->Picture1;
    box.resize(box.pixel_size(), box.dpi());
    form->redraw();
    return box.pixels();
  }
  forms::headless::HeadlessPlatform& platform() { return *m_platform; }

  saver::frmmain* form = nullptr;

 private:
  std::unique_ptr<forms::headless::HeadlessPlatform> m_platform;
};

// Our mean redraw and tick times by screen, so the cairo runs can state their ratio.
std::map<std::pair<int, int>, double> g_redraw_seconds;
std::map<std::pair<int, int>, double> g_tick_seconds;

double seconds_per_iteration(Clock::time_point start, const benchmark::State& state) {
  return std::chrono::duration<double>(Clock::now() - start).count() / static_cast<double>(state.iterations());
}

void BM_redraw(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  Saver saver(w, h);
  const auto start = Clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(saver.redraw().row(h / 2)[w / 2]);
  g_redraw_seconds[{w, h}] = seconds_per_iteration(start, state);
}

// ---- The cairo peer ----

void set_color(cairo_t* cr, forms::OleColor c) {
  cairo_set_source_rgb(cr, forms::red_of(c) / 255.0, forms::green_of(c) / 255.0, forms::blue_of(c) / 255.0);
}

// Replays recorded operations with cairo. User units map to pixels as the surface maps them; cairo's
// pixel centres lie at +0.5.
class CairoFace {
 public:
  CairoFace(Saver& saver, std::vector<TracedOp> ops)
      : m_ops(std::move(ops)),
        m_width(saver.form->Picture1.pixel_size().width),
        m_height(saver.form->Picture1.pixel_size().height),
        m_sx(m_width / static_cast<double>(saver.form->Picture1.ScaleWidth())),
        m_sy(m_height / static_cast<double>(saver.form->Picture1.ScaleHeight())),
        m_back(saver.form->Picture1.BackColor),
        m_surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, m_width, m_height)) {
    if (const forms::PictureRef& p = saver.form->Picture2.Picture()) {
      m_picture_pixels.assign(p->pixels().begin(), p->pixels().end());
      m_picture = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(m_picture_pixels.data()),
                                                      CAIRO_FORMAT_ARGB32, p->width(), p->height(), p->width() * 4);
    }
  }
  ~CairoFace() {
    if (m_picture != nullptr) cairo_surface_destroy(m_picture);
    cairo_surface_destroy(m_surface);
  }
  CairoFace(const CairoFace&) = delete;
  CairoFace& operator=(const CairoFace&) = delete;

  void draw() {
    cairo_t* cr = cairo_create(m_surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    set_color(cr, m_back);
    cairo_paint(cr);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    for (const TracedOp& op : m_ops) draw(cr, layout, op);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_flush(m_surface);
  }
  cairo_surface_t* surface() { return m_surface; }
  double x(double units) const { return units * m_sx + 0.5; }
  double y(double units) const { return units * m_sy + 0.5; }
  double length(double units) const { return units * m_sx; }

 private:
  void draw(cairo_t* cr, PangoLayout* layout, const TracedOp& op) {
    const std::vector<double>& a = op.args;
    set_color(cr, op.color);
    cairo_set_line_width(cr, op.pen);
    cairo_new_path(cr);
    if (op.op == "circle") {
      cairo_arc(cr, x(a[0]), y(a[1]), length(a[2]), 0, 2 * M_PI);
      cairo_stroke(cr);
    } else if (op.op == "box") {
      cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
      cairo_rectangle(cr, x(a[0]), y(a[1]), length(a[2] - a[0]), (a[3] - a[1]) * m_sy);
      cairo_stroke(cr);
    } else if (op.op == "pset") {
      cairo_arc(cr, x(a[0]), y(a[1]), op.pen / 2.0, 0, 2 * M_PI);
      cairo_fill(cr);
    } else if (op.op == "line") {
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      cairo_move_to(cr, x(a[0]), y(a[1]));
      cairo_line_to(cr, x(a[2]), y(a[3]));
      cairo_stroke(cr);
    } else if (op.op == "picture" && m_picture != nullptr) {
      draw_picture(cr, a);
    } else if (op.op == "print") {
      draw_text(cr, layout, op);
    }
  }
  void draw_picture(cairo_t* cr, const std::vector<double>& a) {
    cairo_save(cr);
    cairo_translate(cr, a[0] * m_sx, a[1] * m_sy);
    cairo_scale(cr, a[2] * m_sx / cairo_image_surface_get_width(m_picture),
                a[3] * m_sy / cairo_image_surface_get_height(m_picture));
    cairo_set_source_surface(cr, m_picture, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_rectangle(cr, 0, 0, cairo_image_surface_get_width(m_picture), cairo_image_surface_get_height(m_picture));
    cairo_fill(cr);
    cairo_restore(cr);
  }
  void draw_text(cairo_t* cr, PangoLayout* layout, const TracedOp& op) {
    PangoFontDescription* font = pango_font_description_from_string("Verdana Bold");
    pango_font_description_set_absolute_size(font, m_font_points * 96 / 72.0 * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, op.text.c_str(), static_cast<int>(op.text.size()));
    cairo_move_to(cr, std::lround(op.args[0] * m_sx), std::lround(op.args[1] * m_sy));
    pango_cairo_show_layout(cr, layout);
  }

 public:
  double m_font_points = 8.25;

 private:
  std::vector<TracedOp> m_ops;
  int m_width;
  int m_height;
  double m_sx;
  double m_sy;
  forms::OleColor m_back;
  cairo_surface_t* m_surface;
  std::vector<std::uint32_t> m_picture_pixels;
  cairo_surface_t* m_picture = nullptr;
};

std::vector<TracedOp> record_redraw(Saver& saver) {
  TraceRecorder recorder;
  saver.form->Picture1.set_trace(&recorder);
  saver.redraw();
  saver.form->Picture1.set_trace(nullptr);
  return std::move(recorder.ops);
}

void set_ratio(benchmark::State& state, const std::map<std::pair<int, int>, double>& ours, double seconds) {
  const auto it = ours.find({static_cast<int>(state.range(0)), static_cast<int>(state.range(1))});
  if (it != ours.end() && it->second > 0) state.counters["ratio"] = seconds / it->second;
}

void BM_cairo_redraw(benchmark::State& state) {
  Saver saver(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  CairoFace face(saver, record_redraw(saver));
  face.m_font_points = saver.form->Picture1.FontSize;
  const auto start = Clock::now();
  for (auto _ : state) face.draw();
  set_ratio(state, g_redraw_seconds, seconds_per_iteration(start, state));
}

// ---- The tick ----

// The time of the n-th tick: a second later each time, from 10:10:30.
void set_tick_time(forms::headless::HeadlessPlatform& platform, long long n) {
  const long long s = 10 * 3600 + 10 * 60 + 30 + n;
  platform.set_time(static_cast<int>(s / 3600 % 24), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
}

void BM_tick(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0));
  const int h = static_cast<int>(state.range(1));
  Saver saver(w, h);
  saver.redraw();
  forms::PictureBox& box = saver.form->Picture1;
  saver.form->Timer1_Timer();  // the first tick draws without erasing
  box.clear_dirty();
  long long n = 1;
  double dirty_area = 0;
  double dirty_rects = 0;
  std::size_t allocations = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    set_tick_time(saver.platform(), n++);
    const std::size_t before = allocation_counter::count();
    saver.form->Timer1_Timer();
    for (const forms::Rect& r : box.dirty()) dirty_area += static_cast<double>(r.area());
    dirty_rects += static_cast<double>(box.dirty().size());
    box.clear_dirty();
    allocations += allocation_counter::count() - before;
  }
  g_tick_seconds[{w, h}] = seconds_per_iteration(start, state);
  const auto ticks = static_cast<double>(state.iterations());
  state.counters["dirty_pct"] = 100 * dirty_area / ticks / (static_cast<double>(w) * h);
  state.counters["rects"] = dirty_rects / ticks;
  if (allocation_counter::available()) {
    state.counters["allocs"] = static_cast<double>(allocations) / ticks;
  }
}

// Streams 64 MiB through the caches, leaving them and the TLB holding other data than the saver's.
void evict_caches() {
  static std::vector<std::uint8_t> other(64 << 20);
  for (std::size_t i = 0; i < other.size(); i += 64) other[i] = static_cast<std::uint8_t>(other[i] + 1);
  benchmark::ClobberMemory();
}

void BM_tick_cold(benchmark::State& state) {
  Saver saver(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  saver.redraw();
  forms::PictureBox& box = saver.form->Picture1;
  saver.form->Timer1_Timer();
  box.clear_dirty();
  long long n = 1;
  for (auto _ : state) {
    state.PauseTiming();
    set_tick_time(saver.platform(), n++);
    box.clear_dirty();
    evict_caches();
    state.ResumeTiming();
    saver.form->Timer1_Timer();
    benchmark::DoNotOptimize(box.dirty().size());
  }
}

// Counts the runs it is handed, as a screen that flips them would receive them, and the rows they are in
// (each row once a tick, however many runs it has: what the X server's memory sees).
class CountingPen final : public forms::ScreenPen {
 public:
  explicit CountingPen(int height) : m_marked(static_cast<std::size_t>(height), -1) {}
  void flip(forms::Pixel color, std::span<const forms::RowRun> runs) override {
    m_runs += runs.size();
    for (const forms::RowRun& run : runs) {
      m_sum += static_cast<std::size_t>(run.x1 - run.x0) ^ color;
      long long& marked = m_marked[static_cast<std::size_t>(run.y)];
      if (marked != m_tick) {
        marked = m_tick;
        ++m_rows;
      }
    }
  }
  void next_tick() { ++m_tick; }
  std::size_t runs() const { return m_runs; }
  std::size_t rows() const { return m_rows; }
  std::size_t sum() const { return m_sum; }

 private:
  std::vector<long long> m_marked;  // the last tick that flipped a run in the row
  long long m_tick = 0;
  std::size_t m_runs = 0;
  std::size_t m_rows = 0;
  std::size_t m_sum = 0;
};

void tick_pen(benchmark::State& state, bool cold) {
  Saver saver(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  saver.redraw();
  forms::PictureBox& box = saver.form->Picture1;
  saver.form->Timer1_Timer();
  box.clear_dirty();
  CountingPen pen(static_cast<int>(state.range(1)));
  box.set_screen_pen(&pen);
  long long n = 1;
  for (auto _ : state) {
    state.PauseTiming();
    set_tick_time(saver.platform(), n++);
    box.clear_dirty();
    pen.next_tick();
    if (cold) evict_caches();
    state.ResumeTiming();
    saver.form->Timer1_Timer();
    benchmark::DoNotOptimize(box.dirty().size());
  }
  benchmark::DoNotOptimize(pen.sum());
  box.set_screen_pen(nullptr);
  const auto ticks = static_cast<double>(state.iterations());
  state.counters["runs"] = static_cast<double>(pen.runs()) / ticks;
  state.counters["bytes"] = 8 * static_cast<double>(pen.runs()) / ticks;
  state.counters["rows"] = static_cast<double>(pen.rows()) / ticks;
}

void BM_tick_pen(benchmark::State& state) { tick_pen(state, false); }
void BM_tick_pen_cold(benchmark::State& state) { tick_pen(state, true); }

void BM_cairo_tick(benchmark::State& state) {
  Saver saver(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  CairoFace face(saver, record_redraw(saver));
  face.draw();
  const double cx = face.x(saver.form->mCenterX);
  const double cy = face.y(saver.form->mCenterY);
  const double r = face.length(saver.form->mRadius);
  struct Hand {
    double length;
    int width;
    double x = -1, y = -1;
  };
  Hand hands[3] = {{r * 5.2 / 6, 5}, {r * 4 / 6, 8}, {r * 5.8 / 6, 3}};
  cairo_t* cr = cairo_create(face.surface());
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_operator(cr, CAIRO_OPERATOR_DIFFERENCE);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_source_rgb(cr, 1, 0, 0);
  long long n = 0;
  const auto start = Clock::now();
  for (auto _ : state) {
    const long long s = 10 * 3600 + 10 * 60 + 30 + n++;
    const double angles[3] = {(s / 60 % 60 + s % 60 / 60.0) * 6 + 270,
                              (s / 3600 % 12 + (s / 60 % 60) / 60.0) * 30 + 270, static_cast<double>(s % 60) * 6 + 270};
    for (int i = 0; i < 3; ++i) {
      Hand& hand = hands[i];
      cairo_set_line_width(cr, hand.width);
      if (hand.x != -1) {
        cairo_move_to(cr, cx, cy);
        cairo_line_to(cr, hand.x, hand.y);
        cairo_stroke(cr);
      }
      const double theta = saver::kRadiansPerDegree * angles[i];
      hand.x = cx + hand.length * std::cos(theta);
      hand.y = cy + hand.length * std::sin(theta);
      cairo_move_to(cr, cx, cy);
      cairo_line_to(cr, hand.x, hand.y);
      cairo_stroke(cr);
    }
    cairo_surface_flush(face.surface());
  }
  set_ratio(state, g_tick_seconds, seconds_per_iteration(start, state));
  cairo_destroy(cr);
}

void screens(benchmark::internal::Benchmark* b) { b->Args({1920, 1080})->Args({3840, 2160})->Args({7680, 4320}); }

BENCHMARK(BM_redraw)->Apply(screens)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_cairo_redraw)->Apply(screens)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_tick)->Apply(screens)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_tick_cold)->Apply(screens)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_tick_pen)->Apply(screens)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_tick_pen_cold)->Apply(screens)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_cairo_tick)->Apply(screens)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
