// In-memory byte sources and sinks; portable, no OS headers.
#include "builder/byte_io.h"

#include <string.h>

namespace sfxbuilder {

bool MemorySource::ReadAt(uint64_t position, uint8_t* buffer, size_t count) {
  if (position > size_ || count > size_ - position) return false;
  if (count > 0) memcpy(buffer, data_ + position, count);
  return true;
}

bool MemorySink::Write(const uint8_t* data, size_t count) {
  bytes.insert(bytes.end(), data, data + count);
  return true;
}

}  // namespace sfxbuilder
