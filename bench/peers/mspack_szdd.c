/* The libmspack side of the decode figures: its SZDD decompressor, memory to memory or file to file,
 * timed inside the process. Only libmspack's public API; no code of ours is linked. */
#include <mspack.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* A file in memory: libmspack opens files by name, so the name handed to it is the address of one
 * of these, and this I/O layer reads and writes the buffers instead of the disk. */
struct MemFile {
  unsigned char *data;
  size_t size;     /* bytes in data (input) or written so far (output) */
  size_t capacity;
  size_t pos;
};

static struct mspack_file *MemOpen(struct mspack_system *self, const char *name, int mode) {
  struct MemFile *file = (struct MemFile *)(void *)name;
  (void)self;
  file->pos = 0;
  if (mode == MSPACK_SYS_OPEN_WRITE) file->size = 0;
  return (struct mspack_file *)file;
}

static void MemClose(struct mspack_file *file) { (void)file; }

static int MemRead(struct mspack_file *handle, void *buffer, int bytes) {
  struct MemFile *file = (struct MemFile *)handle;
  size_t left = file->size - file->pos;
  size_t take = (size_t)bytes < left ? (size_t)bytes : left;
  memcpy(buffer, file->data + file->pos, take);
  file->pos += take;
  return (int)take;
}

static int MemWrite(struct mspack_file *handle, void *buffer, int bytes) {
  struct MemFile *file = (struct MemFile *)handle;
  if (file->pos + (size_t)bytes > file->capacity) return -1;
  /* libmspack's LZSS writes one byte per call; a plain store keeps our I/O layer out of its figure. */
  if (bytes == 1)
    file->data[file->pos] = *(const unsigned char *)buffer;
  else
    memcpy(file->data + file->pos, buffer, (size_t)bytes);
  file->pos += (size_t)bytes;
  if (file->pos > file->size) file->size = file->pos;
  return bytes;
}

static int MemSeek(struct mspack_file *handle, off_t offset, int mode) {
  struct MemFile *file = (struct MemFile *)handle;
  off_t base = mode == MSPACK_SYS_SEEK_START ? 0 : mode == MSPACK_SYS_SEEK_CUR ? (off_t)file->pos : (off_t)file->size;
  off_t target = base + offset;
  if (target < 0 || (size_t)target > file->size) return -1;
  file->pos = (size_t)target;
  return 0;
}

static off_t MemTell(struct mspack_file *handle) { return (off_t)((struct MemFile *)handle)->pos; }

static void MemMessage(struct mspack_file *file, const char *format, ...) {
  va_list args;
  (void)file;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

static void *MemAlloc(struct mspack_system *self, size_t bytes) { (void)self; return malloc(bytes); }
static void MemFree(void *p) { free(p); }
static void MemCopy(void *src, void *dest, size_t bytes) { memcpy(dest, src, bytes); }

static struct mspack_system memSystem = {MemOpen, MemClose, MemRead,  MemWrite, MemSeek,
                                         MemTell, MemMessage, MemAlloc, MemFree, MemCopy, NULL};

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* CPU time as well as wall time: on a shared machine the wall clock also counts other users' turns. */
static double CpuNow(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int ReadWhole(const char *path, struct MemFile *out) {
  FILE *file = fopen(path, "rb");
  long size;
  if (file == NULL) return 0;
  fseek(file, 0, SEEK_END);
  size = ftell(file);
  fseek(file, 0, SEEK_SET);
  out->data = malloc((size_t)size + 1);
  out->size = out->capacity = (size_t)size;
  out->pos = 0;
  if (out->data == NULL || fread(out->data, 1, (size_t)size, file) != (size_t)size) {
    fclose(file);
    return 0;
  }
  fclose(file);
  return 1;
}

static int Memory(const char *in, const char *out) {
  struct MemFile input, output;
  struct msszdd_decompressor *szdd;
  size_t expanded;
  double start, seconds, cpuStart, cpu;
  int error;
  FILE *file;
  if (!ReadWhole(in, &input) || input.size < 14) return 2;
  expanded = (size_t)input.data[10] | (size_t)input.data[11] << 8 | (size_t)input.data[12] << 16 |
             (size_t)input.data[13] << 24;
  output.capacity = expanded;
  output.size = output.pos = 0;
  output.data = malloc(expanded + 1);
  if (output.data == NULL) return 2;
  memset(output.data, 0, expanded); /* page faults before the clock starts, as on our side */
  szdd = mspack_create_szdd_decompressor(&memSystem);
  if (szdd == NULL) return 2;
  cpuStart = CpuNow();
  start = Now();
  error = szdd->decompress(szdd, (const char *)(void *)&input, (const char *)(void *)&output);
  seconds = Now() - start;
  cpu = CpuNow() - cpuStart;
  mspack_destroy_szdd_decompressor(szdd);
  if (error != MSPACK_ERR_OK) return 1;
  file = fopen(out, "wb");
  if (file == NULL || fwrite(output.data, 1, output.size, file) != output.size || fclose(file) != 0) return 2;
  printf("seconds=%.6f cpu=%.6f out=%zu\n", seconds, cpu, output.size);
  return 0;
}

static int Files(const char *in, const char *out) {
  struct msszdd_decompressor *szdd = mspack_create_szdd_decompressor(NULL);
  double start, seconds, cpuStart, cpu;
  int error;
  if (szdd == NULL) return 2;
  cpuStart = CpuNow();
  start = Now();
  error = szdd->decompress(szdd, in, out);
  seconds = Now() - start;
  cpu = CpuNow() - cpuStart;
  mspack_destroy_szdd_decompressor(szdd);
  if (error != MSPACK_ERR_OK) return 1;
  printf("seconds=%.6f cpu=%.6f\n", seconds, cpu);
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 4 && strcmp(argv[1], "memory") == 0) return Memory(argv[2], argv[3]);
  if (argc == 4 && strcmp(argv[1], "files") == 0) return Files(argv[2], argv[3]);
  fprintf(stderr, "usage: bench_mspack memory|files IN OUT\n");
  return 2;
}
