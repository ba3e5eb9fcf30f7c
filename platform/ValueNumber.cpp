// Numbers keep the type they were made with and convert on read; the two
// booleans are immortal values.
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/ValueObject.h"

namespace {

enum class Kind { kInt8, kInt16, kInt32, kInt64, kFloat32, kFloat64, kInvalid };

Kind KindOf(CFNumberType type) {
  switch (type) {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
      return Kind::kInt8;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
      return Kind::kInt16;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
      return Kind::kInt32;
    case kCFNumberSInt64Type:
    case kCFNumberLongType:
    case kCFNumberLongLongType:
      return Kind::kInt64;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
      return Kind::kFloat32;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
      return Kind::kFloat64;
    default:
      return Kind::kInvalid;
  }
}

constexpr double kTwo63 = 9223372036854775808.0;

// Exact comparison of an integer with a double, without the rounding a plain
// conversion of large integers would bring in.
bool IntEqualsDouble(int64_t i, double d) {
  if (!(d >= -kTwo63 && d < kTwo63) || d != std::trunc(d)) return false;
  return static_cast<int64_t>(d) == i;
}

template <class T>
bool StoreInt(int64_t v, void* out) {
  const bool inRange = v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
  // Out of range keeps the low bits, as a C cast would.
  const T converted = static_cast<T>(static_cast<uint64_t>(v));
  std::memcpy(out, &converted, sizeof converted);
  return inRange;
}

// Doubles read as integers truncate toward zero and saturate; NaN reads as 0.
template <class T>
bool StoreIntFromDouble(double d, void* out) {
  T converted;
  bool exact;
  const double t = std::trunc(d);
  const double low = static_cast<double>(std::numeric_limits<T>::min());  // -2^(bits-1), exact
  if (std::isnan(d)) {
    converted = 0;
    exact = false;
  } else if (t < low) {
    converted = std::numeric_limits<T>::min();
    exact = false;
  } else if (t >= -low) {
    converted = std::numeric_limits<T>::max();
    exact = false;
  } else {
    converted = static_cast<T>(t);
    exact = t == d;
  }
  std::memcpy(out, &converted, sizeof converted);
  return exact;
}

}  // namespace

struct CFNumberObject : QelvoValue {
  CFNumberObject(CFNumberType t, bool isFloat, int64_t i, double d)
      : QelvoValue(kQelvoTypeIDNumber, false), type(t), floating(isFloat), integer(i), real(d) {}

  bool Equal(const QelvoValue& other) const override {
    const auto& o = static_cast<const CFNumberObject&>(other);
    if (!floating && !o.floating) return integer == o.integer;
    if (floating && o.floating) return real == o.real || (std::isnan(real) && std::isnan(o.real));
    return floating ? IntEqualsDouble(o.integer, real) : IntEqualsDouble(integer, o.real);
  }
  // Integral values hash as integers whatever their type, so 3 and 3.0 agree.
  CFHashCode Hash() const override {
    if (!floating) return HashInt(integer);
    if (std::isnan(real)) return 0x7FF8;
    if (real >= -kTwo63 && real < kTwo63 && real == std::trunc(real)) return HashInt(static_cast<int64_t>(real));
    uint64_t bits;
    std::memcpy(&bits, &real, sizeof bits);
    return QelvoHashBytes(&bits, sizeof bits);
  }
  static CFHashCode HashInt(int64_t v) { return QelvoHashBytes(&v, sizeof v); }

  const CFNumberType type;
  const bool floating;
  const int64_t integer;  // when !floating
  const double real;      // when floating; a 32-bit float is held exactly
};

struct CFBooleanObject : QelvoValue {
  constexpr explicit CFBooleanObject(bool v) : QelvoValue(kQelvoTypeIDBoolean, true), value(v) {}
  CFHashCode Hash() const override { return value ? 1 : 0; }
  const bool value;
};

namespace {
constinit QelvoImmortal<CFBooleanObject> sTrue(true);
constinit QelvoImmortal<CFBooleanObject> sFalse(false);

const CFNumberObject* AsNumber(CFNumberRef n) { return QelvoValueAs<CFNumberObject>(n, kQelvoTypeIDNumber); }
}  // namespace

