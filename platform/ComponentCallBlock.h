// Builds the argument block of one call into a component entry on the stack:
// flags 0, paramSize 8 x the argument count, the selector, then one 8-byte
// word per argument with the last argument first. Pointers and integers go
// into their word as integers (signed ones sign-extended); a 32-bit float as
// its bit pattern in the low 32 bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "platform/AudioTypes.h"

template <class T>
intptr_t ComponentArgumentWord(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<intptr_t>(value);
  } else if constexpr (std::is_same_v<T, Float32>) {
    return static_cast<intptr_t>(std::bit_cast<UInt32>(value));
  } else {
    static_assert(std::is_integral_v<T> && sizeof(T) <= sizeof(UInt32),
                  "arguments are pointers, 32-bit floats or integers of at most 32 bits");
    return static_cast<intptr_t>(value);
  }
}

template <class... Args>
class ComponentCallBlock {
 public:
  static constexpr unsigned kCount = sizeof...(Args);
  // paramSize is one byte.
  static_assert(kCount * sizeof(intptr_t) <= 0xFF);

  explicit ComponentCallBlock(SInt16 what, Args... args) {
    mBlock.header.flags = 0;
    mBlock.header.paramSize = static_cast<UInt8>(kCount * sizeof(intptr_t));
    mBlock.header.what = what;
    mBlock.header.padding = 0;
    unsigned index = 0;
    (Put(kCount - 1 - index++, ComponentArgumentWord(args)), ...);
  }

  ComponentParameters* get() { return &mBlock.header; }

 private:
  void Put(unsigned word, intptr_t value) {
    std::memcpy(reinterpret_cast<Byte*>(&mBlock) + offsetof(ComponentParameters, params) +
                    word * sizeof(intptr_t),
                &value, sizeof value);
  }

  // The header's own word is the first; the others follow it directly.
  struct Block {
    ComponentParameters header;
    intptr_t more[kCount > 1 ? kCount - 1 : 1];
  } mBlock{};
  static_assert(offsetof(Block, more) == offsetof(ComponentParameters, params) + sizeof(intptr_t));
};
