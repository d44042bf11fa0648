// The builder CLI's file handling over POSIX; POSIX only.
#include "builder/cli/posix_files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace sfxbuilder {
namespace {

constexpr size_t OUTPUT_BUFFER = 1 << 20;

// The one temporary file in flight, for the signal handler: a fixed buffer, since the handler
// may use neither the heap nor std::string.
char g_pendingTemporary[PATH_MAX + 32];

void RemovePendingAndDie(int signalNumber) {
  if (g_pendingTemporary[0] != 0) unlink(g_pendingTemporary);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

void WatchSignals() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, RemovePendingAndDie);
}

std::string Describe(const std::string& path, int err) { return "'" + path + "': " + strerror(err); }

bool WriteAll(int fd, const uint8_t* data, size_t count) {
  while (count > 0) {
    ssize_t n = write(fd, data, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    count -= (size_t)n;
  }
  return true;
}

}  // namespace

bool StatInput(const std::string& path, FileFacts* facts, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *error = "cannot read " + Describe(path, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "cannot read '" + path + "': not a regular file";
    return false;
  }
  facts->size = (uint64_t)st.st_size;
  facts->modifiedSeconds = (int64_t)st.st_mtim.tv_sec;
  facts->mode = st.st_mode;
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot read " + Describe(path, errno);
    return false;
  }
  bytes->clear();
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) bytes->reserve((size_t)st.st_size);
  uint8_t chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read " + Describe(path, errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  close(fd);
  return true;
}

FileSource::~FileSource() {
  if (fd_ >= 0) close(fd_);
}

bool FileSource::Open(const std::string& path, std::string* error) {
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) {
    *error = "cannot read " + Describe(path, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "cannot read '" + path + "': not a regular file";
    return false;
  }
  size_ = (uint64_t)st.st_size;
  return true;
}

bool FileSource::ReadAt(uint64_t position, uint8_t* buffer, size_t count) {
  if (position > size_ || count > size_ - position) return false;
  while (count > 0) {
    ssize_t n = pread(fd_, buffer, count, (off_t)position);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    position += (uint64_t)n;
    count -= (size_t)n;
  }
  return true;
}

AtomicOutput::~AtomicOutput() { Discard(); }

bool AtomicOutput::Open(const std::string& destination, mode_t mode, std::string* error) {
  WatchSignals();
  destination_ = destination;
  // A short name of its own, so a destination name of 255 bytes still leaves room for it.
  temporary_ = destination.substr(0, destination.find_last_of('/') + 1) + ".sfxrun-pack.XXXXXX";
  if (temporary_.size() >= sizeof g_pendingTemporary) {
    *error = "output path '" + destination + "' is too long";
    return false;
  }
  std::vector<char> pattern(temporary_.begin(), temporary_.end());
  pattern.push_back(0);
  fd_ = mkstemp(pattern.data());
  if (fd_ < 0) {
    *error = "cannot create a file beside " + Describe(destination, errno);
    return false;
  }
  temporary_ = pattern.data();
  memcpy(g_pendingTemporary, temporary_.c_str(), temporary_.size() + 1);
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, mode & ~mask);
  buffer_.reserve(OUTPUT_BUFFER);
  return true;
}

bool AtomicOutput::Flush() {
  if (writeErrno_ != 0) return false;
  if (!WriteAll(fd_, buffer_.data(), buffer_.size())) {
    writeErrno_ = errno;
    return false;
  }
  buffer_.clear();
  return true;
}

bool AtomicOutput::Write(const uint8_t* data, size_t count) {
  if (fd_ < 0 || writeErrno_ != 0) return false;
  if (buffer_.size() + count > OUTPUT_BUFFER && !Flush()) return false;
  if (count >= OUTPUT_BUFFER) {
    if (!WriteAll(fd_, data, count)) {
      writeErrno_ = errno;
      return false;
    }
    return true;
  }
  buffer_.insert(buffer_.end(), data, data + count);
  return true;
}

bool AtomicOutput::Commit(std::string* error, const int64_t* stamp) {
  if (fd_ < 0) return false;
  bool flushed = Flush();
  if (flushed && stamp != nullptr) SetFileSeconds(fd_, *stamp);
  if (!flushed || fsync(fd_) != 0) {
    *error = "cannot write " + Describe(destination_, writeErrno_ != 0 ? writeErrno_ : errno);
    Discard();
    return false;
  }
  if (close(fd_) != 0) {
    fd_ = -1;
    *error = "cannot write " + Describe(destination_, errno);
    Discard();
    return false;
  }
  fd_ = -1;
  if (rename(temporary_.c_str(), destination_.c_str()) != 0) {
    *error = "cannot create " + Describe(destination_, errno);
    Discard();
    return false;
  }
  g_pendingTemporary[0] = 0;
  temporary_.clear();
  // The rename itself must reach the disk, or a crash could leave neither file.
  std::string folder = destination_.substr(0, destination_.find_last_of('/') + 1);
  int dirFd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

void AtomicOutput::Discard() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  g_pendingTemporary[0] = 0;
}

std::string ExecutableFolder() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  std::string text(path, (size_t)n);
  size_t slash = text.find_last_of('/');
  return slash == std::string::npos ? "" : text.substr(0, slash);
}

bool SetFileSeconds(int fd, int64_t seconds) {
  struct timespec times[2];
  times[0].tv_sec = (time_t)seconds;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return futimens(fd, times) == 0;
}

bool EnsureFolder(const std::string& folder, std::string* error) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *error = "'" + folder + "' is not a folder";
    return false;
  }
  if (mkdir(folder.c_str(), 0755) != 0) {
    *error = "cannot create folder " + Describe(folder, errno);
    return false;
  }
  return true;
}

}  // namespace sfxbuilder
