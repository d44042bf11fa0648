// ExpandMember: hands a compressed member to the platform's LZ service; core code, OS via platform.h.
#include "launcher/launcher.h"
#include "launcher/text.h"

LONG ExpandMember(const char* sourcePath, const char* destinationPath) {
  char source[PATH_BUFFER_SIZE];
  char destination[PATH_BUFFER_SIZE];
  if (!TextCopy(source, sizeof source, sourcePath) || !TextCopy(destination, sizeof destination, destinationPath)) {
    return LZERROR_BADVALUE;
  }
  OFSTRUCT sourceInfo;
  OFSTRUCT destinationInfo;
  // Neither open is checked: a failed one shows as a negative result of the copy.
  INT sourceHandle = LZOpenFileA(source, &sourceInfo, OF_READ);
  INT destinationHandle = LZOpenFileA(destination, &destinationInfo, OF_CREATE);
  LONG result = LZCopy(sourceHandle, destinationHandle);
  LZClose(sourceHandle);
  LZClose(destinationHandle);
  return result;
}
