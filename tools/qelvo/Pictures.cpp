#include "tools/qelvo/Pictures.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <memory>

#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/ToolError.h"

namespace {

constexpr int kWidth = 1200;
constexpr double kLeft = 90, kRight = 30;

struct Box {
  double x, y, w, h;
};

std::string Format(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double size = 13, bool right = false) {
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  cairo_move_to(cr, right ? x - e.x_advance : x, y);
  cairo_show_text(cr, text.c_str());
}

void Frame(cairo_t* cr, const Box& b, const std::string& title) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.w, b.h);
  cairo_stroke(cr);
  Text(cr, b.x, b.y - 8, title, 14);
}

// Round tick spacing for a span.
double TickStep(double span, int wanted) {
  const double raw = span / wanted;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    if (raw <= m * p) return m * p;
  return 10 * p;
}

void TimeAxis(cairo_t* cr, const Box& b, double duration) {
  const double step = TickStep(duration, 10);
  cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
  for (double t = 0; t <= duration + 1e-9; t += step) {
    const double x = b.x + b.w * t / duration;
    Text(cr, x - 8, b.y + b.h + 16, Format("%g", t), 11);
  }
  Text(cr, b.x + b.w, b.y + b.h + 30, "time (s)", 11, true);
}

void ValueAxis(cairo_t* cr, const Box& b, double lo, double hi, const char* format) {
  const double step = TickStep(hi - lo, 5);
  for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) {
    const double y = b.y + b.h - b.h * (v - lo) / (hi - lo);
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    cairo_move_to(cr, b.x, y);
    cairo_line_to(cr, b.x + b.w, y);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    Text(cr, b.x - 6, y + 4, Format(format, v), 11, true);
  }
}

