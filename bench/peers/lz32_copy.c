/* Windows program for wine64: Wine's LZ32 LZCopy from one file to another, timed inside the process
 * with QueryPerformanceCounter so Wine's start-up is left out of the figure. */
#include <windows.h>
#include <lzexpand.h>
#include <stdio.h>

int main(int argc, char **argv) {
  OFSTRUCT sourceInfo, destinationInfo;
  LARGE_INTEGER frequency, start, end;
  INT source, destination;
  LONG copied;
  if (argc != 3) {
    fprintf(stderr, "usage: lz32_copy IN OUT\n");
    return 2;
  }
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  source = LZOpenFileA(argv[1], &sourceInfo, OF_READ);
  destination = LZOpenFileA(argv[2], &destinationInfo, OF_CREATE);
  copied = LZCopy(source, destination);
  LZClose(source);
  LZClose(destination);
  QueryPerformanceCounter(&end);
  if (copied < 0) {
    fprintf(stderr, "lz32_copy: LZCopy failed with %ld\n", (long)copied);
    return 1;
  }
  printf("seconds=%.6f out=%ld\n", (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart, (long)copied);
  return 0;
}
