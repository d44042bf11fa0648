// sfxrun-pack: the command line over the container writer and reader; argument parsing, messages
// and file handling live here, never in the library.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "builder/cli/posix_files.h"
#include "builder/codepage.h"
#include "builder/container_reader.h"
#include "builder/container_writer.h"

#ifndef SFXRUN_VERSION
#define SFXRUN_VERSION "0.0.0"
#endif
#ifndef SFXRUN_WIN32_BIN
#define SFXRUN_WIN32_BIN ""
#endif
#ifndef SFXRUN_WIN64_BIN
#define SFXRUN_WIN64_BIN ""
#endif

namespace sfxbuilder {
namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr double PROGRESS_DELAY_SECONDS = 0.5;
// A member this large takes longer than a moment to compress on its own, so it is shown at once.
constexpr uint64_t PROGRESS_LARGE_MEMBER = 8u << 20;

const char* const USAGE =
    "usage: sfxrun-pack [options] -o OUT FILE... PROGRAM\n"
    "       sfxrun-pack list [--codepage N] CONTAINER\n"
    "       sfxrun-pack extract [--codepage N] CONTAINER DIR\n"
    "       sfxrun-pack verify [--codepage N] CONTAINER\n";

const char* const HELP =
    "Packs files and a program into a self-extracting launcher. The launcher copies the files\n"
    "into a fresh folder, starts PROGRAM (the last name given) there, and removes them after it\n"
    "ends. Each member is stored under its own file name.\n"
    "\n"
    "Options for packing:\n"
    "  -o, --output OUT   the container to write (written whole or not at all)\n"
    "  --stub PATH        the launcher image to start from\n"
    "  --windows          use the 32-bit Windows stub sfxrun-stub.exe\n"
    "  --windows64        use the 64-bit Windows stub sfxrun-stub64.exe\n"
    "                     (default: the POSIX stub sfxrun-stub; stubs are looked for beside\n"
    "                     sfxrun-pack, then in ../lib/sfxrun/ from there)\n"
    "  --store            store every member as it is, without compressing\n"
    "  --codepage N       Windows stubs: write names in code page N (932, 1252, ...);\n"
    "                     list, extract, verify: read names in code page N\n"
    "  -q, --quiet        no progress and no summary\n"
    "  -h, --help         this text\n"
    "  -V, --version      the version\n"
    "\n"
    "Time stamps come from the files, or from SOURCE_DATE_EPOCH when it is set.\n"
    "A file named like a command (list, extract, verify) is given as ./list.\n"
    "\n"
    "Exit status: 0 success; 1 failure (a refused input, an unreadable or damaged file, a\n"
    "container the launcher will not run); 2 wrong usage.\n";

struct UsageError {
  std::string text;
};

std::string Count(uint64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

int Usage(const std::string& text) {
  fprintf(stderr, "sfxrun-pack: %s\n%s", text.c_str(), USAGE);
  return EXIT_USAGE;
}

int Fail(const std::string& text) {
  fprintf(stderr, "sfxrun-pack: %s\n", text.c_str());
  return EXIT_FAILED;
}

bool ParseCodePage(const char* text, const CodePage** page, std::string* error) {
  char* end = nullptr;
  long number = strtol(text, &end, 10);
  if (end == text || *end != 0 || (*page = FindCodePage((int)number)) == nullptr || number > 99999) {
    *error = std::string("unknown code page '") + text + "'; known: " + KnownCodePageList();
    return false;
  }
  return true;
}

std::string BaseName(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  size_t slash = path.find_last_of('/', end - 1);
  return path.substr(slash == std::string::npos ? 0 : slash + 1, end - (slash == std::string::npos ? 0 : slash + 1));
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Beside this program first (a build tree), then the installed layout <prefix>/lib/sfxrun/, then,
// for the Windows stubs, the cross builds' folders known when this program was built.
bool FindStub(const std::string& name, const char* buildFolder, std::string* path, std::string* error) {
  std::vector<std::string> places;
  std::string own = ExecutableFolder();
  if (!own.empty()) {
    places.push_back(own + "/" + name);
    places.push_back(own + "/../lib/sfxrun/" + name);
  }
  if (buildFolder != nullptr && buildFolder[0] != 0) places.push_back(std::string(buildFolder) + "/" + name);
  for (const std::string& place : places) {
    if (FileExists(place)) {
      *path = place;
      return true;
    }
  }
  *error = "cannot find the stub " + name + "; looked at";
  for (const std::string& place : places) *error += " " + place;
  *error += "; give --stub PATH";
  return false;
}

bool SourceDateEpoch(bool* set, int64_t* seconds, std::string* error) {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  *set = text != nullptr && text[0] != 0;
  if (!*set) return true;
  char* end = nullptr;
  errno = 0;
  long long value = strtoll(text, &end, 10);
  if (*end != 0 || errno != 0 || (text[0] < '0' || text[0] > '9')) {
    *error = std::string("SOURCE_DATE_EPOCH='") + text + "' is not a count of seconds";
    return false;
  }
  *seconds = value;
  return true;
}

class Progress {
 public:
  explicit Progress(bool wanted) : enabled_(wanted && isatty(2)) { clock_gettime(CLOCK_MONOTONIC, &start_); }
  void Show(size_t done, size_t total, const std::string& name, uint64_t size) {
    if (!enabled_) return;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    double elapsed = (double)(now.tv_sec - start_.tv_sec) + (double)(now.tv_nsec - start_.tv_nsec) / 1e9;
    if (elapsed < PROGRESS_DELAY_SECONDS && size < PROGRESS_LARGE_MEMBER) return;
    fprintf(stderr, "\r\033[Ksfxrun-pack: packing %zu/%zu %s", done, total, name.c_str());
    fflush(stderr);
    shown_ = true;
  }
  void Clear() {
    if (shown_) fprintf(stderr, "\r\033[K");
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
  struct timespec start_;
};

struct PackArguments {
  std::string output;
  std::string stub;
  int windows = 0;  // 0: POSIX stub, 32 or 64
  bool store = false;
  bool quiet = false;
  const CodePage* codePage = nullptr;
  std::vector<std::string> files;
};

int Pack(const PackArguments& args) {
  std::string error;
  std::string stubPath = args.stub;
  if (stubPath.empty()) {
    const char* name = args.windows == 32 ? "sfxrun-stub.exe" : args.windows == 64 ? "sfxrun-stub64.exe" : "sfxrun-stub";
    const char* folder = args.windows == 32 ? SFXRUN_WIN32_BIN : args.windows == 64 ? SFXRUN_WIN64_BIN : "";
    if (!FindStub(name, folder, &stubPath, &error)) return Fail(error);
  }
  bool epochSet = false;
  int64_t epoch = 0;
  if (!SourceDateEpoch(&epochSet, &epoch, &error)) return Fail(error);

  FileFacts stubFacts;
  std::vector<uint8_t> stubBytes;
  if (!StatInput(stubPath, &stubFacts, &error) || !ReadWholeFile(stubPath, &stubBytes, &error)) return Fail(error);
  PackOptions options;
  options.store = args.store;
  options.codePage = args.codePage;
  options.windowsTarget = args.windows != 0 || LooksLikeWindowsImage(stubBytes.data(), stubBytes.size());
  if (args.codePage != nullptr && !options.windowsTarget) {
    return Usage("--codepage applies to Windows stubs only; the POSIX stub reads names as UTF-8");
  }

  StubInput stub;
  stub.name = BaseName(stubPath);
  stub.bytes = stubBytes.data();
  stub.size = stubBytes.size();
  stub.modifiedSeconds = epochSet ? epoch : stubFacts.modifiedSeconds;
  std::vector<MemberInput> members;
  for (const std::string& path : args.files) {
    FileFacts facts;
    if (!StatInput(path, &facts, &error)) return Fail(error);
    MemberInput member;
    member.name = BaseName(path);
    member.size = facts.size;
    member.modifiedSeconds = epochSet ? epoch : facts.modifiedSeconds;
    members.push_back(member);
  }
  ContainerPlan plan;
  if (!PlanContainer(stub, members, options, &plan, &error)) return Fail(error);

  AtomicOutput output;
  mode_t mode = (stubFacts.mode & 0111) != 0 ? 0755 : 0644;
  if (!output.Open(args.output, mode, &error)) return Fail(error);
  ContainerWriter writer(plan, &output);
  Progress progress(!args.quiet);
  if (!writer.Begin(&error)) return Fail(error);
  for (size_t i = 0; i < args.files.size(); ++i) {
    progress.Show(i + 1, args.files.size(), members[i].name, members[i].size);
    std::vector<uint8_t> data;
    if (!ReadWholeFile(args.files[i], &data, &error) || !writer.WriteMember(i + 1, data.data(), data.size(), &error)) {
      progress.Clear();
      output.Discard();
      return Fail(error);
    }
  }
  progress.Clear();
  if (!writer.Finish(&error) || !output.Commit(&error)) {
    output.Discard();
    return Fail(error);
  }
  if (!args.quiet) {
    const PackTotals& t = writer.totals();
    char ratio[32] = "-";
    if (t.bytesIn > 0) snprintf(ratio, sizeof ratio, "%.1f%%", 100.0 * (double)t.bytesOut / (double)t.bytesIn);
    printf("%s: %s (%d compressed), %llu bytes in, %llu bytes out, ratio %s, container %llu bytes\n",
           args.output.c_str(), Count(args.files.size(), "member").c_str(), t.compressedMembers,
           (unsigned long long)t.bytesIn, (unsigned long long)t.bytesOut, ratio, (unsigned long long)t.containerSize);
  }
  return EXIT_OK;
}

bool DecodeWithCodePage(const std::string& bytes, std::string* utf8, const void* context) {
  return ConvertToUtf8(*static_cast<const CodePage*>(context), bytes, utf8);
}

// A name for the terminal: decoded from the code page when one is given; control characters and
// bytes that are not UTF-8 shown as \xNN, so a hostile name cannot drive the terminal.
std::string Printable(const std::string& bytes, const CodePage* codePage) {
  std::string text = bytes;
  if (codePage != nullptr) {
    std::string utf8;
    if (ConvertToUtf8(*codePage, bytes, &utf8)) text = utf8;
  }
  std::string out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = (unsigned char)text[i];
    size_t length = c < 0x80 ? 1 : (c >= 0xC2 && c <= 0xDF) ? 2 : (c >= 0xE0 && c <= 0xEF) ? 3
                                 : (c >= 0xF0 && c <= 0xF4) ? 4 : 0;
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) valid = ((unsigned char)text[i + k] & 0xC0) == 0x80;
    if (!valid || c < 0x20 || c == 0x7F || c == '\\') {
      char escaped[8];
      snprintf(escaped, sizeof escaped, c == '\\' ? "\\\\" : "\\x%02X", c);
      out += escaped;
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

// Columns a terminal gives the text: East Asian wide characters take two.
size_t DisplayWidth(const std::string& utf8) {
  size_t width = 0;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = (unsigned char)utf8[i];
    size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    uint32_t code = length == 1 ? c : (uint32_t)(c & (0x7F >> length));
    for (size_t k = 1; k < length && i + k < utf8.size(); ++k) code = (code << 6) | ((unsigned char)utf8[i + k] & 0x3F);
    bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
                (code >= 0xFFE0 && code <= 0xFFE6) || code >= 0x20000;
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}

std::string Padded(const std::string& text, size_t width, bool right) {
  size_t have = DisplayWidth(text);
  std::string pad(have < width ? width - have : 0, ' ');
  return right ? pad + text : text + pad;
}

std::string IsoTime(int32_t seconds) {
  time_t t = seconds;
  struct tm parts;
  char text[32];
  if (gmtime_r(&t, &parts) == nullptr || strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0) return "?";
  return text;
}

struct OpenedContainer {
  FileSource source;
  LocatedContainer located;
  std::vector<DirectoryEntry> entries;
  ReadOptions options;
};

bool OpenContainer(const std::string& path, const CodePage* codePage, OpenedContainer* c, std::string* error) {
  if (!c->source.Open(path, error)) return false;
  SearchFault fault = LocateTrailer(&c->source, &c->located);
  if (fault != SearchFault::None) {
    *error = "'" + path + "': " + SearchFaultText(fault);
    return false;
  }
  if (!LoadDirectory(&c->source, c->located, &c->entries)) {
    *error = "'" + path + "': the directory cannot be read";
    return false;
  }
  uint8_t head[2] = {0, 0};
  c->source.ReadAt(0, head, c->source.Size() >= 2 ? 2 : 0);
  c->options.windowsTarget = LooksLikeWindowsImage(head, c->source.Size() >= 2 ? 2 : 0);
  if (codePage != nullptr) {
    c->options.isLeadByte = codePage->isLeadByte;
    c->options.decodeName = DecodeWithCodePage;
    c->options.decodeContext = codePage;
  }
  return true;
}

std::string ProblemLine(const std::string& path, const Problem& problem) {
  std::string where = problem.entry >= 0 ? " entry " + std::to_string(problem.entry) : "";
  return "'" + path + "'" + where + ": " + problem.text;
}

int List(const std::string& path, const CodePage* codePage) {
  OpenedContainer c;
  std::string error;
  if (!OpenContainer(path, codePage, &c, &error)) return Fail(error);
  std::vector<std::vector<std::string>> rows = {
      {"#", "stored name", "expanded name", "stored size", "expanded size", "modified (UTC)", "kind"}};
  for (size_t i = 0; i < c.entries.size(); ++i) {
    const DirectoryEntry& e = c.entries[i];
    int64_t expanded = i == 0 ? EntryDataLength(e) : EntryExpandedSize(&c.source, e);
    const char* kind = i == 0 ? "stub" : IsCompressedEntry(e) ? "compressed" : "stored";
    rows.push_back({std::to_string(i), Printable(EntryStoredName(e), codePage),
                    Printable(EntryExpandedName(e), codePage), std::to_string(EntryDataLength(e)),
                    expanded < 0 ? "?" : std::to_string(expanded), IsoTime(EntryModifiedSeconds(e)), kind});
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t k = 0; k < row.size(); ++k) widths[k] = std::max(widths[k], DisplayWidth(row[k]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t k = 0; k < row.size(); ++k) {
      bool right = k == 0 || k == 3 || k == 4;
      if (k > 0) line += "  ";
      line += k + 1 == row.size() ? row[k] : Padded(row[k], widths[k], right);
    }
    printf("%s\n", line.c_str());
  }
  return EXIT_OK;
}

int Verify(const std::string& path, const CodePage* codePage) {
  OpenedContainer c;
  std::string error;
  if (!c.source.Open(path, &error)) return Fail(error);
  uint8_t head[2] = {0, 0};
  bool haveHead = c.source.Size() >= 2 && c.source.ReadAt(0, head, 2);
  c.options.windowsTarget = haveHead && LooksLikeWindowsImage(head, 2);
  if (codePage != nullptr) {
    c.options.isLeadByte = codePage->isLeadByte;
    c.options.decodeName = DecodeWithCodePage;
    c.options.decodeContext = codePage;
  }
  std::vector<Problem> problems;
  if (VerifyContainer(&c.source, c.options, &problems)) {
    LocatedContainer located;
    LocateTrailer(&c.source, &located);
    printf("%s: the launcher will run it: %s, program last\n", path.c_str(),
           Count((uint64_t)located.entryCount - 1, "member").c_str());
    return EXIT_OK;
  }
  for (const Problem& problem : problems) fprintf(stderr, "sfxrun-pack: %s\n", ProblemLine(path, problem).c_str());
  if (codePage == nullptr && c.options.windowsTarget) {
    fprintf(stderr, "sfxrun-pack: (names in a double-byte code page need --codepage N to be read right)\n");
  }
  return EXIT_FAILED;
}

int Extract(const std::string& path, const std::string& folder, const CodePage* codePage) {
  OpenedContainer c;
  std::string error;
  if (!OpenContainer(path, codePage, &c, &error)) return Fail(error);
  std::vector<Problem> problems;
  CheckDirectory(c.entries, c.located.directoryPosition, c.options, &problems);
  bool failed = false;
  for (const Problem& problem : problems) {
    fprintf(stderr, "sfxrun-pack: %s\n", ProblemLine(path, problem).c_str());
    failed = true;
  }
  if (!EnsureFolder(folder, &error)) return Fail(error);
  for (size_t i = 1; i < c.entries.size(); ++i) {
    const DirectoryEntry& e = c.entries[i];
    if (!IsPlainMemberName(e.storedName, c.options.isLeadByte) ||
        !IsPlainMemberName(e.expandedName, c.options.isLeadByte)) {
      continue;  // already named above; never written, so nothing lands outside the folder
    }
    std::string name = EntryExpandedName(e);
    std::string decoded;
    if (codePage != nullptr && !ConvertToUtf8(*codePage, EntryExpandedName(e), &decoded)) {
      fprintf(stderr, "sfxrun-pack: '%s' entry %zu: its name does not decode in code page %d\n", path.c_str(), i,
              codePage->number);
      failed = true;
      continue;
    }
    if (codePage != nullptr) name = decoded;
    if (name.find('/') != std::string::npos || name == "." || name == "..") {
      fprintf(stderr, "sfxrun-pack: '%s' entry %zu: its name is not a file name here\n", path.c_str(), i);
      failed = true;
      continue;
    }
    AtomicOutput output;
    if (!output.Open(folder + "/" + name, 0644, &error)) {
      fprintf(stderr, "sfxrun-pack: %s\n", error.c_str());
      failed = true;
      continue;
    }
    int64_t stamp = EntryModifiedSeconds(e);
    if (!ExpandEntry(&c.source, e, &output, &error)) {
      output.Discard();
      fprintf(stderr, "sfxrun-pack: '%s' entry %zu: %s\n", path.c_str(), i, error.c_str());
      failed = true;
      continue;
    }
    if (!output.Commit(&error, &stamp)) {
      fprintf(stderr, "sfxrun-pack: %s\n", error.c_str());
      failed = true;
    }
  }
  return failed ? EXIT_FAILED : EXIT_OK;
}

// list, extract, verify: [--codepage N] then their operands.
int InspectCommand(const std::string& command, int argc, char** argv) {
  const CodePage* codePage = nullptr;
  std::vector<std::string> operands;
  bool optionsDone = false;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && (arg == "--codepage" || arg.rfind("--codepage=", 0) == 0)) {
      std::string value = arg == "--codepage" ? (i + 1 < argc ? argv[++i] : "") : arg.substr(11);
      std::string error;
      if (value.empty()) return Usage("--codepage needs a number");
      if (!ParseCodePage(value.c_str(), &codePage, &error)) return Usage(error);
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "' for " + command);
    } else {
      operands.push_back(arg);
    }
  }
  size_t wanted = command == "extract" ? 2 : 1;
  if (operands.size() != wanted) {
    return Usage(command + " takes " + (wanted == 2 ? "a container and a folder" : "one container"));
  }
  if (command == "list") return List(operands[0], codePage);
  if (command == "verify") return Verify(operands[0], codePage);
  return Extract(operands[0], operands[1], codePage);
}

int PackCommand(int argc, char** argv) {
  PackArguments args;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const std::string& option, std::string* out) -> bool {
      if (arg.size() > option.size() && arg.compare(0, option.size() + 1, option + "=") == 0) {
        *out = arg.substr(option.size() + 1);
        return true;
      }
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    bool matched = !optionsDone && arg.size() > 1 && arg[0] == '-';
    std::string text;
    if (!matched) {
      args.files.push_back(arg);
    } else if (arg == "--") {
      optionsDone = true;
    } else if (arg == "-h" || arg == "--help") {
      printf("%s\n%s", USAGE, HELP);
      return EXIT_OK;
    } else if (arg == "-V" || arg == "--version") {
      printf("sfxrun-pack %s\n", SFXRUN_VERSION);
      return EXIT_OK;
    } else if (arg == "-o" || arg == "--output" || arg.rfind("--output=", 0) == 0) {
      if (!value(arg == "-o" ? "-o" : "--output", &text) || text.empty()) return Usage("-o needs a file name");
      args.output = text;
    } else if (arg == "--stub" || arg.rfind("--stub=", 0) == 0) {
      if (!value("--stub", &text) || text.empty()) return Usage("--stub needs a path");
      args.stub = text;
    } else if (arg == "--codepage" || arg.rfind("--codepage=", 0) == 0) {
      std::string error;
      if (!value("--codepage", &text) || text.empty()) return Usage("--codepage needs a number");
      if (!ParseCodePage(text.c_str(), &args.codePage, &error)) return Usage(error);
    } else if (arg == "--windows" || arg == "--windows64") {
      int wanted = arg == "--windows" ? 32 : 64;
      if (args.windows != 0 && args.windows != wanted) return Usage("--windows and --windows64 exclude each other");
      args.windows = wanted;
    } else if (arg == "--store") {
      args.store = true;
    } else if (arg == "-q" || arg == "--quiet") {
      args.quiet = true;
    } else {
      return Usage("unknown option '" + arg + "'");
    }
  }
  if (args.windows != 0 && !args.stub.empty()) return Usage("--stub excludes --windows and --windows64");
  if (args.output.empty()) return Usage("no output given (-o OUT)");
  if (args.files.empty()) return Usage("no PROGRAM given");
  if (args.codePage != nullptr && args.windows == 0 && args.stub.empty()) {
    return Usage("--codepage applies to Windows stubs only; the POSIX stub reads names as UTF-8");
  }
  return Pack(args);
}

}  // namespace
}  // namespace sfxbuilder

int main(int argc, char** argv) {
  using namespace sfxbuilder;
  if (argc >= 2) {
    std::string first = argv[1];
    if (first == "list" || first == "extract" || first == "verify") return InspectCommand(first, argc, argv);
  }
  if (argc < 2) return Usage("nothing to do");
  return PackCommand(argc, argv);
}
