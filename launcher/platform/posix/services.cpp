// POSIX only: the platform services the core calls by their Win32 names, over POSIX calls and a fault table.
#include "launcher/platform/posix/services.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

DWORD g_lastError = 0;
char g_moduleToken;

constexpr intptr_t HANDLE_TAG_MASK = 0x70000000;
constexpr intptr_t HANDLE_VALUE_MASK = 0x0FFFFFFF;
constexpr intptr_t FILE_TAG = 0x10000000;
constexpr intptr_t PROCESS_TAG = 0x20000000;

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_WRITE_FAULT;
  }
}

BOOL FailWithErrno() {
  g_lastError = ErrorFromErrno(errno);
  return FALSE;
}

const char* const kMessages[][2] = {
#define SFXRUN_MESSAGE(id, name, text) {(const char*)(uintptr_t)(id), text},
#include "resources/messages.def"
#undef SFXRUN_MESSAGE
};

void WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    length -= (size_t)n;
  }
}

// ---- the real implementations ----

DWORD RealGetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  if (size == 0) return 0;
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    FailWithErrno();
    return 0;
  }
  // Cut to the buffer the way Windows does: NUL-terminated, the full size returned.
  if ((DWORD)n >= size) {
    memcpy(buffer, path, size - 1);
    buffer[size - 1] = 0;
    g_lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  memcpy(buffer, path, (size_t)n);
  buffer[n] = 0;
  return (DWORD)n;
}

int RealLoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = 0;
  for (const auto& message : kMessages) {
    if ((uintptr_t)message[0] != id) continue;
    size_t length = strlen(message[1]);
    if (length > (size_t)size - 1) length = (size_t)size - 1;
    memcpy(buffer, message[1], length);
    buffer[length] = 0;
    return (int)length;
  }
  return 0;
}

int RealMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  // One line on standard error: the POSIX launcher has no window to draw a box in.
  const char* c = caption != nullptr ? caption : "";
  const char* t = text != nullptr ? text : "";
  char line[16384 + 8];
  size_t n = 0;
  for (const char* p = c; *p != 0 && n < sizeof line - 4; ++p) line[n++] = *p;
  line[n++] = ':';
  line[n++] = ' ';
  for (const char* p = t; *p != 0 && n < sizeof line - 1; ++p) line[n++] = *p;
  line[n++] = '\n';
  WriteAll(2, line, n);
  return IDOK;
}

HANDLE RealCreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD, HANDLE) {
  int flags = O_CLOEXEC;
  bool reading = (access & GENERIC_READ) != 0;
  bool writing = (access & GENERIC_WRITE) != 0;
  flags |= reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
  if (disposition == CREATE_ALWAYS) {
    flags |= O_CREAT | O_TRUNC;
  } else if (disposition != OPEN_EXISTING) {
    g_lastError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  int fd;
  do {
    fd = open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailWithErrno();
    return INVALID_HANDLE_VALUE;
  }
  // Windows opens no folder as a file; neither do we.
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    g_lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  return PosixFileHandle(fd);
}

BOOL RealReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD countRead, LPOVERLAPPED) {
  if (countRead != nullptr) *countRead = 0;
  int fd = PosixHandleFd(file);
  if (fd < 0) {
    g_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  // Like a disk file on Windows: the full count unless the end of the file comes first.
  DWORD total = 0;
  while (total < count) {
    ssize_t n = read(fd, (char*)buffer + total, count - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (countRead != nullptr) *countRead = total;
      return FailWithErrno();
    }
    if (n == 0) break;
    total += (DWORD)n;
  }
  if (countRead != nullptr) *countRead = total;
  return TRUE;
}

BOOL RealWriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD countWritten, LPOVERLAPPED) {
  if (countWritten != nullptr) *countWritten = 0;
  int fd = PosixHandleFd(file);
  if (fd < 0) {
    g_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  DWORD total = 0;
  while (total < count) {
    ssize_t n = write(fd, (const char*)buffer + total, count - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (countWritten != nullptr) *countWritten = total;
      if (n == 0) errno = ENOSPC;
      return FailWithErrno();
    }
    total += (DWORD)n;
  }
  if (countWritten != nullptr) *countWritten = total;
  return TRUE;
}

DWORD RealSetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  int fd = PosixHandleFd(file);
  if (fd < 0) {
    g_lastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  int64_t move = distanceHigh != nullptr ? (int64_t)(((uint64_t)(uint32_t)*distanceHigh << 32) | (uint32_t)distance)
                                         : (int64_t)distance;
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    g_lastError = ERROR_INVALID_PARAMETER;
    return INVALID_SET_FILE_POINTER;
  }
  // lseek refuses a position before the start and leaves the old one, as Windows does.
  off_t position = lseek(fd, (off_t)move, whence);
  if (position < 0) {
    g_lastError = errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh != nullptr) *distanceHigh = (LONG)((uint64_t)position >> 32);
  return (DWORD)(uint64_t)position;
}

