#include "tools/qelvo/Pictures.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/ToolError.h"

namespace {

constexpr int kWidth = 1200;
constexpr double kLeft = 100, kRight = 30;

struct Box {
  double x, y, w, h;
};

struct Colour {
  double r, g, b;
};
constexpr Colour kInk{0.3, 0.3, 0.3};
constexpr Colour kGrid{0.88, 0.88, 0.88};
constexpr Colour kLevelColour{0.15, 0.45, 0.2};
constexpr Colour kFactorColour{0.75, 0.3, 0.1};
constexpr Colour kCurveColour{0.1, 0.35, 0.75};
constexpr Colour kOwnCurveColour{0.45, 0.45, 0.45};
constexpr Colour kCutoffColour{0.3, 0.95, 1.0};
constexpr Colour kOutputColour{0.8, 0.25, 0.1};
constexpr Colour kInputColour{0.6, 0.6, 0.6};

void Source(cairo_t* cr, const Colour& c, double alpha = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

std::string Format(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string HzText(double f) { return f >= 1000 ? Format("%.3g kHz", f / 1000) : Format("%.0f Hz", f); }
std::string TickHz(double f) { return f >= 1000 ? Format("%gk", f / 1000) : Format("%g", f); }

double TextWidth(cairo_t* cr, const std::string& text, double size) {
  cairo_set_font_size(cr, size);
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  return e.x_advance;
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double size = 13, bool right = false) {
  const double w = TextWidth(cr, text, size);
  cairo_move_to(cr, right ? x - w : x, y);
  cairo_show_text(cr, text.c_str());
}

// The quantity of a panel's vertical axis, read bottom to top at its left.
void AxisLabel(cairo_t* cr, const Box& b, const std::string& text) {
  Source(cr, kInk);
  cairo_save(cr);
  cairo_translate(cr, b.x - 62, b.y + b.h / 2 + TextWidth(cr, text, 11) / 2);
  cairo_rotate(cr, -std::numbers::pi / 2);
  Text(cr, 0, 0, text, 11);
  cairo_restore(cr);
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

// Entries of a legend: short line samples with their text.
struct LegendEntry {
  Colour colour;
  double width;
  bool dashed;
  std::string text;
};

enum class LegendPlace {
  kTopRight,    // inside the panel, on a dark ground (over the spectrogram)
  kBottomLeft,  // inside the panel, on a light ground
  kAbove,       // in one row right of the panel's title, clear of the data
};

void LegendSample(cairo_t* cr, const LegendEntry& e, double x, double y) {
  Source(cr, e.colour);
  cairo_set_line_width(cr, e.width);
  if (e.dashed) {
    const double dash[] = {6, 4};
    cairo_set_dash(cr, dash, 2, 0);
  }
  cairo_move_to(cr, x, y);
  cairo_line_to(cr, x + 30, y);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
}

void Legend(cairo_t* cr, const Box& b, const std::vector<LegendEntry>& entries, LegendPlace place) {
  cairo_save(cr);
  if (place == LegendPlace::kAbove) {
    double x = b.x + b.w;
    for (size_t i = entries.size(); i-- > 0;) {
      const LegendEntry& e = entries[i];
      x -= TextWidth(cr, e.text, 11);
      Source(cr, kInk);
      Text(cr, x, b.y - 8, e.text, 11);
      x -= 36;
      LegendSample(cr, e, x, b.y - 12);
      x -= 16;
    }
    cairo_restore(cr);
    return;
  }
  const bool dark = place == LegendPlace::kTopRight;
  double textWidth = 0;
  for (const LegendEntry& e : entries) textWidth = std::max(textWidth, TextWidth(cr, e.text, 11));
  const double w = textWidth + 50, h = 18.0 * static_cast<double>(entries.size()) + 8;
  const double x = dark ? b.x + b.w - w - 8 : b.x + 8, y = dark ? b.y + 8 : b.y + b.h - h - 8;
  if (dark)
    cairo_set_source_rgba(cr, 0, 0, 0, 0.6);
  else
    cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
  cairo_rectangle(cr, x, y, w, h);
  cairo_fill(cr);
  for (size_t i = 0; i < entries.size(); ++i) {
    const double ly = y + 16 + 18.0 * static_cast<double>(i);
    LegendSample(cr, entries[i], x + 8, ly - 4);
    if (dark)
      cairo_set_source_rgb(cr, 0.95, 0.95, 0.95);
    else
      Source(cr, kInk);
    Text(cr, x + 44, ly, entries[i].text, 11);
  }
  cairo_restore(cr);
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
  Source(cr, kInk);
  for (double t = 0; t <= duration + 1e-9; t += step) {
    const double x = b.x + b.w * t / duration;
    Text(cr, x - 8, b.y + b.h + 16, Format("%g", t), 11);
  }
  Text(cr, b.x + b.w, b.y + b.h + 30, "time (s)", 11, true);
}

void ValueAxis(cairo_t* cr, const Box& b, double lo, double hi, const char* format) {
  const double step = TickStep(hi - lo, 5);
  cairo_set_line_width(cr, 1);
  for (double v = std::ceil(lo / step) * step; v <= hi + 1e-9; v += step) {
    const double y = b.y + b.h - b.h * (v - lo) / (hi - lo);
    Source(cr, kGrid);
    cairo_move_to(cr, b.x, y);
    cairo_line_to(cr, b.x + b.w, y);
    cairo_stroke(cr);
    Source(cr, kInk);
    Text(cr, b.x - 6, y + 4, Format(format, std::abs(v) < step * 1e-9 ? 0.0 : v), 11, true);
  }
}

// Path of a step series across the box; x and y map time and value.
template <class X, class Y>
void StepPath(cairo_t* cr, const StepSeries& s, double duration, X x, Y y) {
  for (size_t i = 0; i < s.values.size(); ++i) {
    const double t0 = s.times[i];
    const double t1 = i + 1 < s.times.size() ? s.times[i + 1] : duration;
    if (i == 0)
      cairo_move_to(cr, x(t0), y(s.values[i]));
    else
      cairo_line_to(cr, x(t0), y(s.values[i]));
    cairo_line_to(cr, x(t1), y(s.values[i]));
  }
}

void StepPlot(cairo_t* cr, const Box& b, const StepSeries& s, double duration, const Colour& colour) {
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
  Source(cr, colour);
  cairo_set_line_width(cr, 1.6);
  StepPath(cr, s, duration, [&](double t) { return b.x + b.w * t / duration; },
           [&](double v) { return b.y + b.h - b.h * (v - lo) / (hi - lo); });
  cairo_stroke(cr);
  cairo_restore(cr);
}

// The output's level over time, with the input's underneath for comparison.
void LevelPlot(cairo_t* cr, const Box& b, const LevelTrack& output, const LevelTrack& input, double duration) {
  double top = -200;
  for (const LevelTrack* t : {&output, &input})
    for (double v : t->db) top = std::max(top, v);
  // Six-dB steps; the fades at the ends would stretch the scale into
  // silence, so it stops 48 dB below the loudest point.
  const double hi = std::ceil((top + 1) / 6) * 6, lo = hi - 48;
  ValueAxis(cr, b, lo, hi, "%g dB");
  TimeAxis(cr, b, duration);
  cairo_save(cr);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_clip(cr);
  auto line = [&](const LevelTrack& t, const Colour& c, double width) {
    Source(cr, c);
    cairo_set_line_width(cr, width);
    for (size_t i = 0; i < t.times.size(); ++i) {
      const double x = b.x + b.w * t.times[i] / duration;
      const double y = b.y + b.h - b.h * (std::clamp(t.db[i], lo - 1, hi) - lo) / (hi - lo);
      if (i == 0)
        cairo_move_to(cr, x, y);
      else
        cairo_line_to(cr, x, y);
    }
    cairo_stroke(cr);
  };
  line(input, kInputColour, 1.2);
  line(output, kOutputColour, 1.8);
  cairo_restore(cr);
  Legend(cr, b, {{kOutputColour, 1.8, false, "output"}, {kInputColour, 1.2, false, "input"}}, LegendPlace::kAbove);
}

// Dark blue through red to pale yellow.
void HeatColour(double v, double* r, double* g, double* b) {
  v = std::clamp(v, 0.0, 1.0);
  *r = std::clamp(1.6 * v, 0.0, 1.0);
  *g = std::clamp(2.0 * v - 0.8, 0.0, 1.0);
  *b = std::clamp(v < 0.35 ? 0.25 + v : 1.2 - 2.0 * v + std::max(0.0, 3.0 * v - 2.4), 0.0, 1.0);
}

constexpr double kSpectrumMinHz = 30.0, kSpectrumMaxHz = 8000.0;

void SpectrogramPlot(cairo_t* cr, const Box& b, const Spectrogram& s, const StepSeries& cutoff, double duration) {
  const double maxHz = std::min(kSpectrumMaxHz, s.sampleRate / 2);
  const double minHz = kSpectrumMinHz;
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
  auto Y = [&](double f) { return b.y + b.h * (1.0 - std::log(f / minHz) / std::log(maxHz / minHz)); };
  Source(cr, kInk);
  for (double f : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0}) {
    if (f > maxHz) break;
    Text(cr, b.x - 6, Y(f) + 4, TickHz(f), 11, true);
  }
  TimeAxis(cr, b, duration);
  if (cutoff.values.empty()) return;
  // The cutoff the unit applied, light on a dark outline so it reads over
  // every colour of the map.
  cairo_save(cr);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_clip(cr);
  auto X = [&](double t) { return b.x + b.w * t / duration; };
  auto YC = [&](double f) { return Y(std::clamp(f, minHz, maxHz)); };
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  StepPath(cr, cutoff, duration, X, YC);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.7);
  cairo_set_line_width(cr, 4.5);
  cairo_stroke_preserve(cr);
  Source(cr, kCutoffColour);
  cairo_set_line_width(cr, 2);
  cairo_stroke(cr);
  cairo_restore(cr);
  Legend(cr, b, {{kCutoffColour, 2, false, "cutoff the unit applied"}}, LegendPlace::kTopRight);
}

double Db(double magnitude) { return 20 * std::log10(std::max(magnitude, 1e-9)); }

// The unit's own curve; in filter mode the curves of the cutoffs applied,
// as a shaded band with a few of them drawn, and the lowest and highest
// drawn boldly and marked at their cutoff.
void ResponsePlot(cairo_t* cr, const Box& b, const ResponseCurve& own, const std::vector<ResponseCurve>& applied) {
  if (own.frequencies.size() < 2) return;
  const double f0 = own.frequencies.front(), f1 = own.frequencies.back();
  const double lo = -60;
  double hi = 12;
  auto raise = [&](const ResponseCurve& c) {
    for (double m : c.magnitudes) hi = std::max(hi, std::ceil(Db(m) / 6) * 6 + 6);
  };
  raise(own);
  for (const ResponseCurve& c : applied) raise(c);
  ValueAxis(cr, b, lo, hi, "%g dB");
  auto X = [&](double f) { return b.x + b.w * std::log(f / f0) / std::log(f1 / f0); };
  auto Y = [&](double db) { return b.y + b.h - b.h * (std::clamp(db, lo - 1, hi) - lo) / (hi - lo); };
  Source(cr, kInk);
  for (double f : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
    if (f < f0 || f > f1) continue;
    Text(cr, X(f) - 10, b.y + b.h + 16, TickHz(f), 11);
  }
  Text(cr, b.x + b.w, b.y + b.h + 30, "frequency (Hz)", 11, true);
  cairo_save(cr);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_clip(cr);
  auto curvePath = [&](const ResponseCurve& c) {
    for (size_t i = 0; i < c.frequencies.size() && i < c.magnitudes.size(); ++i) {
      if (i == 0)
        cairo_move_to(cr, X(c.frequencies[i]), Y(Db(c.magnitudes[i])));
      else
        cairo_line_to(cr, X(c.frequencies[i]), Y(Db(c.magnitudes[i])));
    }
  };
  std::vector<LegendEntry> legend;
  const bool band = applied.size() >= 2 && applied.front().frequencies == own.frequencies &&
                    applied.back().frequencies == own.frequencies;
  if (band) {
    // The band: at each frequency, from the lowest to the highest of all
    // applied curves.
    const size_t n = own.frequencies.size();
    std::vector<double> low(n, 1e300), high(n, -1e300);
    for (const ResponseCurve& c : applied)
      for (size_t i = 0; i < n && i < c.magnitudes.size(); ++i) {
        low[i] = std::min(low[i], Db(c.magnitudes[i]));
        high[i] = std::max(high[i], Db(c.magnitudes[i]));
      }
    for (size_t i = 0; i < n; ++i) cairo_line_to(cr, X(own.frequencies[i]), Y(high[i]));
    for (size_t i = n; i-- > 0;) cairo_line_to(cr, X(own.frequencies[i]), Y(low[i]));
    cairo_close_path(cr);
    Source(cr, kCurveColour, 0.15);
    cairo_fill(cr);
    // A few curves inside it, at cutoffs evenly spread on the frequency axis.
    constexpr int kThin = 8;
    Source(cr, kCurveColour, 0.45);
    cairo_set_line_width(cr, 1);
    const double lowest = std::log(applied.front().cutoff), highest = std::log(applied.back().cutoff);
    for (int k = 1; k < kThin; ++k) {
      const double wanted = lowest + (highest - lowest) * k / kThin;
      const auto nearest = std::min_element(applied.begin(), applied.end(), [&](const auto& a, const auto& b) {
        return std::abs(std::log(a.cutoff) - wanted) < std::abs(std::log(b.cutoff) - wanted);
      });
      curvePath(*nearest);
      cairo_stroke(cr);
    }
    for (const ResponseCurve* c : {&applied.front(), &applied.back()}) {
      Source(cr, kCurveColour);
      cairo_set_line_width(cr, 2.2);
      curvePath(*c);
      cairo_stroke(cr);
      // The filter has its resonance's gain at the cutoff: mark it there.
      const double x = X(c->cutoff);
      const double dash[] = {3, 3};
      cairo_set_dash(cr, dash, 2, 0);
      cairo_set_line_width(cr, 1);
      cairo_move_to(cr, x, b.y + 22);
      cairo_line_to(cr, x, b.y + b.h);
      cairo_stroke(cr);
      cairo_set_dash(cr, nullptr, 0, 0);
      Text(cr, x + 4, b.y + 18, HzText(c->cutoff), 11);
    }
    legend.push_back({kCurveColour, 2.2, false,
                      "lowest and highest cutoff applied: " + HzText(applied.front().cutoff) + " and " +
                          HzText(applied.back().cutoff)});
    legend.push_back({{0.62, 0.72, 0.88}, 8, false, "band: every cutoff applied in between"});
  }
  Source(cr, band ? kOwnCurveColour : kCurveColour);
  cairo_set_line_width(cr, band ? 1.5 : 2);
  if (band) {
    const double dash[] = {6, 4};
    cairo_set_dash(cr, dash, 2, 0);
  }
  curvePath(own);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
  cairo_restore(cr);
  if (band) {
    legend.push_back({kOwnCurveColour, 1.5, true, "the unit's own curve, at its cutoff parameter " + HzText(own.cutoff)});
    Legend(cr, b, legend, LegendPlace::kBottomLeft);
  }
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
  const double w = kWidth - kLeft - kRight;
  // Panels top to bottom, each with room for its title above and its axis
  // below.
  const bool levels = !p.outputLevel.times.empty();
  double y = 80;
  auto next = [&](double height) {
    const Box box{kLeft, y, w, height};
    y += height + 70;
    return box;
  };
  const Box level = next(170), factor = next(170);
  const Box loudness = levels ? next(220) : Box{};
  const Box spectrum = next(330), response = next(260);
  const int height = static_cast<int>(y - 20);

  std::unique_ptr<cairo_surface_t, SurfaceFree> surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, height));
  std::unique_ptr<cairo_t, ContextFree> cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 0.96, 0.96, 0.95);
  cairo_paint(cr.get());
  cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
  Text(cr.get(), kLeft, 34, p.title, 18);
  Frame(cr.get(), level, p.levelLabel);
  StepPlot(cr.get(), level, p.level, p.duration, kLevelColour);
  AxisLabel(cr.get(), level, "level");
  Frame(cr.get(), factor, p.factorLabel);
  StepPlot(cr.get(), factor, p.factor, p.duration, kFactorColour);
  AxisLabel(cr.get(), factor, "factor");
  if (levels) {
    Frame(cr.get(), loudness, "RMS level of the output, left channel, 100 ms windows (0 dB: constant full scale)");
    LevelPlot(cr.get(), loudness, p.outputLevel, p.inputLevel, p.duration);
    AxisLabel(cr.get(), loudness, "RMS level (dB)");
  }
  Frame(cr.get(), spectrum, "output spectrogram, left channel (30 Hz to 8 kHz, colour -100 to 0 dB)");
  SpectrogramPlot(cr.get(), spectrum, p.spectrogram, p.appliedCutoff, p.duration);
  AxisLabel(cr.get(), spectrum, "frequency (Hz)");
  Frame(cr.get(), response,
        p.appliedResponses.empty() ? "frequency response of the unit: " + p.response.label
                                   : "frequency response at the cutoffs the unit applied (resonance as set)");
  ResponsePlot(cr.get(), response, p.response, p.appliedResponses);
  AxisLabel(cr.get(), response, "magnitude (dB)");
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
  ResponsePlot(cr.get(), box, curve, {});
  AxisLabel(cr.get(), box, "magnitude (dB)");
  cairo_surface_flush(surface.get());
  WritePng(surface.get(), path);
}

