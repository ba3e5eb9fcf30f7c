// File URLs: a POSIX path and whether it names a directory.
#include <cstring>
#include <string>

#include "platform/ValueObject.h"

struct CFURLObject : QelvoValue {
  CFURLObject(std::string p, bool dir) : QelvoValue(kQelvoTypeIDURL, false), path(std::move(p)), directory(dir) {}
  bool Equal(const QelvoValue& other) const override {
    const auto& o = static_cast<const CFURLObject&>(other);
    return path == o.path && directory == o.directory;
  }
  CFHashCode Hash() const override { return QelvoHashBytes(path.data(), path.size()); }

  const std::string path;  // without a trailing slash, except the root "/"
  const bool directory;
};

namespace {
const CFURLObject* AsURL(CFURLRef u) { return QelvoValueAs<CFURLObject>(u, kQelvoTypeIDURL); }
}  // namespace

CFTypeID CFURLGetTypeID() { return kQelvoTypeIDURL; }

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef path, CFIndex pathStyle, Boolean isDirectory) {
  if (pathStyle != kCFURLPOSIXPathStyle) return nullptr;
  const char* text = CFStringGetCStringPtr(path, kCFStringEncodingUTF8);
  if (text == nullptr || text[0] == '\0') return nullptr;
  std::string p(text);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return new CFURLObject(std::move(p), isDirectory != 0);
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef url, CFIndex pathStyle) {
  const CFURLObject* u = AsURL(url);
  if (u == nullptr || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
  return CFStringCreateWithBytes(nullptr, reinterpret_cast<const uint8_t*>(u->path.data()),
                                 static_cast<CFIndex>(u->path.size()), kCFStringEncodingUTF8, false);
}

Boolean CFURLHasDirectoryPath(CFURLRef url) {
  const CFURLObject* u = AsURL(url);
  return u != nullptr && u->directory;
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, uint8_t* buffer, CFIndex maxBufLen) {
  const CFURLObject* u = AsURL(url);
  if (u == nullptr || buffer == nullptr || maxBufLen <= 0) return false;
  if (u->path.size() + 1 > static_cast<size_t>(maxBufLen)) {
    buffer[0] = 0;
    return false;
  }
  std::memcpy(buffer, u->path.c_str(), u->path.size() + 1);
  return true;
}
