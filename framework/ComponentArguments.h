// Reads the arguments of a component argument block. The block holds one
// 8-byte word per argument with the last argument first, so with n arguments
// the first one sits in word n - 1. A block whose paramSize is too small for
// the n arguments a selector takes is refused before any word is read.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "platform/AudioTypes.h"

// [any] Read by whichever thread the selector comes on.
class ComponentArguments {
 public:
  ComponentArguments(const ComponentParameters& params, unsigned count)
      : mParams(params), mCount(count) {}

  // The block holds every argument the selector takes.
  bool Complete() const { return mParams.paramSize >= mCount * sizeof(intptr_t); }

  // Argument number index (0: the first in call order) as T. Pointers and
  // integers are taken from the word; a 32-bit float from its low 32 bits,
  // bit for bit.
  template <class T>
  T Get(unsigned index) const {
    const intptr_t word = Word(index);
    if constexpr (std::is_pointer_v<T>) {
      return reinterpret_cast<T>(word);
    } else if constexpr (std::is_same_v<T, Float32>) {
      return std::bit_cast<Float32>(static_cast<UInt32>(word));
    } else {
      static_assert(std::is_integral_v<T> && sizeof(T) <= sizeof(UInt32));
      return static_cast<T>(word);
    }
  }

 private:
  intptr_t Word(unsigned index) const {
    intptr_t word;
    const auto* words =
        reinterpret_cast<const Byte*>(&mParams) + offsetof(ComponentParameters, params);
    std::memcpy(&word, words + (mCount - 1 - index) * sizeof(intptr_t), sizeof word);
    return word;
  }

  const ComponentParameters& mParams;
  unsigned mCount;
};