namespace {

constexpr Colour kRawColour{0.15, 0.3, 0.65};
constexpr Colour kWarmingColour{0.6, 0.72, 0.92};
constexpr Colour kHeldColour{0.62, 0.62, 0.62};
constexpr Colour kDroppedColour{0.85, 0.1, 0.1};

// Raw values as dots by fate. The scale comes from the values learnt from,
// so a spike or the garbage of a loose headband does not flatten the rest;
// values beyond it sit on the edge they went past.
void RawPlot(cairo_t* cr, const Box& b, const LevelTrace& t, double duration) {
  double lo = 1e300, hi = -1e300;
  for (bool all : {false, true}) {
    for (const TracePoint& p : t.points)
      if (std::isfinite(p.raw) && (all || p.fate == 'p' || p.fate == 'w')) {
        lo = std::min(lo, p.raw);
        hi = std::max(hi, p.raw);
      }
    if (lo <= hi) break;
  }
  const double span = hi > lo ? hi - lo : std::max(std::abs(lo), 1.0);
  lo -= span * 0.08;
  hi += span * 0.08;
  ValueAxis(cr, b, lo, hi, "%g");
  TimeAxis(cr, b, duration);
  cairo_save(cr);
  cairo_rectangle(cr, b.x, b.y, b.w, b.h);
  cairo_clip(cr);
  for (const TracePoint& p : t.points) {
    if (!std::isfinite(p.raw)) continue;
    const double x = b.x + b.w * p.time / duration;
    // Values off the scale sit just inside the edge they went past.
    const double y = std::clamp(b.y + b.h - b.h * (p.raw - lo) / (hi - lo), b.y + 6, b.y + b.h - 6);
    if (p.fate == 'd') {
      Source(cr, kDroppedColour);
      cairo_set_line_width(cr, 1.5);
      cairo_move_to(cr, x - 4, y - 4);
      cairo_line_to(cr, x + 4, y + 4);
      cairo_move_to(cr, x - 4, y + 4);
      cairo_line_to(cr, x + 4, y - 4);
      cairo_stroke(cr);
      continue;
    }
    Source(cr, p.fate == 'h' ? kHeldColour : p.fate == 'w' ? kWarmingColour : kRawColour);
    cairo_arc(cr, x, y, 1.8, 0, 2 * std::numbers::pi);
    cairo_fill(cr);
  }
  cairo_restore(cr);
  Legend(cr, b,
         {{kRawColour, 4, false, "posted"},
          {kWarmingColour, 4, false, "warming up"},
          {kHeldColour, 4, false, "held (contact)"},
          {kDroppedColour, 2, false, "dropped (spike)"}},
         LegendPlace::kAbove);
}

}  // namespace

