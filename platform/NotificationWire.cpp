#include "platform/NotificationWire.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/WideNumber.h"

namespace {

// Running totals of one notification, so a hostile payload costs bounded work
// and memory however it is shaped.
struct Budget {
  size_t values = 0;
  size_t bytes = 0;
  bool exceeded = false;

  bool Take(size_t byteCount) {
    ++values;
    bytes += byteCount;
    if (values > kNotificationMaxValues || bytes > kNotificationMaxTotalBytes) exceeded = true;
    return !exceeded;
  }
};

bool FitsString(const char* text, size_t length) {
  return text != nullptr && length <= kNotificationMaxStringBytes && std::memchr(text, 0, length) == nullptr;
}

// Text of a value-library string that can go on the wire, else null.
const char* SendableText(CFStringRef s, size_t* length) {
  const char* text = CFStringGetCStringPtr(s, kCFStringEncodingUTF8);
  CFIndex n = CFStringGetLength(s);
  if (text == nullptr || n < 0 || !FitsString(text, static_cast<size_t>(n))) return nullptr;
  *length = static_cast<size_t>(n);
  return text;
}

CFRef<CFStringRef> MakeString(const char* text, size_t length) {
  return CFRef<CFStringRef>::Adopt(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const uint8_t*>(text),
                                                           static_cast<CFIndex>(length), kCFStringEncodingUTF8, false));
}

CFRef<CFTypeRef> MakeInt(int64_t value) {
  return CFRef<CFTypeRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &value));
}

CFRef<CFTypeRef> MakeDouble(double value) {
  return CFRef<CFTypeRef>::Adopt(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value));
}

// ---- value library -> wire form ----------------------------------------------

CFRef<CFTypeRef> CopyValue(CFTypeRef value, int depth, Budget& budget);

CFRef<CFTypeRef> CopyDictionary(CFDictionaryRef dict, int depth, Budget& budget) {
  CFIndex count = CFDictionaryGetCount(dict);
  if (depth > kNotificationMaxDepth || count < 0 || static_cast<size_t>(count) > kNotificationMaxElements) return {};
  if (!budget.Take(0)) return {};
  std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
  CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
  CFRef<CFMutableDictionaryRef> copy = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, count, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  for (CFIndex i = 0; i < count; ++i) {
    if (CFGetTypeID(keys[i]) != kQelvoTypeIDString) continue;
    size_t keyLength = 0;
    if (SendableText(static_cast<CFStringRef>(keys[i]), &keyLength) == nullptr) continue;
    if (!budget.Take(keyLength)) return {};
    CFRef<CFTypeRef> v = CopyValue(values[i], depth + 1, budget);
    if (budget.exceeded) return {};
    if (v) CFDictionarySetValue(copy.get(), keys[i], v.get());
  }
  return CFRef<CFTypeRef>::Adopt(copy.release());
}

CFRef<CFTypeRef> CopyArray(CFArrayRef array, int depth, Budget& budget) {
  CFIndex count = CFArrayGetCount(array);
  if (depth > kNotificationMaxDepth || count < 0 || static_cast<size_t>(count) > kNotificationMaxElements) return {};
  if (!budget.Take(0)) return {};
  CFRef<CFMutableArrayRef> copy =
      CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(kCFAllocatorDefault, count, &kCFTypeArrayCallBacks));
  for (CFIndex i = 0; i < count; ++i) {
    CFRef<CFTypeRef> v = CopyValue(CFArrayGetValueAtIndex(array, i), depth + 1, budget);
    if (budget.exceeded) return {};
    if (v) CFArrayAppendValue(copy.get(), v.get());
  }
  return CFRef<CFTypeRef>::Adopt(copy.release());
}

