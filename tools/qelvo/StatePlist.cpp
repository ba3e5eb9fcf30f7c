#include "tools/qelvo/StatePlist.h"

#include <plist/plist.h>

#include <cstring>
#include <memory>
#include <vector>

#include "platform/WideNumber.h"
#include "tools/qelvo/AtomicOutput.h"
#include "tools/qelvo/InputFile.h"
#include "tools/qelvo/PluginHost.h"
#include "tools/qelvo/ToolError.h"

namespace {

// Saved states are a few hundred bytes; anything far larger is not one.
constexpr size_t kMaxStateFileBytes = 16 * 1024 * 1024;
constexpr int kMaxDepth = 32;

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistHolder = std::unique_ptr<void, PlistFree>;

plist_t ToNode(CFTypeRef value, int depth) {
  if (value == nullptr || depth > kMaxDepth) throw ToolError("the saved state holds an empty or too deeply nested value");
  const CFTypeID type = CFGetTypeID(value);
  if (type == CFStringGetTypeID()) return plist_new_string(StringOf(static_cast<CFStringRef>(value)).c_str());
  if (type == CFBooleanGetTypeID()) return plist_new_bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1 : 0);
  if (type == CFNumberGetTypeID()) {
    const WideNumber number = ReadWideNumber(static_cast<CFNumberRef>(value));
    if (number.isFloat) return plist_new_real(number.real);
    // Integers are stored as 64-bit patterns; negative ones read back alike.
    return plist_new_uint(static_cast<uint64_t>(number.integer));
  }
  if (type == CFDataGetTypeID()) {
    CFDataRef d = static_cast<CFDataRef>(value);
    return plist_new_data(reinterpret_cast<const char*>(CFDataGetBytePtr(d)), static_cast<uint64_t>(CFDataGetLength(d)));
  }
  if (type == CFArrayGetTypeID()) {
    CFArrayRef a = static_cast<CFArrayRef>(value);
    PlistHolder node(plist_new_array());
    for (CFIndex i = 0; i < CFArrayGetCount(a); ++i) plist_array_append_item(node.get(), ToNode(CFArrayGetValueAtIndex(a, i), depth + 1));
    return node.release();
  }
  if (type == CFDictionaryGetTypeID()) {
    CFDictionaryRef d = static_cast<CFDictionaryRef>(value);
    const CFIndex count = CFDictionaryGetCount(d);
    std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(d, keys.data(), values.data());
    PlistHolder node(plist_new_dict());
    for (CFIndex i = 0; i < count; ++i) {
      if (keys[i] == nullptr || CFGetTypeID(keys[i]) != CFStringGetTypeID())
        throw ToolError("the saved state has a dictionary key that is not a string");
      plist_dict_set_item(node.get(), StringOf(static_cast<CFStringRef>(keys[i])).c_str(), ToNode(values[i], depth + 1));
    }
    return node.release();
  }
  throw ToolError("the saved state holds a value with no property-list form");
}

// The deepest element nesting of XML text, stopping early once it passes
// limit. Comments, CDATA, declarations and quoted attribute values are
// skipped, so a '<' inside them is not taken for a tag.
int XmlNestingBeyond(const std::string& xml, int limit) {
  int depth = 0;
  size_t i = 0;
  const size_t n = xml.size();
  auto skipPast = [&](const char* end) {
    const size_t at = xml.find(end, i);
    i = at == std::string::npos ? n : at + std::strlen(end);
  };
  while ((i = xml.find('<', i)) != std::string::npos) {
    if (xml.compare(i, 4, "<!--") == 0) {
      skipPast("-->");
    } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
      skipPast("]]>");
    } else if (xml.compare(i, 2, "<?") == 0) {
      skipPast("?>");
    } else if (xml.compare(i, 2, "<!") == 0) {
      // A document type declaration, with its internal subset if any.
      int brackets = 0;
      for (++i; i < n && (xml[i] != '>' || brackets > 0); ++i) {
        if (xml[i] == '[') ++brackets;
        if (xml[i] == ']') --brackets;
      }
    } else {
      const bool closing = i + 1 < n && xml[i + 1] == '/';
      char quote = 0;
      size_t j = i + 1;
      for (; j < n && (quote != 0 || xml[j] != '>'); ++j) {
        if (quote == 0 && (xml[j] == '"' || xml[j] == '\'')) quote = xml[j];
        else if (xml[j] == quote) quote = 0;
      }
      const bool empty = j < n && xml[j - 1] == '/';
      i = j;
      if (closing) {
        --depth;
      } else if (!empty && ++depth > limit) {
        return depth;
      }
    }
  }
  return depth;
}