void DrawLevelTraces(const LevelTraces& traces, const std::string& title, const std::string& path) {
  const double w = kWidth - kLeft - kRight;
  const double duration = std::max(traces.Duration(), 1.0);
  struct Panel {
    const LevelTrace* trace;
    bool raw;
    Box box;
  };
  std::vector<Panel> panels;
  double y = 80;
  for (const LevelTrace& t : traces.Traces()) {
    const bool hasRaw = std::any_of(t.points.begin(), t.points.end(), [](const TracePoint& p) { return std::isfinite(p.raw); });
    for (bool raw : {true, false}) {
      if (raw && !hasRaw) continue;
      panels.push_back({&t, raw, {kLeft, y, w, 170}});
      y += 170 + 70;
    }
  }
  const int height = static_cast<int>(std::max(y - 20, 140.0));
  std::unique_ptr<cairo_surface_t, SurfaceFree> surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, height));
  std::unique_ptr<cairo_t, ContextFree> cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 0.96, 0.96, 0.95);
  cairo_paint(cr.get());
  cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
  Text(cr.get(), kLeft, 34, panels.empty() ? title + ": no levels were seen" : title, 18);
  for (const Panel& p : panels) {
    if (p.raw) {
      Frame(cr.get(), p.box, p.trace->symbol + ": the values the bridge read");
      RawPlot(cr.get(), p.box, *p.trace, duration);
      AxisLabel(cr.get(), p.box, "raw value");
      continue;
    }
    StepSeries posted;
    for (const TracePoint& t : p.trace->points)
      if (t.fate == 'p' && std::isfinite(t.level)) {
        posted.times.push_back(t.time);
        posted.values.push_back(t.level);
      }
    Frame(cr.get(), p.box, p.trace->symbol + ": the levels posted");
    StepPlot(cr.get(), p.box, posted, duration, kLevelColour);
    AxisLabel(cr.get(), p.box, "level");
  }
  cairo_surface_flush(surface.get());
  WritePng(surface.get(), path);
}