DWORD RealGetFileSize(HANDLE file, LPDWORD sizeHigh) {
  int fd = PosixHandleFd(file);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) {
    g_lastError = ERROR_INVALID_HANDLE;
    return 0xFFFFFFFFu;
  }
  if (sizeHigh != nullptr) *sizeHigh = (DWORD)((uint64_t)info.st_size >> 32);
  return (DWORD)(uint64_t)info.st_size;
}

struct timespec TimespecFromFileTime(const FILETIME* time) {
  struct timespec result;
  if (time == nullptr) {
    result.tv_sec = 0;
    result.tv_nsec = UTIME_OMIT;
    return result;
  }
  int64_t ticks = (int64_t)(((uint64_t)time->dwHighDateTime << 32) | time->dwLowDateTime);
  int64_t sinceEpoch = ticks - 116444736000000000LL;
  int64_t seconds = sinceEpoch / 10000000;
  int64_t rest = sinceEpoch % 10000000;
  if (rest < 0) {
    rest += 10000000;
    seconds -= 1;
  }
  result.tv_sec = (time_t)seconds;
  result.tv_nsec = (long)(rest * 100);
  return result;
}

BOOL RealSetFileTime(HANDLE file, const FILETIME*, const FILETIME* access, const FILETIME* write) {
  int fd = PosixHandleFd(file);
  if (fd < 0) {
    g_lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  // POSIX keeps no settable creation time; access and modification are what a listing shows.
  struct timespec times[2] = {TimespecFromFileTime(access), TimespecFromFileTime(write)};
  if (futimens(fd, times) != 0) return FailWithErrno();
  return TRUE;
}

BOOL RealCloseHandle(HANDLE handle) {
  int fd = PosixHandleFd(handle);
  if (fd >= 0) {
    // Linux releases the descriptor even when close reports EINTR, so no retry.
    close(fd);
    return TRUE;
  }
  if (PosixHandlePid(handle) > 0) return TRUE;
  g_lastError = ERROR_INVALID_HANDLE;
  return FALSE;
}

DWORD RealGetTempPathA(DWORD size, LPSTR buffer) {
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == 0) folder = "/tmp";
  size_t length = strlen(folder);
  bool addSlash = folder[length - 1] != '/';
  size_t needed = length + (addSlash ? 1 : 0);
  // As on Windows: too small a buffer gets nothing, and the answer is the size it would need.
  if (needed + 1 > size) return (DWORD)(needed + 1);
  memcpy(buffer, folder, length);
  if (addSlash) buffer[length] = '/';
  buffer[needed] = 0;
  return (DWORD)needed;
}

DWORD Clamp32(unsigned long long value) { return value > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)value; }

BOOL RealGetDiskFreeSpaceA(LPCSTR root, LPDWORD sectorsPerCluster, LPDWORD bytesPerSector, LPDWORD freeClusters,
                           LPDWORD totalClusters) {
  struct statvfs info;
  if (statvfs(root != nullptr ? root : ".", &info) != 0) return FailWithErrno();
  // One "sector" per cluster of the file system's fragment size; space for unprivileged users only.
  if (sectorsPerCluster != nullptr) *sectorsPerCluster = 1;
  if (bytesPerSector != nullptr) *bytesPerSector = Clamp32(info.f_frsize);
  if (freeClusters != nullptr) *freeClusters = Clamp32(info.f_bavail);
  if (totalClusters != nullptr) *totalClusters = Clamp32(info.f_blocks);
  return TRUE;
}