CFRef<CFTypeRef> CopyValue(CFTypeRef value, int depth, Budget& budget) {
  switch (CFGetTypeID(value)) {
    case kQelvoTypeIDString: {
      size_t length = 0;
      if (SendableText(static_cast<CFStringRef>(value), &length) == nullptr || !budget.Take(length)) return {};
      return CFRef<CFTypeRef>::Retain(value);
    }
    case kQelvoTypeIDNumber: {
      if (!budget.Take(0)) return {};
      const WideNumber number = ReadWideNumber(static_cast<CFNumberRef>(value));
      return number.isFloat ? MakeDouble(number.real) : MakeInt(number.integer);
    }
    case kQelvoTypeIDBoolean:
      if (!budget.Take(0)) return {};
      return CFRef<CFTypeRef>::Retain(value);
    case kQelvoTypeIDData: {
      CFDataRef data = static_cast<CFDataRef>(value);
      CFIndex length = CFDataGetLength(data);
      if (length < 0 || static_cast<size_t>(length) > kNotificationMaxDataBytes) return {};
      if (!budget.Take(static_cast<size_t>(length))) return {};
      return CFRef<CFTypeRef>::Adopt(CFDataCreate(kCFAllocatorDefault, CFDataGetBytePtr(data), length));
    }
    case kQelvoTypeIDArray:
      return CopyArray(static_cast<CFArrayRef>(value), depth, budget);
    case kQelvoTypeIDDictionary:
      return CopyDictionary(static_cast<CFDictionaryRef>(value), depth, budget);
    default:
      return {};
  }
}

// ---- wire form -> message ------------------------------------------------------

int AppendValue(sd_bus_message* m, CFTypeRef value);

int AppendDictionaryBody(sd_bus_message* m, CFDictionaryRef dict) {
  int r = sd_bus_message_open_container(m, 'a', "{sv}");
  if (r < 0) return r;
  CFIndex count = CFDictionaryGetCount(dict);
  std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
  if (count > 0) CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
  for (CFIndex i = 0; i < count; ++i) {
    if ((r = sd_bus_message_open_container(m, 'e', "sv")) < 0) return r;
    const char* key = CFStringGetCStringPtr(static_cast<CFStringRef>(keys[i]), kCFStringEncodingUTF8);
    if ((r = sd_bus_message_append_basic(m, 's', key)) < 0) return r;
    if ((r = AppendValue(m, values[i])) < 0) return r;
    if ((r = sd_bus_message_close_container(m)) < 0) return r;
  }
  return sd_bus_message_close_container(m);
}

int AppendValue(sd_bus_message* m, CFTypeRef value) {
  int r = 0;
  switch (CFGetTypeID(value)) {
    case kQelvoTypeIDString:
      return sd_bus_message_append(m, "v", "s", CFStringGetCStringPtr(static_cast<CFStringRef>(value),
                                                                     kCFStringEncodingUTF8));
    case kQelvoTypeIDNumber: {
      const WideNumber number = ReadWideNumber(static_cast<CFNumberRef>(value));
      if (number.isFloat) return sd_bus_message_append(m, "v", "d", number.real);
      return sd_bus_message_append(m, "v", "x", number.integer);
    }
    case kQelvoTypeIDBoolean:
      return sd_bus_message_append(m, "v", "b", CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1 : 0);
    case kQelvoTypeIDData: {
      CFDataRef data = static_cast<CFDataRef>(value);
      if ((r = sd_bus_message_open_container(m, 'v', "ay")) < 0) return r;
      if ((r = sd_bus_message_append_array(m, 'y', CFDataGetBytePtr(data),
                                           static_cast<size_t>(CFDataGetLength(data)))) < 0)
        return r;
      return sd_bus_message_close_container(m);
    }
    case kQelvoTypeIDArray: {
      CFArrayRef array = static_cast<CFArrayRef>(value);
      if ((r = sd_bus_message_open_container(m, 'v', "av")) < 0) return r;
      if ((r = sd_bus_message_open_container(m, 'a', "v")) < 0) return r;
      for (CFIndex i = 0, n = CFArrayGetCount(array); i < n; ++i)
        if ((r = AppendValue(m, CFArrayGetValueAtIndex(array, i))) < 0) return r;
      if ((r = sd_bus_message_close_container(m)) < 0) return r;
      return sd_bus_message_close_container(m);
    }
    case kQelvoTypeIDDictionary:
      if ((r = sd_bus_message_open_container(m, 'v', "a{sv}")) < 0) return r;
      if ((r = AppendDictionaryBody(m, static_cast<CFDictionaryRef>(value))) < 0) return r;
      return sd_bus_message_close_container(m);
    default:
      return -EINVAL;  // CopyUserInfoForWire lets nothing else through
  }
}

