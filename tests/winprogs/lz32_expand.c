/* Windows test program: expands one file through LZ32 the way the launcher does (LZOpenFileA,
   LZCopy, LZClose) and prints LZCopy's result. Usage: lz32_expand SOURCE DESTINATION */
#include <windows.h>
#include <lzexpand.h>
#include <stdio.h>

int main(int argc, char** argv) {
  OFSTRUCT sourceOfs;
  OFSTRUCT destinationOfs;
  INT source;
  INT destination;
  LONG result;
  if (argc != 3) {
    fprintf(stderr, "usage: lz32_expand SOURCE DESTINATION\n");
    return 2;
  }
  source = LZOpenFileA(argv[1], &sourceOfs, OF_READ);
  destination = LZOpenFileA(argv[2], &destinationOfs, OF_CREATE);
  result = LZCopy(source, destination);
  LZClose(source);
  LZClose(destination);
  printf("%ld\n", (long)result);
  return result < 0 ? 1 : 0;
}
