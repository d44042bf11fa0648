// The launcher's shared state, exit statuses and stage interfaces; core code, OS reached via platform.h only.
#pragma once

#include "container/records.h"
#include "launcher/platform/platform.h"
#include "resources/messages.h"

constexpr size_t PATH_BUFFER_SIZE = 16384;
constexpr size_t MESSAGE_BUFFER_SIZE = 8192;
constexpr size_t COPY_CHUNK = 16384;
constexpr double MIN_FREE_BYTES = 10485760.0;
constexpr UINT MESSAGE_STYLE = MB_OK | MB_ICONEXCLAMATION;

enum ExitStatus {
  EXIT_LAUNCHED = 0,
  EXIT_LAUNCH_FAILED = -1,
  EXIT_WORK_AREA_FAILED = 3,
  EXIT_CONTAINER_FAILED = 5,
  EXIT_WORK_FOLDER_FAILED = 6,
};

struct LauncherState {
  HINSTANCE instance;
  HANDLE archiveFile;
  int32_t entryCount;
  DirectoryEntry entries[MAX_ENTRIES];
  char workFolder[PATH_BUFFER_SIZE];
};

extern LauncherState g_launcherState;

// Puts the state back as a fresh process has it; tests call it between runs.
void ResetLauncherState();

int RunLauncher();
void ReportMessage(UINT messageId, UINT style);

int CheckWorkArea();
int LocateContainer();
int PrepareWorkFolder();
int ExtractMember(const char* destinationPath, int32_t index);
FILETIME SecondsToFileTime(const uint8_t modifiedTime[8]);
LONG ExpandMember(const char* sourcePath, const char* destinationPath);
int LaunchAndWait(const char* path, const char* parameters, int showState);
void RemoveExtractedFiles();
void RemoveWorkFolder();
// The path of a member's file in workFolder; false when it would not fit capacity.
bool ComposeMemberPath(char* buffer, size_t capacity, const char* name);

// Exposed for tests: the free-space root cut from a temporary path (bytes, '\' as separator).
void CutRootText(char* path);
// The lead-byte test of the ANSI code page, for the member-name check.
bool IsAnsiLeadByte(unsigned char byte);
