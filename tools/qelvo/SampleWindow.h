// The values of the last SECONDS, for running percentiles, median, median
// absolute deviation, mean and standard deviation.
//
// Memory is fixed: the window keeps at most `capacity` values. When values
// come faster than capacity per window, it keeps the first value in each
// slot of window / capacity seconds and passes over the rest, so an hour of
// a fast sender costs what a minute does. Times are seconds on a clock that does not
// go back.
#pragma once

#include <cstddef>
#include <vector>

class SampleWindow {
 public:
  SampleWindow(double seconds, size_t capacity);

  // Adds a value at time t; values older than t - seconds leave first.
  void Add(double t, double value);
  // Lets values older than t - seconds go.
  void Expire(double t);
  // Fills the window as if values with the distribution of `quantiles`
  // (values at evenly spaced probabilities from 0 to 1, rising) had arrived
  // evenly over the seconds up to t: they leave one by one, across the whole
  // distribution, as real values take their place.
  void Seed(double t, const std::vector<double>& quantiles);
  void Clear();

  size_t Size() const { return sorted_.size(); }
  bool Empty() const { return sorted_.empty(); }
  size_t Capacity() const { return capacity_; }
  double Seconds() const { return seconds_; }
  // Bytes held, which never grow past what the capacity needs.
  size_t MemoryBytes() const;

  // p from 0 to 1, linear between neighbouring values; NaN when empty.
  double Percentile(double p) const;
  double Median() const { return Percentile(0.5); }
  // Median absolute deviation from the median.
  double Mad() const;
  double Mean() const;
  double Deviation() const;  // population standard deviation

 private:
  struct Sample {
    double time;
    double value;
  };
  void Reserve();
  void DropOldest();
  void Keep(double t, double value);

  double seconds_;
  size_t capacity_;
  double spacing_;
  std::vector<Sample> ring_;  // capacity_ slots; Size() of them in time order from head_
  size_t head_ = 0;
  std::vector<double> sorted_;
  double lastSlot_ = 0;  // floor(time / spacing_) of the newest value
};

// The value at probability p (0 to 1) of a distribution given by values at
// evenly spaced probabilities, linear in between.
double QuantileAt(const std::vector<double>& quantiles, double p);
