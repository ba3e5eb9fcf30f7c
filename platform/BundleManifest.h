// The manifest of a bundle: a small "key = value" text file, Manifest.txt,
// naming the bundle's identifier, its component description, its version, its
// shared object and the entry symbol in it. Format in docs/bundles.md.
#pragma once

#include <string>
#include <string_view>

#include "platform/AudioTypes.h"
#include "platform/RuntimeApi.h"

QELVO_RUNTIME_API_BEGIN

struct BundleManifest {
  std::string identifier;  // reverse-domain, e.g. org.qelvo.audiounit.AUQelvoBS7
  std::string name;        // display name, UTF-8
  UInt32 type = 0;         // four-character codes, first character in the top byte
  UInt32 subtype = 0;
  UInt32 manufacturer = 0;
  UInt32 version = 0;      // major in the upper 16 bits, minor and bug-fix one byte each
  std::string executable;  // file name of the shared object inside the bundle
  std::string entry;       // exported entry function in it
};

inline constexpr const char* kBundleManifestFileName = "Manifest.txt";
inline constexpr const char* kBundleResourcesDirName = "Resources";
inline constexpr const char* kDefaultBundleEntrySymbol = "FilterEntry";
// Longer manifests are refused unread: the file is meant to be a few lines.
inline constexpr size_t kMaxBundleManifestBytes = 16 * 1024;

// [any] Parses manifest text. bundleStem (the bundle's directory name without
// ".bundle") names the default shared object "<stem>.so". On failure answers
// false with a reason ("line 3: ...") in error; out is then unspecified.
bool ParseBundleManifest(std::string_view text, std::string_view bundleStem, BundleManifest& out,
                         std::string& error);

// [control] Reads and parses <bundlePath>/Manifest.txt.
bool ReadBundleManifest(const std::string& bundlePath, std::string_view bundleStem,
                        BundleManifest& out, std::string& error);

// [any] 'aufx' -> 0x61756678; false unless text is exactly four printable ASCII characters.
bool ParseFourCharCode(std::string_view text, UInt32& out);
// The four characters of a code, for messages.
std::string FourCharCodeText(UInt32 code);

QELVO_RUNTIME_API_END
