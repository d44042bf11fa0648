// Byte sources and sinks the container writer and reader work through; portable, no OS headers.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace sfxbuilder {

// Random-access input: the reader seeks from the end, so it needs the size and positioned reads.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Fills all of buffer from position; false when the bytes are not there or cannot be read.
  virtual bool ReadAt(uint64_t position, uint8_t* buffer, size_t count) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool Write(const uint8_t* data, size_t count) = 0;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit MemorySource(const std::vector<uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t position, uint8_t* buffer, size_t count) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

class MemorySink final : public ByteSink {
 public:
  bool Write(const uint8_t* data, size_t count) override;
  std::vector<uint8_t> bytes;
};

}  // namespace sfxbuilder
