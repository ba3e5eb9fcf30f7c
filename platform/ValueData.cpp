// Byte strings; the mutable ones grow as bytes are appended.
#include <vector>

#include "platform/ValueObject.h"

struct CFDataObject : QelvoValue {
  explicit CFDataObject(bool isMutable) : QelvoValue(kQelvoTypeIDData, false), mutable_(isMutable) {}
  bool Equal(const QelvoValue& other) const override { return bytes == static_cast<const CFDataObject&>(other).bytes; }
  CFHashCode Hash() const override { return QelvoHashBytes(bytes.data(), bytes.size()); }

  const bool mutable_;
  std::vector<uint8_t> bytes;
};

namespace {
const CFDataObject* AsData(CFDataRef d) { return QelvoValueAs<CFDataObject>(d, kQelvoTypeIDData); }
CFDataObject* AsMutableData(CFMutableDataRef d) {
  auto* data = QelvoMutableValueAs<CFDataObject>(d, kQelvoTypeIDData);
  return data != nullptr && data->mutable_ ? data : nullptr;
}
}  // namespace

CFTypeID CFDataGetTypeID() { return kQelvoTypeIDData; }

CFDataRef CFDataCreate(CFAllocatorRef, const uint8_t* bytes, CFIndex length) {
  if (length < 0 || (bytes == nullptr && length > 0)) return nullptr;
  auto* data = new CFDataObject(false);
  if (length > 0) data->bytes.assign(bytes, bytes + length);
  return data;
}

// The capacity is only a hint: the byte string grows past it.
CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex capacity) {
  auto* data = new CFDataObject(true);
  if (capacity > 0) data->bytes.reserve(static_cast<size_t>(capacity));
  return data;
}

void CFDataAppendBytes(CFMutableDataRef data, const uint8_t* bytes, CFIndex length) {
  CFDataObject* d = AsMutableData(data);
  if (d == nullptr || bytes == nullptr || length <= 0) return;
  d->bytes.insert(d->bytes.end(), bytes, bytes + length);
}

void CFDataSetLength(CFMutableDataRef data, CFIndex length) {
  CFDataObject* d = AsMutableData(data);
  if (d == nullptr || length < 0) return;
  d->bytes.resize(static_cast<size_t>(length), 0);
}

uint8_t* CFDataGetMutableBytePtr(CFMutableDataRef data) {
  CFDataObject* d = AsMutableData(data);
  return d != nullptr ? d->bytes.data() : nullptr;
}

const uint8_t* CFDataGetBytePtr(CFDataRef data) {
  const CFDataObject* d = AsData(data);
  return d != nullptr ? d->bytes.data() : nullptr;
}

CFIndex CFDataGetLength(CFDataRef data) {
  const CFDataObject* d = AsData(data);
  return d != nullptr ? static_cast<CFIndex>(d->bytes.size()) : 0;
}