DWORD RealGetFileAttributesA(LPCSTR path) {
  // lstat: anything under the name, a dangling link included, makes the name taken.
  struct stat info;
  if (lstat(path, &info) != 0) {
    FailWithErrno();
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL RealCreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
  // Private to the user: the temporary folder is shared by everyone on the machine.
  if (mkdir(path, 0700) != 0) return FailWithErrno();
  return TRUE;
}

BOOL RealRemoveDirectoryA(LPCSTR path) { return rmdir(path) == 0 ? TRUE : FailWithErrno(); }
BOOL RealDeleteFileA(LPCSTR path) { return unlink(path) == 0 ? TRUE : FailWithErrno(); }
BOOL RealIsDBCSLeadByte(BYTE) { return FALSE; }  // names are UTF-8 here: every byte below 0x80 is a character

// ---- starting a program and waiting for it ----

volatile sig_atomic_t g_forwardPid = 0;

void ForwardSignal(int signalNumber) {
  pid_t pid = (pid_t)g_forwardPid;
  if (pid > 0) kill(pid, signalNumber);
}

// While the program runs, an interrupt from the terminal is the program's to handle (it is in our
// process group and receives it too), and a termination request is handed on to it; the launcher
// waits for its end either way, so it can still clean up.
void GuardSignalsForChild() {
  struct sigaction ignore;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, nullptr);
  sigaction(SIGQUIT, &ignore, nullptr);
  struct sigaction forward;
  memset(&forward, 0, sizeof forward);
  forward.sa_handler = ForwardSignal;
  sigemptyset(&forward.sa_mask);
  forward.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &forward, nullptr);
  sigaction(SIGHUP, &forward, nullptr);
}

