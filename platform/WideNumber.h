// A number value read at its widest: a float number as a 64-bit float, any
// other as a signed 64-bit integer. What the bus wire, number formatting and
// property-list writers need, since each has exactly these two kinds.
#pragma once

#include <cstdint>

#include "platform/Values.h"

struct WideNumber {
  bool isFloat = false;
  double real = 0;       // when isFloat
  int64_t integer = 0;   // otherwise
};

// [any] A value that is not a number reads as the integer 0.
inline WideNumber ReadWideNumber(CFNumberRef number) {
  WideNumber wide;
  wide.isFloat = CFNumberIsFloatType(number);
  if (wide.isFloat)
    CFNumberGetValue(number, kCFNumberFloat64Type, &wide.real);
  else
    CFNumberGetValue(number, kCFNumberSInt64Type, &wide.integer);
  return wide;
}
