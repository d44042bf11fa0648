/* The program a container starts in the Windows end-to-end runs: reports what it sees; a test program, run under wine64. */
/*
 * It records, into the file named by SFXRUN_PROBE_REPORT, its own path, its working folder, its
 * argument count and every file beside it (size, last-write time in seconds UTC, FNV-1a digest), in
 * the same line format as the POSIX probe, the show state it was started with, and whether the
 * launcher still holds the container named by SFXRUN_PROBE_CONTAINER. Then, as the scenario asks through the environment, it
 * sleeps (SFXRUN_PROBE_SLEEP, seconds, before it writes the report, so the report proves the
 * launcher waited), leaves a file of its own (SFXRUN_PROBE_LEAVE) and exits with SFXRUN_PROBE_EXIT.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { PATH_CAPACITY = 32768, CHUNK = 65536 };

static const unsigned long long FNV_OFFSET = 0xcbf29ce484222325ULL;
static const unsigned long long FNV_PRIME = 0x100000001b3ULL;
/* 100-ns ticks from 1601 to 1970. */
static const long long TICKS_1601_TO_1970 = 116444736000000000LL;

static char g_self[PATH_CAPACITY];
static char g_folder[PATH_CAPACITY];
static unsigned char g_chunk[CHUNK];

static long long UnixSeconds(FILETIME time)
{
    long long ticks = (long long)(((unsigned long long)time.dwHighDateTime << 32) | time.dwLowDateTime);
    long long since = ticks - TICKS_1601_TO_1970;
    long long seconds = since / 10000000;
    if (since % 10000000 < 0) seconds -= 1; /* floor, so times before 1970 match stat's */
    return seconds;
}

/* Returns 0 when the file cannot be read: the report then says so instead of a digest. */
static int Digest(const char *path, unsigned long long *digest)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    unsigned long long hash = FNV_OFFSET;
    DWORD got;
    if (file == INVALID_HANDLE_VALUE) return 0;
    for (;;) {
        DWORD i;
        if (!ReadFile(file, g_chunk, CHUNK, &got, NULL)) {
            CloseHandle(file);
            return 0;
        }
        if (got == 0) break;
        for (i = 0; i < got; ++i) hash = (hash ^ g_chunk[i]) * FNV_PRIME;
    }
    CloseHandle(file);
    *digest = hash;
    return 1;
}

/* The last backslash that is a character of its own: in a double-byte code page a trail byte may be 0x5C. */
static char *LastSeparator(char *path)
{
    char *last = NULL;
    char *p;
    for (p = path; *p != 0; ++p) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1] != 0) {
            ++p;
            continue;
        }
        if (*p == '\\') last = p;
    }
    return last;
}

static void ListFolder(FILE *report)
{
    static char pattern[PATH_CAPACITY];
    static char path[PATH_CAPACITY];
    WIN32_FIND_DATAA found;
    HANDLE search;
    snprintf(pattern, sizeof pattern, "%s\\*", g_folder);
    search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        fprintf(report, "error\tcannot list %s\n", g_folder);
        return;
    }
    do {
        unsigned long long size, digest = 0;
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            fprintf(report, "dir\t%s\n", found.cFileName);
            continue;
        }
        size = ((unsigned long long)found.nFileSizeHigh << 32) | found.nFileSizeLow;
        snprintf(path, sizeof path, "%s\\%s", g_folder, found.cFileName);
        if (Digest(path, &digest)) {
            fprintf(report, "file\t%s\t%llu\t%lld\tfnv1a64:%016llx\n", found.cFileName, size,
                    UnixSeconds(found.ftLastWriteTime), digest);
        } else {
            fprintf(report, "file\t%s\t%llu\t%lld\tunreadable\n", found.cFileName, size,
                    UnixSeconds(found.ftLastWriteTime));
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

/* The launcher reads its own file through a handle with read access that shares reading only. Any
   such handle refuses an open that does not share reading, so that open tells whether one is still
   held. (An open for writing would say nothing: a running program's image is never writable.) */
static void ReportContainer(FILE *report)
{
    static char container[PATH_CAPACITY];
    HANDLE file;
    if (GetEnvironmentVariableA("SFXRUN_PROBE_CONTAINER", container, sizeof container) == 0) return;
    file = CreateFileA(container, GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(report, "container\theld (error %lu)\n", GetLastError());
        return;
    }
    CloseHandle(file);
    fprintf(report, "container\tfree\n");
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    static char value[PATH_CAPACITY];
    static char cwd[PATH_CAPACITY];
    char *slash;
    FILE *report;
    int exitCode = 0;
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;

    if (GetEnvironmentVariableA("SFXRUN_PROBE_SLEEP", value, sizeof value) > 0) Sleep((DWORD)(atof(value) * 1000));
    if (GetEnvironmentVariableA("SFXRUN_PROBE_EXIT", value, sizeof value) > 0) exitCode = (int)strtol(value, NULL, 0);

    GetModuleFileNameA(NULL, g_self, sizeof g_self);
    strcpy(g_folder, g_self);
    slash = LastSeparator(g_folder);
    if (slash != NULL) *slash = 0;
    GetCurrentDirectoryA(sizeof cwd, cwd);

    if (GetEnvironmentVariableA("SFXRUN_PROBE_REPORT", value, sizeof value) == 0) return 120;
    report = fopen(value, "wb");
    if (report == NULL) return 121;
    fprintf(report, "path\t%s\n", g_self);
    fprintf(report, "cwd\t%s\n", cwd);
    fprintf(report, "argc\t%d\n", __argc - 1);
    {
        STARTUPINFOA startup;
        GetStartupInfoA(&startup);
        if (startup.dwFlags & STARTF_USESHOWWINDOW) fprintf(report, "show\t%u\n", startup.wShowWindow);
        else fprintf(report, "show\tnone\n");
    }
    ListFolder(report);
    ReportContainer(report);
    fprintf(report, "end\n");
    fclose(report);

    if (GetEnvironmentVariableA("SFXRUN_PROBE_LEAVE", value, sizeof value) > 0) {
        static char path[PATH_CAPACITY];
        FILE *left;
        snprintf(path, sizeof path, "%s\\%s", g_folder, value);
        left = fopen(path, "wb");
        if (left != NULL) {
            fputs("left by the probe\n", left);
            fclose(left);
        }
    }
    return exitCode;
}
