// POSIX only: the replaceable table behind every platform service, so tests can fail any call.
// Nothing outside tests changes the table, and no environment variable reaches it.
#pragma once

#include "win32_types.h"

struct PosixServices {
  DWORD (*GetModuleFileNameA)(HMODULE, LPSTR, DWORD);
  int (*LoadStringA)(HINSTANCE, UINT, LPSTR, int);
  int (*MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
  HANDLE (*CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL (*ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL (*WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  DWORD (*SetFilePointer)(HANDLE, LONG, PLONG, DWORD);
  DWORD (*GetFileSize)(HANDLE, LPDWORD);
  BOOL (*SetFileTime)(HANDLE, const FILETIME*, const FILETIME*, const FILETIME*);
  BOOL (*CloseHandle)(HANDLE);
  DWORD (*GetTempPathA)(DWORD, LPSTR);
  BOOL (*GetDiskFreeSpaceA)(LPCSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD);
  DWORD (*GetFileAttributesA)(LPCSTR);
  BOOL (*CreateDirectoryA)(LPCSTR, LPSECURITY_ATTRIBUTES);
  BOOL (*RemoveDirectoryA)(LPCSTR);
  BOOL (*DeleteFileA)(LPCSTR);
  BOOL (*IsDBCSLeadByte)(BYTE);
  BOOL (*ShellExecuteExA)(SHELLEXECUTEINFOA*);
  DWORD (*WaitForSingleObject)(HANDLE, DWORD);
  INT (*LZOpenFileA)(LPSTR, LPOFSTRUCT, WORD);
  LONG (*LZCopy)(INT, INT);
  void (*LZClose)(INT);
};

// The live table; its defaults are the real implementations below.
extern PosixServices g_posixServices;
// The real implementations, so a test can wrap one and still call through.
extern const PosixServices kPosixRealServices;

// The module token WinMain receives on POSIX; GetModuleFileNameA and LoadStringA accept it.
extern HINSTANCE const POSIX_MODULE_TOKEN;

// Handle values: files are fds, processes are pids, each tagged so neither can pass for the other.
HANDLE PosixFileHandle(int fd);
int PosixHandleFd(HANDLE handle);   // -1 when not a file handle
HANDLE PosixProcessHandle(int pid);
int PosixHandlePid(HANDLE handle);  // -1 when not a process handle

// The real LZ service (lz_service.cpp); the table's LZ entries point here.
INT PosixLZOpenFileA(LPSTR path, LPOFSTRUCT ofs, WORD style);
LONG PosixLZCopy(INT source, INT destination);
void PosixLZClose(INT handle);