// ---- message -> value library --------------------------------------------------
// Each reader returns false only when the message cannot be read on (corrupt,
// or over the per-notification totals); a value that is merely unacceptable
// is skipped and comes back null.

bool ReadVariant(sd_bus_message* m, int depth, Budget& budget, CFRef<CFTypeRef>* out);

bool ReadDictionaryBody(sd_bus_message* m, int depth, Budget& budget, CFRef<CFMutableDictionaryRef>* out) {
  if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0 || !budget.Take(0)) return false;
  bool keep = depth <= kNotificationMaxDepth;
  CFRef<CFMutableDictionaryRef> dict = CFRef<CFMutableDictionaryRef>::Adopt(CFDictionaryCreateMutable(
      kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  size_t count = 0;
  for (;;) {
    int r = sd_bus_message_enter_container(m, 'e', "sv");
    if (r < 0) return false;
    if (r == 0) break;
    if (++count > kNotificationMaxElements) keep = false;
    if (!keep) {
      if (sd_bus_message_skip(m, "sv") < 0) return false;
    } else {
      const char* key = nullptr;
      if (sd_bus_message_read_basic(m, 's', &key) <= 0) return false;
      CFRef<CFTypeRef> value;
      if (!ReadVariant(m, depth + 1, budget, &value)) return false;
      size_t keyLength = std::strlen(key);
      if (value && FitsString(key, keyLength)) {
        if (!budget.Take(keyLength)) return false;
        CFRef<CFStringRef> keyString = MakeString(key, keyLength);
        if (keyString) CFDictionarySetValue(dict.get(), keyString.get(), value.get());
      }
    }
    if (sd_bus_message_exit_container(m) < 0) return false;
  }
  if (sd_bus_message_exit_container(m) < 0) return false;
  if (keep) *out = std::move(dict);
  return true;
}

bool ReadArrayBody(sd_bus_message* m, int depth, Budget& budget, CFRef<CFTypeRef>* out) {
  if (sd_bus_message_enter_container(m, 'a', "v") <= 0 || !budget.Take(0)) return false;
  bool keep = true;
  CFRef<CFMutableArrayRef> array =
      CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
  size_t count = 0;
  for (;;) {
    int r = sd_bus_message_at_end(m, 0);
    if (r < 0) return false;
    if (r > 0) break;
    if (++count > kNotificationMaxElements) keep = false;
    if (!keep) {
      if (sd_bus_message_skip(m, "v") < 0) return false;
      continue;
    }
    CFRef<CFTypeRef> value;
    if (!ReadVariant(m, depth + 1, budget, &value)) return false;
    if (value) CFArrayAppendValue(array.get(), value.get());
  }
  if (sd_bus_message_exit_container(m) < 0) return false;
  if (keep) *out = CFRef<CFTypeRef>::Adopt(array.release());
  return true;
}

// depth: the nesting level the value would have inside the user info.
bool ReadVariant(sd_bus_message* m, int depth, Budget& budget, CFRef<CFTypeRef>* out) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(m, &type, &contents) <= 0 || type != 'v' || contents == nullptr) return false;
  std::string_view sig(contents);
  if (sig == "s") {
    const char* text = nullptr;
    if (sd_bus_message_read(m, "v", "s", &text) < 0) return false;
    size_t length = std::strlen(text);
    if (!FitsString(text, length)) return true;
    if (!budget.Take(length)) return false;
    *out = CFRef<CFTypeRef>::Adopt(MakeString(text, length).release());
    return true;
  }
  if (sig == "d") {
    double d = 0;
    if (sd_bus_message_read(m, "v", "d", &d) < 0 || !budget.Take(0)) return false;
    *out = MakeDouble(d);
    return true;
  }
  if (sig == "i" || sig == "u" || sig == "x" || sig == "t") {
    int64_t value = 0;
    int r = 0;
    if (sig == "i") {
      int32_t v = 0;
      r = sd_bus_message_read(m, "v", "i", &v);
      value = v;
    } else if (sig == "u") {
      uint32_t v = 0;
      r = sd_bus_message_read(m, "v", "u", &v);
      value = v;
    } else if (sig == "x") {
      r = sd_bus_message_read(m, "v", "x", &value);
    } else {
      uint64_t v = 0;
      r = sd_bus_message_read(m, "v", "t", &v);
      // Beyond the signed range the value library has no integer for it.
      if (r >= 0 && v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        if (!budget.Take(0)) return false;
        *out = MakeDouble(static_cast<double>(v));
        return true;
      }
      value = static_cast<int64_t>(v);
    }
    if (r < 0 || !budget.Take(0)) return false;
    *out = MakeInt(value);
    return true;
  }
  if (sig == "b") {
    int b = 0;
    if (sd_bus_message_read(m, "v", "b", &b) < 0 || !budget.Take(0)) return false;
    *out = CFRef<CFTypeRef>::Retain(b ? kCFBooleanTrue : kCFBooleanFalse);
    return true;
  }
  if (sig == "ay") {
    const void* bytes = nullptr;
    size_t size = 0;
    if (sd_bus_message_enter_container(m, 'v', "ay") <= 0) return false;
    if (sd_bus_message_read_array(m, 'y', &bytes, &size) < 0) return false;
    if (sd_bus_message_exit_container(m) < 0) return false;
    if (size > kNotificationMaxDataBytes) return true;
    if (!budget.Take(size)) return false;
    *out = CFRef<CFTypeRef>::Adopt(
        CFDataCreate(kCFAllocatorDefault, static_cast<const uint8_t*>(bytes), static_cast<CFIndex>(size)));
    return true;
  }
  bool isArray = sig == "av", isDictionary = sig == "a{sv}";
  if ((!isArray && !isDictionary) || depth > kNotificationMaxDepth) return sd_bus_message_skip(m, "v") >= 0;
  if (sd_bus_message_enter_container(m, 'v', contents) <= 0) return false;
  if (isArray) {
    if (!ReadArrayBody(m, depth, budget, out)) return false;
  } else {
    CFRef<CFMutableDictionaryRef> dict;
    if (!ReadDictionaryBody(m, depth, budget, &dict)) return false;
    *out = CFRef<CFTypeRef>::Adopt(dict.release());
  }
  return sd_bus_message_exit_container(m) >= 0;
}

