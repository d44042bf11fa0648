// POSIX only: the LZ expansion service (LZOpenFileA, LZCopy, LZClose) over the lz/ decoder.
#include "launcher/platform/posix/services.h"

// Placeholder until the streaming service lands: every open fails.
INT PosixLZOpenFileA(LPSTR, LPOFSTRUCT, WORD) { return LZERROR_BADINHANDLE; }
LONG PosixLZCopy(INT, INT) { return LZERROR_BADINHANDLE; }
void PosixLZClose(INT) {}