bool IsStartable(int fd) {
  unsigned char head[4] = {0, 0, 0, 0};
  ssize_t n;
  do {
    n = pread(fd, head, sizeof head, 0);
  } while (n < 0 && errno == EINTR);
  if (n >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') return true;
  return n >= 2 && head[0] == '#' && head[1] == '!';
}

BOOL FailStart(SHELLEXECUTEINFOA* info, int code, DWORD error) {
  info->hInstApp = (HINSTANCE)(intptr_t)code;
  info->hProcess = nullptr;
  g_lastError = error;
  return FALSE;
}

BOOL RealShellExecuteExA(SHELLEXECUTEINFOA* info) {
  if (info == nullptr || info->lpFile == nullptr) {
    g_lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  if (info->lpVerb != nullptr && strcmp(info->lpVerb, "open") != 0) return FailStart(info, SE_ERR_NOASSOC, ERROR_ACCESS_DENIED);
  int fd = open(info->lpFile, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FailStart(info, SE_ERR_FNF, ErrorFromErrno(errno));
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !IsStartable(fd)) {
    close(fd);
    return FailStart(info, SE_ERR_NOASSOC, ERROR_ACCESS_DENIED);
  }
  // The program was written out as data; "open" on an executable means running it.
  if ((status.st_mode & S_IXUSR) == 0) fchmod(fd, (status.st_mode & 07777) | S_IXUSR);
  close(fd);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGQUIT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGHUP);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  sigset_t emptyMask;
  sigemptyset(&emptyMask);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &emptyMask);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  // A termination request that comes while the program starts, before its pid is known to the
  // handler, would be lost and the program never told; held back until then, it is forwarded.
  sigset_t forwarded;
  sigset_t previous;
  sigemptyset(&forwarded);
  sigaddset(&forwarded, SIGTERM);
  sigaddset(&forwarded, SIGHUP);
  sigprocmask(SIG_BLOCK, &forwarded, &previous);
  GuardSignalsForChild();
  char* argv[2] = {(char*)info->lpFile, nullptr};
  pid_t pid = 0;
  int error = posix_spawn(&pid, info->lpFile, nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (error == 0) g_forwardPid = pid;
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (error != 0) return FailStart(info, SE_ERR_ACCESSDENIED, ErrorFromErrno(error));
  info->hInstApp = (HINSTANCE)(intptr_t)42;
  info->hProcess = (info->fMask & SEE_MASK_NOCLOSEPROCESS) != 0 ? PosixProcessHandle(pid) : nullptr;
  return TRUE;
}

DWORD RealWaitForSingleObject(HANDLE handle, DWORD) {
  int pid = PosixHandlePid(handle);
  if (pid <= 0) {
    g_lastError = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  int status = 0;
  pid_t result;
  do {
    result = waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  // Once reaped, the pid may be reused: nothing more is forwarded to it.
  if (g_forwardPid == pid) g_forwardPid = 0;
  return result == pid ? WAIT_OBJECT_0 : WAIT_FAILED;
}

}  // namespace

HINSTANCE const POSIX_MODULE_TOKEN = (HINSTANCE)&g_moduleToken;

HANDLE PosixFileHandle(int fd) { return (HANDLE)(FILE_TAG | (intptr_t)fd); }
int PosixHandleFd(HANDLE handle) {
  intptr_t value = (intptr_t)handle;
  if (value == (intptr_t)-1 || (value & ~HANDLE_VALUE_MASK) != FILE_TAG) return -1;
  return (int)(value & HANDLE_VALUE_MASK);
}
HANDLE PosixProcessHandle(int pid) { return (HANDLE)(PROCESS_TAG | (intptr_t)pid); }
int PosixHandlePid(HANDLE handle) {
  intptr_t value = (intptr_t)handle;
  if (value == (intptr_t)-1 || (value & ~HANDLE_VALUE_MASK) != PROCESS_TAG) return -1;
  return (int)(value & HANDLE_VALUE_MASK);
}

const PosixServices kPosixRealServices = {
    RealGetModuleFileNameA, RealLoadStringA,        RealMessageBoxA,       RealCreateFileA,
    RealReadFile,           RealWriteFile,          RealSetFilePointer,    RealGetFileSize,
    RealSetFileTime,        RealCloseHandle,        RealGetTempPathA,      RealGetDiskFreeSpaceA,
    RealGetFileAttributesA, RealCreateDirectoryA,   RealRemoveDirectoryA,  RealDeleteFileA,
    RealIsDBCSLeadByte,     RealShellExecuteExA,    RealWaitForSingleObject, PosixLZOpenFileA,
    PosixLZCopy,            PosixLZClose,
};

PosixServices g_posixServices = kPosixRealServices;

// ---- the Win32 names the core calls: each goes through the table ----

extern "C" {
DWORD WINAPI GetModuleFileNameA(HMODULE m, LPSTR b, DWORD s) { return g_posixServices.GetModuleFileNameA(m, b, s); }
int WINAPI LoadStringA(HINSTANCE i, UINT id, LPSTR b, int s) { return g_posixServices.LoadStringA(i, id, b, s); }
int WINAPI MessageBoxA(HWND o, LPCSTR t, LPCSTR c, UINT s) { return g_posixServices.MessageBoxA(o, t, c, s); }
HANDLE WINAPI CreateFileA(LPCSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
  return g_posixServices.CreateFileA(p, a, s, sa, d, f, t);
}
BOOL WINAPI ReadFile(HANDLE h, LPVOID b, DWORD n, LPDWORD r, LPOVERLAPPED o) { return g_posixServices.ReadFile(h, b, n, r, o); }
BOOL WINAPI WriteFile(HANDLE h, LPCVOID b, DWORD n, LPDWORD w, LPOVERLAPPED o) {
  return g_posixServices.WriteFile(h, b, n, w, o);
}
DWORD WINAPI SetFilePointer(HANDLE h, LONG d, PLONG hi, DWORD m) { return g_posixServices.SetFilePointer(h, d, hi, m); }
DWORD WINAPI GetFileSize(HANDLE h, LPDWORD hi) { return g_posixServices.GetFileSize(h, hi); }
BOOL WINAPI SetFileTime(HANDLE h, const FILETIME* c, const FILETIME* a, const FILETIME* w) {
  return g_posixServices.SetFileTime(h, c, a, w);
}
BOOL WINAPI CloseHandle(HANDLE h) { return g_posixServices.CloseHandle(h); }
DWORD WINAPI GetTempPathA(DWORD s, LPSTR b) { return g_posixServices.GetTempPathA(s, b); }
BOOL WINAPI GetDiskFreeSpaceA(LPCSTR r, LPDWORD a, LPDWORD b, LPDWORD c, LPDWORD d) {
  return g_posixServices.GetDiskFreeSpaceA(r, a, b, c, d);
}
DWORD WINAPI GetFileAttributesA(LPCSTR p) { return g_posixServices.GetFileAttributesA(p); }
BOOL WINAPI CreateDirectoryA(LPCSTR p, LPSECURITY_ATTRIBUTES s) { return g_posixServices.CreateDirectoryA(p, s); }
BOOL WINAPI RemoveDirectoryA(LPCSTR p) { return g_posixServices.RemoveDirectoryA(p); }
BOOL WINAPI DeleteFileA(LPCSTR p) { return g_posixServices.DeleteFileA(p); }
BOOL WINAPI IsDBCSLeadByte(BYTE b) { return g_posixServices.IsDBCSLeadByte(b); }
BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* i) { return g_posixServices.ShellExecuteExA(i); }
DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms) { return g_posixServices.WaitForSingleObject(h, ms); }
INT WINAPI LZOpenFileA(LPSTR p, LPOFSTRUCT o, WORD s) { return g_posixServices.LZOpenFileA(p, o, s); }
LONG WINAPI LZCopy(INT s, INT d) { return g_posixServices.LZCopy(s, d); }
void WINAPI LZClose(INT h) { g_posixServices.LZClose(h); }
DWORD WINAPI GetLastError(void) { return g_lastError; }
void WINAPI SetLastError(DWORD error) { g_lastError = error; }
}
