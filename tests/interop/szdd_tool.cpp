// Test helper: writes the codec's test corpus to files and encodes or decodes one file with our codec,
// so shell-driven interop tests (Wine's LZ32) can use the same inputs as the in-process ones.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "lz/szdd.h"
#include "tests/unit/lz_corpus.h"

namespace {

using lzcorpus::Bytes;

bool ReadAll(const char* path, Bytes* out) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return false;
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) != 0) out->insert(out->end(), buffer, buffer + got);
  bool ok = !ferror(file);
  fclose(file);
  return ok;
}

bool WriteAll(const std::string& path, const Bytes& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

int Usage() {
  fprintf(stderr, "usage: szdd_tool corpus DIR | encode IN OUT | decode IN OUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "corpus") == 0) {
    for (const auto& item : lzcorpus::MakeRoundTripCorpus()) {
      if (!WriteAll(std::string(argv[2]) + "/" + item.name + ".bin", item.bytes)) return 1;
    }
    return 0;
  }
  if (argc != 4) return Usage();
  Bytes input;
  if (!ReadAll(argv[2], &input)) {
    fprintf(stderr, "szdd_tool: cannot read %s\n", argv[2]);
    return 1;
  }
  Bytes output;
  if (strcmp(argv[1], "encode") == 0) {
    sfxlz::LzError error = sfxlz::SzddEncode(input.data(), input.size(), 0, &output);
    if (error != sfxlz::LzError::Ok) {
      fprintf(stderr, "szdd_tool: %s\n", sfxlz::LzErrorText(error));
      return 1;
    }
  } else if (strcmp(argv[1], "decode") == 0) {
    sfxlz::SzddHeader header{};
    sfxlz::LzError error = sfxlz::ParseSzddHeader(input.data(), input.size(), &header);
    size_t size = 0;
    if (error == sfxlz::LzError::Ok) {
      output.resize(header.expandedLength);
      error = sfxlz::SzddDecode(input.data(), input.size(), output.data(), output.size(), &size);
    }
    if (error != sfxlz::LzError::Ok) {
      fprintf(stderr, "szdd_tool: %s\n", sfxlz::LzErrorText(error));
      return 1;
    }
  } else {
    return Usage();
  }
  if (!WriteAll(argv[3], output)) {
    fprintf(stderr, "szdd_tool: cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}
