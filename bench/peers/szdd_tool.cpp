// Our side of the codec figures: encode, whole-buffer decode, and the LZ service's file-to-file copy,
// each timed inside the process. Prints figures; judges nothing and links nothing of the tests.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "launcher/platform/posix/services.h"
#include "lz/szdd.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// On a shared machine wall time counts the other users' turns too; CPU time is the code's own cost.
double CpuNow() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool ReadWhole(const char* path, std::vector<uint8_t>* out) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return false;
  uint8_t buffer[1 << 16];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) != 0) out->insert(out->end(), buffer, buffer + got);
  bool ok = ferror(file) == 0;
  fclose(file);
  return ok;
}

bool WriteWhole(const char* path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path, "wb");
  if (file == nullptr) return false;
  bool ok = fwrite(data, 1, size, file) == size;
  return fclose(file) == 0 && ok;
}

int Encode(const char* in, const char* out, bool secondThread) {
  std::vector<uint8_t> input;
  if (!ReadWhole(in, &input)) return 2;
  std::vector<uint8_t> stream;
  stream.reserve(input.size() / 2 + 64);
  double cpuStart = CpuNow();
  auto start = Clock::now();
  if (sfxlz::SzddEncode(input.data(), input.size(), 0, &stream, secondThread) != sfxlz::LzError::Ok) return 1;
  double seconds = SecondsSince(start);
  double cpu = CpuNow() - cpuStart;
  if (!WriteWhole(out, stream.data(), stream.size())) return 2;
  printf("seconds=%.6f cpu=%.6f in=%zu out=%zu\n", seconds, cpu, input.size(), stream.size());
  return 0;
}

int Decode(const char* in, const char* out) {
  std::vector<uint8_t> stream;
  if (!ReadWhole(in, &stream)) return 2;
  sfxlz::SzddHeader header;
  if (sfxlz::ParseSzddHeader(stream.data(), stream.size(), &header) != sfxlz::LzError::Ok) return 1;
  std::vector<uint8_t> output(header.expandedLength);
  // Touch every output page first, so the figure is the decoder's and not the kernel's page faults.
  memset(output.data(), 0, output.size());
  size_t produced = 0;
  double cpuStart = CpuNow();
  auto start = Clock::now();
  sfxlz::LzError error = sfxlz::SzddDecode(stream.data(), stream.size(), output.data(), output.size(), &produced);
  double seconds = SecondsSince(start);
  double cpu = CpuNow() - cpuStart;
  if (error != sfxlz::LzError::Ok) return 1;
  if (!WriteWhole(out, output.data(), produced)) return 2;
  printf("seconds=%.6f cpu=%.6f in=%zu out=%zu\n", seconds, cpu, stream.size(), produced);
  return 0;
}

int LzCopy(const char* in, const char* out) {
  char source[4096];
  char destination[4096];
  snprintf(source, sizeof source, "%s", in);
  snprintf(destination, sizeof destination, "%s", out);
  OFSTRUCT sourceInfo;
  OFSTRUCT destinationInfo;
  double cpuStart = CpuNow();
  auto start = Clock::now();
  INT from = PosixLZOpenFileA(source, &sourceInfo, OF_READ);
  INT to = PosixLZOpenFileA(destination, &destinationInfo, OF_CREATE);
  LONG copied = PosixLZCopy(from, to);
  PosixLZClose(from);
  PosixLZClose(to);
  double seconds = SecondsSince(start);
  double cpu = CpuNow() - cpuStart;
  if (copied < 0) return 1;
  printf("seconds=%.6f cpu=%.6f out=%ld\n", seconds, cpu, static_cast<long>(copied));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "encode") == 0) return Encode(argv[2], argv[3], true);
  if (argc == 4 && strcmp(argv[1], "encode-one-thread") == 0) return Encode(argv[2], argv[3], false);
  if (argc == 4 && strcmp(argv[1], "decode") == 0) return Decode(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "lzcopy") == 0) return LzCopy(argv[2], argv[3]);
  fprintf(stderr, "usage: bench_szdd encode|encode-one-thread|decode|lzcopy IN OUT\n");
  return 2;
}
