/* Starts programs as a Windows parent would and prints their 32-bit exit codes; a test program, run under wine64. */
/*
 * Usage: e2e-parent [NAME=VALUE ...] -- PROGRAM [ARGUMENT ...]
 *        e2e-parent --jobs FILE
 * Each NAME=VALUE is set in the environment the program inherits (Wine fills TEMP and TMP from its
 * own registry, so a scenario's temporary folder can only be handed on this way). Prints
 * "exit 0x%08lX" from GetExitCodeProcess, so -1 shows as 0xFFFFFFFF rather than the 255 a POSIX
 * parent sees. The program is started minimized without activation (SW_SHOWMINNOACTIVE).
 *
 * With --jobs, FILE holds one job after another, each a block of lines "cwd PATH", "env NAME=VALUE"
 * (any number), "arg TEXT" (the program, then its arguments) and "end"; the jobs run one at a time in
 * this one Windows session, so wine starts once for all of them. Before each job a line
 * "e2e-parent: job N" goes to standard error, so the trace lines that follow belong to job N; after
 * it "exit N 0x%08lX MS" (MS: milliseconds it ran) goes to standard output.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>

enum { LINE_CAPACITY = 32768 };

/* Quotes one argument the way the C runtime's parser splits it again. */
static int AppendArgument(char *line, size_t capacity, const char *argument)
{
    size_t length = strlen(line);
    size_t slashes = 0;
    const char *p;
    if (length + 3 >= capacity) return 0;
    if (length > 0) line[length++] = ' ';
    line[length++] = '"';
    for (p = argument; *p != 0; ++p) {
        size_t need = (*p == '"' ? 2 * slashes + 2 : 1) + 2;
        if (length + need >= capacity) return 0;
        if (*p == '\\') {
            ++slashes;
        } else if (*p == '"') {
            size_t k;
            for (k = 0; k < slashes + 1; ++k) line[length++] = '\\';
            slashes = 0;
        } else {
            slashes = 0;
        }
        line[length++] = *p;
    }
    while (slashes-- > 0) line[length++] = '\\';
    line[length++] = '"';
    line[length] = 0;
    return 1;
}

static int StartAndWait(char *line, const char *folder, DWORD *code, DWORD *milliseconds)
{
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ULONGLONG start = GetTickCount64();
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    /* A show state of its own, which the launcher must not hand on to the program it starts. */
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process)) {
        fprintf(stderr, "e2e-parent: cannot start %s: error %lu\n", line, GetLastError());
        return 0;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    *milliseconds = (DWORD)(GetTickCount64() - start);
    if (!GetExitCodeProcess(process.hProcess, code)) {
        fprintf(stderr, "e2e-parent: no exit code: error %lu\n", GetLastError());
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

enum { MAX_SETTINGS = 64 };

static int RunJobs(const char *path)
{
    static char text[LINE_CAPACITY];
    static char line[LINE_CAPACITY];
    static char folder[LINE_CAPACITY];
    static char names[MAX_SETTINGS][256];
    int settings = 0, job = 0;
    FILE *jobs = fopen(path, "rb");
    if (jobs == NULL) {
        fprintf(stderr, "e2e-parent: cannot read %s\n", path);
        return 2;
    }
    line[0] = folder[0] = 0;
    while (fgets(text, sizeof text, jobs) != NULL) {
        size_t length = strcspn(text, "\r\n");
        text[length] = 0;
        if (strncmp(text, "cwd ", 4) == 0) {
            snprintf(folder, sizeof folder, "%s", text + 4);
        } else if (strncmp(text, "env ", 4) == 0 && settings < MAX_SETTINGS) {
            char *equals = strchr(text + 4, '=');
            if (equals == NULL) continue;
            *equals = 0;
            snprintf(names[settings++], sizeof names[0], "%s", text + 4);
            SetEnvironmentVariableA(text + 4, equals + 1);
        } else if (strncmp(text, "arg ", 4) == 0) {
            if (!AppendArgument(line, sizeof line, text + 4)) fprintf(stderr, "e2e-parent: command line too long\n");
        } else if (strcmp(text, "end") == 0) {
            DWORD code = 0, milliseconds = 0;
            ++job;
            fprintf(stderr, "e2e-parent: job %d\n", job);
            fflush(stderr);
            if (StartAndWait(line, folder[0] != 0 ? folder : NULL, &code, &milliseconds)) {
                printf("exit %d 0x%08lX %lu\n", job, code, milliseconds);
            } else {
                printf("failed %d\n", job);
            }
            fflush(stdout);
            /* Each job starts from the parent's own environment. */
            while (settings > 0) SetEnvironmentVariableA(names[--settings], NULL);
            line[0] = folder[0] = 0;
        }
    }
    fclose(jobs);
    return 0;
}

int main(int argc, char **argv)
{
    static char line[LINE_CAPACITY];
    DWORD code = 0, milliseconds = 0;
    int i = 1;

    if (argc == 3 && strcmp(argv[1], "--jobs") == 0) return RunJobs(argv[2]);
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        char *equals = strchr(argv[i], '=');
        if (equals == NULL) {
            fprintf(stderr, "e2e-parent: not NAME=VALUE: %s\n", argv[i]);
            return 2;
        }
        *equals = 0;
        SetEnvironmentVariableA(argv[i], equals + 1);
    }
    if (i + 1 >= argc) {
        fprintf(stderr, "usage: e2e-parent [NAME=VALUE ...] -- PROGRAM [ARGUMENT ...]\n");
        return 2;
    }
    for (++i; i < argc; ++i) {
        if (!AppendArgument(line, sizeof line, argv[i])) {
            fprintf(stderr, "e2e-parent: command line too long\n");
            return 2;
        }
    }

    if (!StartAndWait(line, NULL, &code, &milliseconds)) return 3;
    printf("exit 0x%08lX\n", code);
    fflush(stdout);
    return 0;
}
