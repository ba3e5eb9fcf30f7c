#include "tools/qelvo/SampleWindow.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

// Visits 0..n-1 in bit-reversed order, so any run of consecutive steps
// touches the whole range evenly.
size_t BitReversedIndex(size_t k, size_t bits) {
  size_t r = 0;
  for (size_t b = 0; b < bits; ++b) r |= ((k >> b) & 1u) << (bits - 1 - b);
  return r;
}

}  // namespace

SampleWindow::SampleWindow(double seconds, size_t capacity)
    : seconds_(seconds), capacity_(std::max<size_t>(capacity, 1)), spacing_(seconds / static_cast<double>(capacity_)) {}

void SampleWindow::Reserve() {
  // Allocated on first use, so rules that never see a value cost nothing.
  if (ring_.size() < capacity_) {
    ring_.resize(capacity_);
    sorted_.reserve(capacity_);
  }
}

size_t SampleWindow::MemoryBytes() const {
  return ring_.capacity() * sizeof(Sample) + sorted_.capacity() * sizeof(double);
}

void SampleWindow::Clear() {
  sorted_.clear();
  head_ = 0;
}

void SampleWindow::DropOldest() {
  const double value = ring_[head_].value;
  sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), value));
  head_ = (head_ + 1) % capacity_;
}

void SampleWindow::Expire(double t) {
  while (!sorted_.empty() && ring_[head_].time < t - seconds_) DropOldest();
}

void SampleWindow::Keep(double t, double value) {
  if (sorted_.size() == capacity_) DropOldest();
  ring_[(head_ + sorted_.size()) % capacity_] = {t, value};
  sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), value), value);
  lastSlot_ = std::floor(t / spacing_);
}

void SampleWindow::Add(double t, double value) {
  Expire(t);
  // One value per slot of window / capacity seconds: a sender just at that
  // rate keeps all its values whatever its jitter.
  if (!sorted_.empty() && std::floor(t / spacing_) == lastSlot_) return;
  Reserve();
  Keep(t, value);
}

void SampleWindow::Seed(double t, const std::vector<double>& quantiles) {
  Clear();
  if (quantiles.empty()) return;
  Reserve();
  size_t bits = 0;
  while ((size_t{1} << bits) < capacity_) ++bits;
  size_t kept = 0;
  for (size_t k = 0; kept < capacity_; ++k) {
    const size_t index = BitReversedIndex(k, bits);
    if (index >= capacity_) continue;
    const double p = capacity_ == 1 ? 0.5 : static_cast<double>(index) / static_cast<double>(capacity_ - 1);
    ++kept;
    Keep(t - seconds_ + spacing_ * static_cast<double>(kept), QuantileAt(quantiles, p));
  }
}

double SampleWindow::Percentile(double p) const {
  if (sorted_.empty()) return kNan;
  const double r = std::clamp(p, 0.0, 1.0) * static_cast<double>(sorted_.size() - 1);
  const size_t i = static_cast<size_t>(r);
  if (i + 1 >= sorted_.size()) return sorted_.back();
  return std::lerp(sorted_[i], sorted_[i + 1], r - static_cast<double>(i));
}

double SampleWindow::Mad() const {
  const size_t n = sorted_.size();
  if (n == 0) return kNan;
  const double median = Median();
  // The deviations, in rising order, come from walking outwards from the
  // median on both sides; only the middle one or two are needed.
  size_t right = static_cast<size_t>(std::lower_bound(sorted_.begin(), sorted_.end(), median) - sorted_.begin());
  size_t left = right;  // the next on the left is left - 1
  const size_t wanted = n / 2;
  double previous = 0, current = 0;
  for (size_t k = 0; k <= wanted; ++k) {
    const double l = left > 0 ? median - sorted_[left - 1] : std::numeric_limits<double>::infinity();
    const double r = right < n ? sorted_[right] - median : std::numeric_limits<double>::infinity();
    previous = current;
    if (l <= r) {
      current = l;
      --left;
    } else {
      current = r;
      ++right;
    }
  }
  return n % 2 == 1 ? current : (previous + current) / 2;
}

double SampleWindow::Mean() const {
  if (sorted_.empty()) return kNan;
  double sum = 0;
  for (double v : sorted_) sum += v;
  return sum / static_cast<double>(sorted_.size());
}

double SampleWindow::Deviation() const {
  if (sorted_.empty()) return kNan;
  const double mean = Mean();
  double sum = 0;
  for (double v : sorted_) sum += (v - mean) * (v - mean);
  return std::sqrt(sum / static_cast<double>(sorted_.size()));
}

double QuantileAt(const std::vector<double>& quantiles, double p) {
  if (quantiles.empty()) return kNan;
  if (quantiles.size() == 1) return quantiles[0];
  const double x = std::clamp(p, 0.0, 1.0) * static_cast<double>(quantiles.size() - 1);
  const size_t i = std::min(static_cast<size_t>(x), quantiles.size() - 2);
  return std::lerp(quantiles[i], quantiles[i + 1], x - static_cast<double>(i));
}
