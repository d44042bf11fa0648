/* Reads a stub's version block and string table through the system's own calls; a test program run under wine64. */
/* Usage: resources-probe STUB.exe. Prints each mismatch and exits with the number of them. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const struct {
    UINT id;
    const char *utf8;
} MESSAGES[] = {
#define SFXRUN_MESSAGE(id, name, text) {id, text},
#include "messages.def"
#undef SFXRUN_MESSAGE
};

enum { TEXT_CAPACITY = 8192 };

static int failures;

static void Check(int ok, const char *what)
{
    if (!ok) {
        printf("FAIL: %s\n", what);
        failures++;
    }
}

static void PrintBytes(const char *label, const char *bytes, int length)
{
    printf("%s (%d bytes):", label, length);
    for (int i = 0; i < length; i++) printf(" %02x", (unsigned char)bytes[i]);
    printf("\n");
}

static void CheckVersionText(const void *block, const char *key, const char *expected)
{
    char query[128];
    char *value = NULL;
    UINT length = 0;
    snprintf(query, sizeof query, "\\StringFileInfo\\041104b0\\%s", key);
    BOOL found = VerQueryValueA(block, query, (void **)&value, &length);
    printf("%s = \"%s\" (length %u)\n", key, found && value ? value : "", length);
    Check(found && value && strcmp(value, expected) == 0, query);
}

static void CheckVersionInfo(const char *path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    Check(size != 0, "GetFileVersionInfoSizeA");
    if (size == 0) return;
    void *block = calloc(1, size);
    if (!GetFileVersionInfoA(path, 0, size, block)) {
        Check(0, "GetFileVersionInfoA");
        free(block);
        return;
    }

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    Check(VerQueryValueA(block, "\\", (void **)&fixed, &length) && length == sizeof *fixed, "fixed file info");
    if (fixed) {
        printf("file %lx.%lx product %lx.%lx\n", (unsigned long)fixed->dwFileVersionMS, (unsigned long)fixed->dwFileVersionLS,
               (unsigned long)fixed->dwProductVersionMS, (unsigned long)fixed->dwProductVersionLS);
        Check(fixed->dwSignature == 0xFEEF04BD, "fixed file info signature");
        Check(fixed->dwFileVersionMS == MAKELONG(9, 4) && fixed->dwFileVersionLS == 0, "file version 4.9.0.0");
        Check(fixed->dwProductVersionMS == MAKELONG(9, 4) && fixed->dwProductVersionLS == 0, "product version 4.9.0.0");
    }

    WORD *translation = NULL;
    Check(VerQueryValueA(block, "\\VarFileInfo\\Translation", (void **)&translation, &length) && length == 4 && translation &&
              translation[0] == 0x0411 && translation[1] == 0x04B0,
          "Translation 0x0411, 0x04B0");

    CheckVersionText(block, "FileVersion", "4, 9, 0, 0");
    CheckVersionText(block, "ProductVersion", "4, 9, 0, 0");
    CheckVersionText(block, "OriginalFilename", "sfxrun-stub.exe");
    CheckVersionText(block, "Comments", "");
    free(block);
}

/* The expected ANSI text: the UTF-8 source through UTF-16 into code page 932. */
static int ExpectedShiftJis(const char *utf8, char *out, int capacity)
{
    WCHAR wide[TEXT_CAPACITY];
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, TEXT_CAPACITY);
    if (units <= 0) return -1;
    BOOL lossy = FALSE;
    int bytes = WideCharToMultiByte(932, 0, wide, -1, out, capacity, NULL, &lossy);
    return bytes > 0 && !lossy ? bytes - 1 : -1;
}

static void CheckStrings(const char *path)
{
    printf("ANSI code page %u\n", GetACP());
    Check(GetACP() == 932, "the ANSI code page is 932");
    HMODULE module = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    Check(module != NULL, "LoadLibraryExA as data file");
    if (!module) return;
    for (UINT id = 992; id <= 1007; id++) {
        const char *utf8 = "";
        for (size_t i = 0; i < sizeof MESSAGES / sizeof MESSAGES[0]; i++)
            if (MESSAGES[i].id == id) utf8 = MESSAGES[i].utf8;
        char expected[TEXT_CAPACITY], loaded[TEXT_CAPACITY];
        int expectedLength = ExpectedShiftJis(utf8, expected, TEXT_CAPACITY);
        memset(loaded, 'x', sizeof loaded);
        int loadedLength = LoadStringA(module, id, loaded, TEXT_CAPACITY);
        char what[64];
        snprintf(what, sizeof what, "LoadStringA %u in code page 932", id);
        int same = expectedLength >= 0 && loadedLength == expectedLength && memcmp(loaded, expected, (size_t)expectedLength + 1) == 0;
        Check(same, what);
        if (!same || *utf8) PrintBytes(what, loaded, loadedLength > 0 ? loadedLength : 0);
    }
    FreeLibrary(module);
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: resources-probe STUB.exe\n");
        return 100;
    }
    CheckVersionInfo(argv[1]);
    CheckStrings(argv[1]);
    printf("%d failure(s)\n", failures);
    return failures;
}