// A match-rule argument in quotes, or "" when the value holds an apostrophe:
// the escape for it is not read alike by every bus library, so such an
// argument is left out of the rule (a broader rule, filtered locally).
std::string RuleArgument(const char* key, const char* text) {
  if (text == nullptr || std::strchr(text, '\'') != nullptr) return "";
  return std::string(",") + key + "='" + text + "'";
}

// The longest match rule the bus accepts.
constexpr size_t kMaxMatchRuleLength = 1024;

}  // namespace

CFRef<CFDictionaryRef> CopyUserInfoForWire(CFDictionaryRef userInfo, bool* tooLarge) {
  *tooLarge = false;
  if (CFGetTypeID(userInfo) != kQelvoTypeIDDictionary) return {};
  Budget budget;
  CFRef<CFTypeRef> copy = CopyDictionary(userInfo, 1, budget);
  // Too many entries at the top would arrive as no user info at all.
  if (budget.exceeded || static_cast<size_t>(CFDictionaryGetCount(userInfo)) > kNotificationMaxElements) {
    *tooLarge = true;
    return {};
  }
  if (!copy || CFDictionaryGetCount(static_cast<CFDictionaryRef>(copy.get())) == 0) return {};
  return CFRef<CFDictionaryRef>::Adopt(static_cast<CFDictionaryRef>(copy.release()));
}

