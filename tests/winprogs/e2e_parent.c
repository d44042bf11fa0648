/* Starts one program as a Windows parent would and prints its 32-bit exit code; a test program, run under wine64. */
/*
 * Usage: e2e-parent [NAME=VALUE ...] -- PROGRAM [ARGUMENT ...]
 * Each NAME=VALUE is set in the environment the program inherits (Wine fills TEMP and TMP from its
 * own registry, so the scenario's temporary folder can only be handed on this way). The program
 * runs in this process's working folder. Prints "exit 0x%08lX" from GetExitCodeProcess, so -1
 * shows as 0xFFFFFFFF rather than the 255 a POSIX parent sees.
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

int main(int argc, char **argv)
{
    static char line[LINE_CAPACITY];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD code = 0;
    int i = 1;

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

    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (!CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "e2e-parent: cannot start %s: error %lu\n", line, GetLastError());
        return 3;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    if (!GetExitCodeProcess(process.hProcess, &code)) {
        fprintf(stderr, "e2e-parent: no exit code: error %lu\n", GetLastError());
        return 4;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("exit 0x%08lX\n", code);
    fflush(stdout);
    return 0;
}