constinit const CFBooleanRef qelvo_values::kCFBooleanTrue = &sTrue.value;
constinit const CFBooleanRef qelvo_values::kCFBooleanFalse = &sFalse.value;

CFTypeID CFNumberGetTypeID() { return kQelvoTypeIDNumber; }
CFTypeID CFBooleanGetTypeID() { return kQelvoTypeIDBoolean; }

Boolean CFBooleanGetValue(CFBooleanRef b) {
  const auto* boolean = QelvoValueAs<CFBooleanObject>(b, kQelvoTypeIDBoolean);
  return boolean != nullptr && boolean->value;
}

CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType type, const void* valuePtr) {
  if (valuePtr == nullptr) return nullptr;
  switch (KindOf(type)) {
    case Kind::kInt8: {
      int8_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      return new CFNumberObject(type, false, v, 0.0);
    }
    case Kind::kInt16: {
      int16_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      return new CFNumberObject(type, false, v, 0.0);
    }
    case Kind::kInt32: {
      int32_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      return new CFNumberObject(type, false, v, 0.0);
    }
    case Kind::kInt64: {
      int64_t v;
      std::memcpy(&v, valuePtr, sizeof v);
      return new CFNumberObject(type, false, v, 0.0);
    }
    case Kind::kFloat32: {
      float v;
      std::memcpy(&v, valuePtr, sizeof v);
      return new CFNumberObject(type, true, 0, v);
    }
    case Kind::kFloat64: {
      double v;
      std::memcpy(&v, valuePtr, sizeof v);
      return new CFNumberObject(type, true, 0, v);
    }
    case Kind::kInvalid:
      break;
  }
  return nullptr;
}

CFNumberType CFNumberGetType(CFNumberRef number) {
  const CFNumberObject* n = AsNumber(number);
  return n != nullptr ? n->type : 0;
}

Boolean CFNumberIsFloatType(CFNumberRef number) {
  const CFNumberObject* n = AsNumber(number);
  return n != nullptr && n->floating;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* valuePtr) {
  const CFNumberObject* n = AsNumber(number);
  if (n == nullptr || valuePtr == nullptr) return false;
  const Kind kind = KindOf(type);
  if (!n->floating) {
    const int64_t v = n->integer;
    switch (kind) {
      case Kind::kInt8:
        return StoreInt<int8_t>(v, valuePtr);
      case Kind::kInt16:
        return StoreInt<int16_t>(v, valuePtr);
      case Kind::kInt32:
        return StoreInt<int32_t>(v, valuePtr);
      case Kind::kInt64:
        return StoreInt<int64_t>(v, valuePtr);
      case Kind::kFloat32: {
        const auto f = static_cast<float>(v);
        std::memcpy(valuePtr, &f, sizeof f);
        return IntEqualsDouble(v, f);
      }
      case Kind::kFloat64: {
        const auto d = static_cast<double>(v);
        std::memcpy(valuePtr, &d, sizeof d);
        return IntEqualsDouble(v, d);
      }
      case Kind::kInvalid:
        return false;
    }
    return false;
  }
  const double d = n->real;
  switch (kind) {
    case Kind::kInt8:
      return StoreIntFromDouble<int8_t>(d, valuePtr);
    case Kind::kInt16:
      return StoreIntFromDouble<int16_t>(d, valuePtr);
    case Kind::kInt32:
      return StoreIntFromDouble<int32_t>(d, valuePtr);
    case Kind::kInt64:
      return StoreIntFromDouble<int64_t>(d, valuePtr);
    case Kind::kFloat32: {
      // Outside the float range the cast would be undefined; saturate to infinity.
      const double limit = std::numeric_limits<float>::max();
      const float f = d > limit ? std::numeric_limits<float>::infinity()
                      : d < -limit ? -std::numeric_limits<float>::infinity()
                                   : static_cast<float>(d);
      std::memcpy(valuePtr, &f, sizeof f);
      return static_cast<double>(f) == d || std::isnan(d);
    }
    case Kind::kFloat64:
      std::memcpy(valuePtr, &d, sizeof d);
      return true;
    case Kind::kInvalid:
      return false;
  }
  return false;
}
