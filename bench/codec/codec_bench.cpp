// Benchmark of the SZDD codec: encode and decode MB/s on a generated corpus, or on files named on the
// command line. Prints figures; judges nothing.
#include <stdio.h>
#include <stdlib.h>

#include <time.h>

#include <memory>
#include <string>
#include <vector>

#include "lz/szdd.h"
#include "tests/unit/lz_corpus.h"

namespace {

using lzcorpus::Bytes;
// Processor time of this process, not wall time: the figures should describe the code, not how
// busy the shared machine happens to be.
double Now() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double SecondsSince(double start) { return Now() - start; }

bool ReadFile(const char* path, Bytes* out) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return false;
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) != 0) out->insert(out->end(), buffer, buffer + got);
  fclose(file);
  return true;
}

struct Figures {
  double encodeSeconds = 0;
  double decodeSeconds = 0;
  double streamSeconds = 0;
  size_t inputBytes = 0;
  size_t streamBytes = 0;
};

// Each timing is the best of a few runs, so one scheduling hiccup does not set the figure.
constexpr int RUNS = 5;

bool Measure(const Bytes& input, Figures* total, Figures* item) {
  Bytes stream;
  double best = 1e30;
  for (int run = 0; run < RUNS; ++run) {
    stream.clear();
    double start = Now();
    if (sfxlz::SzddEncode(input.data(), input.size(), 0, &stream) != sfxlz::LzError::Ok) return false;
    double seconds = SecondsSince(start);
    if (seconds < best) best = seconds;
  }
  item->encodeSeconds = best;

  Bytes output(input.size());
  best = 1e30;
  for (int run = 0; run < RUNS; ++run) {
    size_t outSize = 0;
    double start = Now();
    if (sfxlz::SzddDecode(stream.data(), stream.size(), output.data(), output.size(), &outSize) !=
        sfxlz::LzError::Ok) {
      return false;
    }
    double seconds = SecondsSince(start);
    if (seconds < best) best = seconds;
  }
  if (output != input) return false;
  item->decodeSeconds = best;

  // The LZ service's way: 16 KiB chunks in and out through the fixed ring.
  constexpr size_t CHUNK = 16384;
  std::unique_ptr<uint8_t[]> chunk(new uint8_t[CHUNK]);
  auto decoder = std::make_unique<sfxlz::SzddStreamDecoder>();
  best = 1e30;
  for (int run = 0; run < RUNS; ++run) {
    double start = Now();
    sfxlz::SzddStreamInit(decoder.get(), static_cast<uint32_t>(input.size()));
    size_t offset = sfxlz::SZDD_HEADER_SIZE;
    size_t producedTotal = 0;
    for (;;) {
      size_t take = stream.size() - offset < CHUNK ? stream.size() - offset : CHUNK;
      size_t consumed = 0;
      size_t produced = 0;
      if (sfxlz::SzddStreamDecode(decoder.get(), stream.data() + offset, take, &consumed, chunk.get(), CHUNK,
                                  &produced) != sfxlz::LzError::Ok) {
        return false;
      }
      offset += consumed;
      producedTotal += produced;
      if (take == 0 && produced == 0) break;
    }
    double seconds = SecondsSince(start);
    if (sfxlz::SzddStreamFinish(decoder.get()) != sfxlz::LzError::Ok || producedTotal != input.size()) return false;
    if (seconds < best) best = seconds;
  }
  item->streamSeconds = best;

  item->inputBytes = input.size();
  item->streamBytes = stream.size();
  total->encodeSeconds += item->encodeSeconds;
  total->decodeSeconds += item->decodeSeconds;
  total->streamSeconds += item->streamSeconds;
  total->inputBytes += item->inputBytes;
  total->streamBytes += item->streamBytes;
  return true;
}

void PrintRow(const char* name, const Figures& f) {
  double mb = f.inputBytes / 1e6;
  printf("%-24s %10zu %10zu %6.1f%% %9.1f %9.1f %9.1f\n", name, f.inputBytes, f.streamBytes,
         f.inputBytes ? 100.0 * f.streamBytes / f.inputBytes : 0.0, mb / f.encodeSeconds, mb / f.decodeSeconds,
         mb / f.streamSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<lzcorpus::CorpusItem> corpus;
  if (argc > 1) {
    for (int i = 1; i < argc; ++i) {
      Bytes bytes;
      if (!ReadFile(argv[i], &bytes)) {
        fprintf(stderr, "lz_codec_bench: cannot read %s\n", argv[i]);
        return 2;
      }
      corpus.push_back({argv[i], bytes});
    }
  } else {
    constexpr size_t MB = 1000000;
    corpus.push_back({"text", lzcorpus::MakeText(4 * MB, 1)});
    corpus.push_back({"binary_like", lzcorpus::MakeBinaryLike(4 * MB, 2)});
    corpus.push_back({"random", lzcorpus::MakeRandom(2 * MB, 3)});
    corpus.push_back({"random_alphabet_4", lzcorpus::MakeRandom(2 * MB, 4, 4)});
    corpus.push_back({"period_1000", lzcorpus::MakePeriodic(1000, 2 * MB, 5)});
    corpus.push_back({"one_byte", Bytes(2 * MB, 'x')});
  }
  printf("%-24s %10s %10s %7s %9s %9s %9s\n", "input", "bytes", "szdd", "ratio", "enc MB/s", "dec MB/s",
         "strm MB/s");
  Figures total;
  for (const auto& item : corpus) {
    Figures figures;
    if (!Measure(item.bytes, &total, &figures)) {
      fprintf(stderr, "lz_codec_bench: round trip failed for %s\n", item.name.c_str());
      return 1;
    }
    PrintRow(item.name.c_str(), figures);
  }
  PrintRow("all", total);
  return 0;
}
