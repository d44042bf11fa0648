// Small helpers the builder's unit tests share: packing in memory and reading fields back.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "builder/container_writer.h"

namespace sfxbuilder_test {

using Bytes = std::vector<uint8_t>;

struct Member {
  std::string name;
  Bytes data;
  int64_t seconds = 1000000000;
};

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Compressible(size_t size) {
  Bytes out;
  const char* phrase = "the quick brown fox jumps over the lazy dog; ";
  while (out.size() < size) out.push_back((uint8_t)phrase[out.size() % strlen(phrase)]);
  return out;
}

inline Bytes Noise(size_t size, uint32_t seed = 12345) {
  Bytes out(size);
  for (auto& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = (uint8_t)(seed >> 16);
  }
  return out;
}

// A stand-in stub: any bytes serve, since nothing reads the image.
inline Bytes StubBytes(size_t size = 5000) { return Bytes(size, 0x90); }

inline bool Pack(const Bytes& stubBytes, const std::vector<Member>& members, const sfxbuilder::PackOptions& options,
                 Bytes* out, std::string* error, int64_t stubSeconds = 999999999) {
  sfxbuilder::StubInput stub;
  stub.name = "stub.bin";
  stub.bytes = stubBytes.data();
  stub.size = stubBytes.size();
  stub.modifiedSeconds = stubSeconds;
  std::vector<sfxbuilder::MemberInput> inputs;
  std::vector<Bytes> data;
  for (const Member& m : members) {
    inputs.push_back({m.name, m.data.size(), m.seconds});
    data.push_back(m.data);
  }
  sfxbuilder::MemorySink sink;
  bool ok = sfxbuilder::BuildContainer(stub, inputs, data, options, &sink, error);
  *out = sink.bytes;
  return ok;
}

inline const DirectoryEntry* EntryAt(const Bytes& container, int count, int index) {
  size_t directory = container.size() - TRAILER_SIZE - (size_t)count * ENTRY_SIZE;
  return reinterpret_cast<const DirectoryEntry*>(container.data() + directory + (size_t)index * ENTRY_SIZE);
}

}  // namespace sfxbuilder_test
