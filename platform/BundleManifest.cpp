// Manifest parsing: strict about what it accepts, since every field ends up in
// a file name, a symbol lookup or a component description.
#include "platform/BundleManifest.h"

#include <sys/stat.h>

#include <charconv>
#include <fstream>
#include <set>

namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool ValidIdentifier(std::string_view s) {
  if (s.empty() || s.front() == '.' || s.back() == '.') return false;
  for (char c : s)
    if (!IsAsciiAlnum(c) && c != '.' && c != '-' && c != '_') return false;
  return true;
}

bool ValidSymbol(std::string_view s) {
  if (s.empty() || (s.front() >= '0' && s.front() <= '9')) return false;
  for (char c : s)
    if (!IsAsciiAlnum(c) && c != '_') return false;
  return true;
}

// A plain file name inside the bundle: no way out of the bundle directory.
bool ValidFileName(std::string_view s) {
  if (s.empty() || s == "." || s == "..") return false;
  for (char c : s)
    if (c == '/' || static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

// Display names may be any UTF-8 text without control characters.
bool ValidName(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  CFStringRef probe = CFStringCreateWithBytes(nullptr, reinterpret_cast<const uint8_t*>(s.data()),
                                              static_cast<CFIndex>(s.size()), kCFStringEncodingUTF8, false);
  if (probe == nullptr) return false;
  CFRelease(probe);
  return true;
}

// "major[.minor[.bugfix]]", decimal.
bool ParseVersion(std::string_view s, UInt32& out) {
  const unsigned limits[3] = {0xFFFF, 0xFF, 0xFF};
  unsigned fields[3] = {0, 0, 0};
  size_t count = 0;
  const char* p = s.data();
  const char* end = s.data() + s.size();
  while (true) {
    if (count == 3 || p == end || *p < '0' || *p > '9') return false;
    unsigned value = 0;
    const auto [next, ec] = std::from_chars(p, end, value);
    if (ec != std::errc() || value > limits[count]) return false;
    fields[count++] = value;
    p = next;
    if (p == end) break;
    if (*p != '.') return false;
    ++p;
  }
  out = (fields[0] << 16) | (fields[1] << 8) | fields[2];
  return true;
}

std::string LineError(size_t line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

}  // namespace

bool ParseFourCharCode(std::string_view text, UInt32& out) {
  if (text.size() != 4) return false;
  UInt32 code = 0;
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
    code = (code << 8) | static_cast<unsigned char>(c);
  }
  out = code;
  return true;
}

std::string FourCharCodeText(UInt32 code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((code >> shift) & 0xFF);
    text += (c >= 0x20 && c <= 0x7E) ? c : '?';
  }
  return text;
}

bool ParseBundleManifest(std::string_view text, std::string_view bundleStem, BundleManifest& out,
                         std::string& error) {
  if (text.size() > kMaxBundleManifestBytes) {
    error = "manifest is larger than " + std::to_string(kMaxBundleManifestBytes) + " bytes";
    return false;
  }
  if (text.find('\0') != std::string_view::npos) {
    error = "manifest contains a zero byte";
    return false;
  }

  out = BundleManifest{};
  std::set<std::string, std::less<>> seen;
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t eol = text.find('\n');
    std::string_view line = Trim(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (line.empty() || line.front() == '#') continue;

    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      error = LineError(lineNumber, "expected \"key = value\"");
      return false;
    }
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    const std::string keyText(key);
    if (key.empty()) {
      error = LineError(lineNumber, "missing key before '='");
      return false;
    }
    if (!seen.insert(keyText).second) {
      error = LineError(lineNumber, "duplicate key \"" + keyText + "\"");
      return false;
    }
    if (value.empty()) {
      error = LineError(lineNumber, "empty value for \"" + keyText + "\"");
      return false;
    }

    bool valid = true;
    if (key == "identifier") {
      valid = ValidIdentifier(value);
      out.identifier = value;
    } else if (key == "name") {
      valid = ValidName(value);
      out.name = value;
    } else if (key == "type") {
      valid = ParseFourCharCode(value, out.type);
    } else if (key == "subtype") {
      valid = ParseFourCharCode(value, out.subtype);
    } else if (key == "manufacturer") {
      valid = ParseFourCharCode(value, out.manufacturer);
    } else if (key == "version") {
      valid = ParseVersion(value, out.version);
    } else if (key == "executable") {
      valid = ValidFileName(value);
      out.executable = value;
    } else if (key == "entry") {
      valid = ValidSymbol(value);
      out.entry = value;
    } else {
      error = LineError(lineNumber, "unknown key \"" + keyText + "\"");
      return false;
    }
    if (!valid) {
      error = LineError(lineNumber, "invalid " + keyText + " \"" + std::string(value) + "\"");
      return false;
    }
  }

  for (const char* required : {"identifier", "name", "type", "subtype", "manufacturer", "version"}) {
    if (!seen.contains(std::string_view(required))) {
      error = std::string("missing key \"") + required + "\"";
      return false;
    }
  }
  if (out.executable.empty()) {
    out.executable = std::string(bundleStem) + ".so";
    if (bundleStem.empty() || !ValidFileName(out.executable)) {
      error = "no executable named and none follows from the bundle name";
      return false;
    }
  }
  if (out.entry.empty()) out.entry = kDefaultBundleEntrySymbol;
  return true;
}

bool ReadBundleManifest(const std::string& bundlePath, std::string_view bundleStem, BundleManifest& out,
                        std::string& error) {
  const std::string path = bundlePath + "/" + kBundleManifestFileName;
  // A directory or a pipe under that name would not read as text (or would block).
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "no manifest file " + path;
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  // One byte more than allowed is enough to tell an oversized file.
  std::string text(kMaxBundleManifestBytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (file.bad()) {
    error = "cannot read " + path;
    return false;
  }
  text.resize(static_cast<size_t>(file.gcount()));
  if (!ParseBundleManifest(text, bundleStem, out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}
