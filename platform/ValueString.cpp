// Immutable strings held as UTF-8 text; equality and hash by content.
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/ValueObject.h"

struct CFStringObject : QelvoValue {
  CFStringObject(std::string_view bytes, bool isImmortal, bool isAscii)
      : QelvoValue(kQelvoTypeIDString, isImmortal), text(bytes), ascii(isAscii) {}
  bool Equal(const QelvoValue& other) const override {
    return text == static_cast<const CFStringObject&>(other).text;
  }
  CFHashCode Hash() const override { return QelvoHashBytes(text.data(), text.size()); }

  const std::string text;
  const bool ascii;
};

namespace {

bool IsAscii(std::string_view bytes) {
  for (unsigned char c : bytes) {
    if (c > 0x7F) return false;
  }
  return true;
}

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  const size_t n = bytes.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    uint32_t cp;
    uint32_t minimum;
    if ((c & 0xE0) == 0xC0) {
      extra = 1, cp = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, cp = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, cp = c & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(bytes[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

CFStringRef MakeString(std::string_view bytes, CFStringEncoding encoding) {
  const bool ascii = IsAscii(bytes);
  if (encoding == kCFStringEncodingASCII) {
    if (!ascii) return nullptr;
  } else if (encoding == kCFStringEncodingUTF8) {
    if (!ascii && !IsValidUtf8(bytes)) return nullptr;
  } else {
    return nullptr;
  }
  return new CFStringObject(bytes, false, ascii);
}

const CFStringObject* AsString(CFStringRef s) { return QelvoValueAs<CFStringObject>(s, kQelvoTypeIDString); }

// Start of the last whole UTF-8 character at or before limit, so a cut never
// splits a character.
size_t CharacterBoundary(const std::string& text, size_t limit) {
  while (limit > 0 && limit < text.size() && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

}  // namespace

CFTypeID CFStringGetTypeID() { return kQelvoTypeIDString; }

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding encoding) {
  if (text == nullptr) return nullptr;
  return MakeString(std::string_view(text), encoding);
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const uint8_t* bytes, CFIndex length, CFStringEncoding encoding,
                                    Boolean) {
  if (length < 0 || (bytes == nullptr && length > 0)) return nullptr;
  if (length == 0) return MakeString(std::string_view(), encoding);
  return MakeString(std::string_view(reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)), encoding);
}

Boolean CFStringGetCString(CFStringRef s, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  if (buffer == nullptr || bufferSize <= 0) return false;
  buffer[0] = '\0';
  const CFStringObject* str = AsString(s);
  if (str == nullptr) return false;
  const std::string& text = str->text;
  if (encoding == kCFStringEncodingASCII) {
    if (!str->ascii) return false;
  } else if (encoding != kCFStringEncodingUTF8) {
    return false;
  }
  // A zero byte inside the text would silently shorten it as C text.
  if (text.find('\0') != std::string::npos) return false;
  const auto room = static_cast<size_t>(bufferSize) - 1;
  const size_t count = text.size() <= room ? text.size() : CharacterBoundary(text, room);
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return count == text.size();
}

const char* CFStringGetCStringPtr(CFStringRef s, CFStringEncoding encoding) {
  const CFStringObject* str = AsString(s);
  if (str == nullptr) return nullptr;
  if (encoding == kCFStringEncodingUTF8 || (encoding == kCFStringEncodingASCII && str->ascii)) {
    return str->text.c_str();
  }
  return nullptr;
}

CFIndex CFStringGetLength(CFStringRef s) {
  const CFStringObject* str = AsString(s);
  return str != nullptr ? static_cast<CFIndex>(str->text.size()) : 0;
}

// The number formatter's keys. Their strings are built when the runtime is
// loaded; the keys are the strings' fixed addresses, so they are constants
// and a copy of a key made anywhere (an executable's copy of exported data)
// holds the same pointer.
namespace {
QelvoImmortal<CFStringObject> sMinFractionDigitsKey(std::string_view("kCFNumberFormatterMinFractionDigits"), true,
                                                    true);
QelvoImmortal<CFStringObject> sMaxFractionDigitsKey(std::string_view("kCFNumberFormatterMaxFractionDigits"), true,
                                                    true);
}  // namespace
constinit const CFNumberFormatterKey qelvo_values::kCFNumberFormatterMinFractionDigits = &sMinFractionDigitsKey.value;
constinit const CFNumberFormatterKey qelvo_values::kCFNumberFormatterMaxFractionDigits = &sMaxFractionDigitsKey.value;

CFStringRef CFStringMakeConstantString(const char* text) {
  if (text == nullptr) return nullptr;
  // Interned: one immortal object per distinct text. The table is never freed,
  // so constant strings stay valid through static destruction.
  static std::mutex* const lock = new std::mutex;
  static auto* const table = new std::unordered_map<std::string_view, const CFStringObject*>;
  const std::string_view key(text);
  std::lock_guard guard(*lock);
  auto found = table->find(key);
  if (found != table->end()) return found->second;
  auto* made = new CFStringObject(key, true, IsAscii(key));
  table->emplace(std::string_view(made->text), made);
  return made;
}