CFRef<CFTypeRef> FromNode(plist_t node, int depth, const std::string& source) {
  if (depth > kMaxDepth) throw ToolError(source + ": nested too deeply to be a saved state");
  switch (plist_get_node_type(node)) {
    case PLIST_STRING: {
      char* text = nullptr;
      plist_get_string_val(node, &text);
      CFRef<CFTypeRef> s = CFRef<CFTypeRef>::Adopt(CFStringCreateWithCString(nullptr, text != nullptr ? text : "", kCFStringEncodingUTF8));
      free(text);
      if (!s) throw ToolError(source + ": a string is not valid UTF-8");
      return s;
    }
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return CFRef<CFTypeRef>::Retain(b ? kCFBooleanTrue : kCFBooleanFalse);
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      const int64_t i = static_cast<int64_t>(u);
      return CFRef<CFTypeRef>::Adopt(CFNumberCreate(nullptr, kCFNumberSInt64Type, &i));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return CFRef<CFTypeRef>::Adopt(CFNumberCreate(nullptr, kCFNumberDoubleType, &d));
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      uint64_t length = 0;
      plist_get_data_val(node, &bytes, &length);
      CFRef<CFTypeRef> d = CFRef<CFTypeRef>::Adopt(CFDataCreate(nullptr, reinterpret_cast<const uint8_t*>(bytes), static_cast<CFIndex>(length)));
      free(bytes);
      return d;
    }
    case PLIST_ARRAY: {
      CFRef<CFMutableArrayRef> a = CFRef<CFMutableArrayRef>::Adopt(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
      const uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) CFArrayAppendValue(a.get(), FromNode(plist_array_get_item(node, i), depth + 1, source).get());
      return CFRef<CFTypeRef>::Adopt(a.release());
    }
    case PLIST_DICT: {
      CFRef<CFMutableDictionaryRef> d = CFRef<CFMutableDictionaryRef>::Adopt(
          CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (value == nullptr) {
          free(key);
          break;
        }
        CFRef<CFStringRef> k = CFRef<CFStringRef>::Adopt(CFStringCreateWithCString(nullptr, key != nullptr ? key : "", kCFStringEncodingUTF8));
        free(key);
        if (!k) {
          free(it);
          throw ToolError(source + ": a key is not valid UTF-8");
        }
        CFRef<CFTypeRef> v;
        try {
          v = FromNode(value, depth + 1, source);
        } catch (...) {
          free(it);
          throw;
        }
        CFDictionarySetValue(d.get(), k.get(), v.get());
      }
      free(it);
      return CFRef<CFTypeRef>::Adopt(d.release());
    }
    default:
      throw ToolError(source + ": holds a value of a kind saved states never have (a date or an identifier)");
  }
}

}  // namespace

std::string PropertyListToXml(CFPropertyListRef value) {
  PlistHolder root(ToNode(value, 0));
  char* xml = nullptr;
  uint32_t length = 0;
  plist_to_xml(root.get(), &xml, &length);
  if (xml == nullptr) throw ToolError("cannot write the saved state as a property list");
  std::string text(xml, length);
  plist_to_xml_free(xml);
  return text;
}

CFRef<CFPropertyListRef> PropertyListFromXml(const std::string& xml, const std::string& sourceName) {
  plist_t root = nullptr;
  if (xml.size() > kMaxStateFileBytes) throw ToolError(sourceName + ": too large to be a saved state");
  if (xml.find("<plist") == std::string::npos) throw ToolError(sourceName + ": not an XML property list");
  // The parser recurses per level while building and freeing its tree, so a
  // deep enough file would overflow the stack: refused before it parses.
  // The <plist> element, a dictionary's <key> and the value itself add
  // three elements to the values' own nesting.
  if (XmlNestingBeyond(xml, kMaxDepth + 3) > kMaxDepth + 3)
    throw ToolError(sourceName + ": nested too deeply to be a saved state (more than " + std::to_string(kMaxDepth) +
                    " levels)");
  plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
  if (root == nullptr) throw ToolError(sourceName + ": not a readable XML property list");
  PlistHolder holder(root);
  return FromNode(root, 0, sourceName);
}

CFRef<CFPropertyListRef> ReadStateFile(const std::string& path) {
  CFRef<CFPropertyListRef> state = PropertyListFromXml(ReadInputText(path, kMaxStateFileBytes, "a saved state"), path);
  if (CFGetTypeID(state.get()) != CFDictionaryGetTypeID())
    throw ToolError(path + ": a saved state is a dictionary, this property list holds something else");
  return state;
}

void WriteStateFile(const std::string& path, CFPropertyListRef state) {
  WriteFileAtomically(path, PropertyListToXml(state));
}