bool IsSendableNotificationString(CFStringRef s) {
  size_t length = 0;
  return CFGetTypeID(s) == kQelvoTypeIDString && SendableText(s, &length) != nullptr;
}

int AppendWireNotification(sd_bus_message* message, CFStringRef name, CFStringRef object,
                           CFDictionaryRef wireUserInfo) {
  const char* objectText = object != nullptr ? CFStringGetCStringPtr(object, kCFStringEncodingUTF8) : "";
  int r = sd_bus_message_append(message, "ss", CFStringGetCStringPtr(name, kCFStringEncodingUTF8), objectText);
  if (r < 0) return r;
  if (wireUserInfo == nullptr) return sd_bus_message_append(message, "a{sv}", 0);
  return AppendDictionaryBody(message, wireUserInfo);
}

bool ReadWireNotification(sd_bus_message* message, WireNotification* out) {
  if (sd_bus_message_is_signal(message, kNotificationInterface, kNotificationMember) <= 0) return false;
  const char* path = sd_bus_message_get_path(message);
  const char* signature = sd_bus_message_get_signature(message, 1);
  if (path == nullptr || std::strcmp(path, kNotificationPath) != 0) return false;
  if (signature == nullptr || std::strcmp(signature, kNotificationSignature) != 0) return false;

  const char* name = nullptr;
  const char* object = nullptr;
  if (sd_bus_message_read(message, "ss", &name, &object) < 0) return false;
  size_t nameLength = std::strlen(name), objectLength = std::strlen(object);
  if (!FitsString(name, nameLength) || !FitsString(object, objectLength)) return false;

  Budget budget;
  budget.Take(nameLength + objectLength);
  CFRef<CFMutableDictionaryRef> userInfo;
  // A user info that is not kept (too many entries) takes the notification
  // with it, rather than arriving as none.
  if (!ReadDictionaryBody(message, 1, budget, &userInfo) || budget.exceeded || !userInfo) return false;

  out->name = MakeString(name, nameLength);
  if (!out->name) return false;
  out->object = objectLength > 0 ? MakeString(object, objectLength) : CFRef<CFStringRef>();
  if (objectLength > 0 && !out->object) return false;
  if (userInfo && CFDictionaryGetCount(userInfo.get()) > 0)
    out->userInfo = CFRef<CFDictionaryRef>::Adopt(userInfo.release());
  else
    out->userInfo = nullptr;
  return true;
}

std::string NotificationMatchRule(CFStringRef name, CFStringRef object) {
  std::string base = std::string("type='signal',path='") + kNotificationPath + "',interface='" +
                     kNotificationInterface + "',member='" + kNotificationMember + "'";
  const char* nameText = CFStringGetCStringPtr(name, kCFStringEncodingUTF8);
  const char* objectText = CFStringGetCStringPtr(object, kCFStringEncodingUTF8);
  std::string arg0 = RuleArgument("arg0", nameText);
  std::string arg1 = RuleArgument("arg1", objectText);
  if (base.size() + arg0.size() + arg1.size() <= kMaxMatchRuleLength) return base + arg0 + arg1;
  if (base.size() + arg0.size() <= kMaxMatchRuleLength) return base + arg0;
  if (base.size() + arg1.size() <= kMaxMatchRuleLength) return base + arg1;
  return base;
}
