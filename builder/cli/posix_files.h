// The builder CLI's file handling over POSIX: reading inputs, a file as a byte source, an output
// that appears whole or not at all, placing extracted files; POSIX only.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "builder/byte_io.h"

namespace sfxbuilder {

struct FileFacts {
  uint64_t size = 0;
  int64_t modifiedSeconds = 0;
  mode_t mode = 0;
};

// Regular files only; on failure *error says why, naming the path.
bool StatInput(const std::string& path, FileFacts* facts, std::string* error);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

class FileSource final : public ByteSource {
 public:
  ~FileSource() override;
  bool Open(const std::string& path, std::string* error);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t position, uint8_t* buffer, size_t count) override;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

// Written to a temporary file beside the destination, synced, then renamed over it; dropped
// (the temporary removed) unless Commit succeeds, also when the process is interrupted.
class AtomicOutput final : public ByteSink {
 public:
  ~AtomicOutput() override;
  bool Open(const std::string& destination, mode_t mode, std::string* error);
  bool Write(const uint8_t* data, size_t count) override;
  // stamp, when given, becomes the file's access and modification time.
  bool Commit(std::string* error, const int64_t* stamp = nullptr);
  void Discard();

 private:
  bool Flush();
  int fd_ = -1;
  std::string destination_;
  std::string temporary_;
  std::vector<uint8_t> buffer_;
  int writeErrno_ = 0;
};

// The folder this program's executable lies in (from /proc/self/exe), or "" if unknown.
std::string ExecutableFolder();

// Sets access and modification time of an open file.
bool SetFileSeconds(int fd, int64_t seconds);

// Creates folder when it does not exist yet.
bool EnsureFolder(const std::string& folder, std::string* error);

}  // namespace sfxbuilder
