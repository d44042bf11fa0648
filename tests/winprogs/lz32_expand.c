/* Windows test program: expands files through LZ32 the way the launcher does (LZOpenFileA, LZCopy,
   LZClose), many in one run because starting Wine costs seconds, and prints each LZCopy result on a
   line of its own, in the order given. Usage: lz32_expand SOURCE DESTINATION [SOURCE DESTINATION]... */
#include <windows.h>
#include <lzexpand.h>
#include <stdio.h>

static LONG Expand(const char* sourcePath, const char* destinationPath) {
  OFSTRUCT sourceOfs;
  OFSTRUCT destinationOfs;
  INT source = LZOpenFileA((LPSTR)sourcePath, &sourceOfs, OF_READ);
  INT destination = LZOpenFileA((LPSTR)destinationPath, &destinationOfs, OF_CREATE);
  LONG result = LZCopy(source, destination);
  LZClose(source);
  LZClose(destination);
  return result;
}

int main(int argc, char** argv) {
  int failed = 0;
  int i;
  if (argc < 3 || argc % 2 != 1) {
    fprintf(stderr, "usage: lz32_expand SOURCE DESTINATION [SOURCE DESTINATION]...\n");
    return 2;
  }
  for (i = 1; i + 1 < argc; i += 2) {
    LONG result = Expand(argv[i], argv[i + 1]);
    printf("%ld\n", (long)result);
    if (result < 0) failed = 1;
  }
  return failed;
}