void StepPlot(cairo_t* cr, const Box& b, const StepSeries& s, double duration, double r, double g, double bl) {
  double lo = 0, hi = 1;
  if (!s.values.empty()) {
    lo = std::min(0.0, *std::min_element(s.values.begin(), s.values.end()));
    hi = *std::max_element(s.values.begin(), s.values.end());
    if (hi <= lo) hi = lo + 1;
    hi += (hi - lo) * 0.08;
  }
  ValueAxis(cr, b, lo, hi, "%g");
  TimeAxis(cr, b, duration);
  if (s.values.empty()) return;
  cairo_save(cr);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_clip(cr);
  cairo_set_source_rgb(cr, r, g, bl);
  cairo_set_line_width(cr, 1.6);
  auto X = [&](double t) { return b.x + b.w * t / duration; };
  auto Y = [&](double v) { return b.y + b.h - b.h * (v - lo) / (hi - lo); };
  for (size_t i = 0; i < s.values.size(); ++i) {
    const double t0 = s.times[i];
    const double t1 = i + 1 < s.times.size() ? s.times[i + 1] : duration;
    if (i == 0)
      cairo_move_to(cr, X(t0), Y(s.values[i]));
    else
      cairo_line_to(cr, X(t0), Y(s.values[i]));
    cairo_line_to(cr, X(t1), Y(s.values[i]));
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

// Dark blue through red to pale yellow.
void HeatColour(double v, double* r, double* g, double* b) {
  v = std::clamp(v, 0.0, 1.0);
  *r = std::clamp(1.6 * v, 0.0, 1.0);
  *g = std::clamp(2.0 * v - 0.8, 0.0, 1.0);
  *b = std::clamp(v < 0.35 ? 0.25 + v : 1.2 - 2.0 * v + std::max(0.0, 3.0 * v - 2.4), 0.0, 1.0);
}

void SpectrogramPlot(cairo_t* cr, const Box& b, const Spectrogram& s, double duration) {
  const double maxHz = std::min(8000.0, s.sampleRate / 2);
  const double minHz = 30.0;
  const double floorDb = -100, topDb = 0;
  const int w = static_cast<int>(b.w), h = static_cast<int>(b.h);
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  const size_t columns = s.columns.size();
  const size_t bins = columns > 0 ? s.columns[0].size() : 0;
  for (int x = 0; x < w; ++x) {
    const double t = duration * (x + 0.5) / w;
    const size_t col = std::min(columns - 1, static_cast<size_t>(std::max(0.0, (t * s.sampleRate - s.windowSize / 2.0) / s.hop)));
    for (int y = 0; y < h; ++y) {
      // Logarithmic frequency axis, low at the bottom.
      const double f = minHz * std::pow(maxHz / minHz, 1.0 - (y + 0.5) / h);
      const size_t bin = std::min(bins - 1, static_cast<size_t>(std::lround(f * s.windowSize / s.sampleRate)));
      const double db = columns > 0 ? s.columns[col][bin] : floorDb;
      double r, g, bl;
      HeatColour((db - floorDb) / (topDb - floorDb), &r, &g, &bl);
      auto* px = reinterpret_cast<uint32_t*>(data + y * stride) + x;
      *px = (static_cast<uint32_t>(r * 255) << 16) | (static_cast<uint32_t>(g * 255) << 8) | static_cast<uint32_t>(bl * 255);
    }
  }
  cairo_surface_mark_dirty(image);
  cairo_set_source_surface(cr, image, b.x, b.y);
  cairo_paint(cr);
  cairo_surface_destroy(image);
  cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
  for (double f : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0}) {
    if (f > maxHz) break;
    const double y = b.y + b.h * (1.0 - std::log(f / minHz) / std::log(maxHz / minHz));
    Text(cr, b.x - 6, y + 4, f >= 1000 ? Format("%gk", f / 1000) : Format("%g", f), 11, true);
  }
  TimeAxis(cr, b, duration);
}

void ResponsePlot(cairo_t* cr, const Box& b, const ResponseCurve& c) {
  if (c.frequencies.size() < 2) return;
  const double f0 = c.frequencies.front(), f1 = c.frequencies.back();
  double lo = -48, hi = 24;
  for (double m : c.magnitudes) {
    const double db = 20 * std::log10(std::max(m, 1e-9));
    hi = std::max(hi, std::ceil(db / 6) * 6 + 6);
  }
  ValueAxis(cr, b, lo, hi, "%g dB");
  auto X = [&](double f) { return b.x + b.w * std::log(f / f0) / std::log(f1 / f0); };
  auto Y = [&](double db) { return b.y + b.h - b.h * (std::clamp(db, lo, hi) - lo) / (hi - lo); };
  cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
  for (double f : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
    if (f < f0 || f > f1) continue;
    Text(cr, X(f) - 10, b.y + b.h + 16, f >= 1000 ? Format("%gk", f / 1000) : Format("%g", f), 11);
  }
  Text(cr, b.x + b.w, b.y + b.h + 30, "frequency (Hz)", 11, true);
  cairo_save(cr);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_clip(cr);
  cairo_set_source_rgb(cr, 0.1, 0.35, 0.75);
  cairo_set_line_width(cr, 2);
  for (size_t i = 0; i < c.frequencies.size(); ++i) {
    const double x = X(c.frequencies[i]);
    const double y = Y(20 * std::log10(std::max(c.magnitudes[i], 1e-9)));
    if (i == 0)
      cairo_move_to(cr, x, y);
    else
      cairo_line_to(cr, x, y);
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

cairo_status_t WriteToOutput(void* closure, const unsigned char* data, unsigned int length) {
  try {
    static_cast<AtomicOutput*>(closure)->Write(data, length);
    return CAIRO_STATUS_SUCCESS;
  } catch (...) {
    return CAIRO_STATUS_WRITE_ERROR;
  }
}

// Text drawing leaves font caches behind for the life of the process; give
// them back at exit so leak checkers see a clean end.
void ReleaseFontCachesAtExit() {
  static const bool registered = [] {
    std::atexit([] {
      cairo_debug_reset_static_data();
      FcFini();
    });
    return true;
  }();
  (void)registered;
}

void WritePng(cairo_surface_t* surface, const std::string& path) {
  ReleaseFontCachesAtExit();
  AtomicOutput out(path);
  if (cairo_surface_write_to_png_stream(surface, WriteToOutput, &out) != CAIRO_STATUS_SUCCESS)
    throw ToolError("cannot write " + path);
  out.Commit();
}

struct SurfaceFree {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextFree {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};

}  // namespace

void DrawRenderPicture(const RenderPicture& p, const std::string& path) {
  const int height = 1320;
  std::unique_ptr<cairo_surface_t, SurfaceFree> surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, height));
  std::unique_ptr<cairo_t, ContextFree> cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 0.96, 0.96, 0.95);
  cairo_paint(cr.get());
  cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
  Text(cr.get(), kLeft, 34, p.title, 18);
  const double w = kWidth - kLeft - kRight;
  const Box level{kLeft, 80, w, 200}, factor{kLeft, 350, w, 200}, spectrum{kLeft, 620, w, 330},
      response{kLeft, 1020, w, 240};
  Frame(cr.get(), level, p.levelLabel);
  StepPlot(cr.get(), level, p.level, p.duration, 0.15, 0.45, 0.2);
  Frame(cr.get(), factor, p.factorLabel);
  StepPlot(cr.get(), factor, p.factor, p.duration, 0.75, 0.3, 0.1);
  Frame(cr.get(), spectrum, "output spectrogram, left channel (Hz, 30 Hz to 8 kHz, -100 to 0 dB)");
  SpectrogramPlot(cr.get(), spectrum, p.spectrogram, p.duration);
  Frame(cr.get(), response, "frequency response of the unit: " + p.response.label);
  ResponsePlot(cr.get(), response, p.response);
  cairo_surface_flush(surface.get());
  WritePng(surface.get(), path);
}

void DrawResponsePicture(const ResponseCurve& curve, const std::string& title, const std::string& path) {
  const int height = 480;
  std::unique_ptr<cairo_surface_t, SurfaceFree> surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, height));
  std::unique_ptr<cairo_t, ContextFree> cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 0.96, 0.96, 0.95);
  cairo_paint(cr.get());
  cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
  Text(cr.get(), kLeft, 34, title, 18);
  const Box box{kLeft, 80, kWidth - kLeft - kRight, 340};
  Frame(cr.get(), box, "frequency response: " + curve.label);
  ResponsePlot(cr.get(), box, curve);
  cairo_surface_flush(surface.get());
  WritePng(surface.get(), path);
}
