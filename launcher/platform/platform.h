// The one header through which core code reaches the OS: the SDK on Windows, our own declarations on POSIX.
#pragma once

#ifdef _WIN32
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#  include <shellapi.h>
#  include <lzexpand.h>
#  define PATH_SEPARATOR '\\'
#else
#  include "posix/win32_types.h"
#  define PATH_SEPARATOR '/'
#endif
