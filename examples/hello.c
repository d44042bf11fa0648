/* The demo's program: says where it runs and which files lie beside it. Portable C, POSIX or Windows. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#include <direct.h>
#define getcwd _getcwd
#else
#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

static FILE* out;

static void ListFolderOf(const char* self) {
  char folder[4096];
  strncpy(folder, self, sizeof folder - 1);
  folder[sizeof folder - 1] = 0;
  char* cut = strrchr(folder, '/');
#ifdef _WIN32
  char* back = strrchr(folder, '\\');
  if (back != NULL && (cut == NULL || back > cut)) cut = back;
#endif
  if (cut != NULL) *cut = 0;
  fprintf(out, "  files beside me in %s:\n", folder);
#ifdef _WIN32
  char pattern[4200];
  snprintf(pattern, sizeof pattern, "%s\\*", folder);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern, &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (data.cFileName[0] == '.') continue;
    fprintf(out, "    %-16s %10lu bytes\n", data.cFileName, (unsigned long)data.nFileSizeLow);
  } while (FindNextFileA(find, &data));
  FindClose(find);
#else
  DIR* dir = opendir(folder);
  if (dir == NULL) return;
  struct dirent* entry;
  while ((entry = readdir(dir)) != NULL) {
    if (entry->d_name[0] == '.') continue;
    char path[8192];
    snprintf(path, sizeof path, "%s/%s", folder, entry->d_name);
    struct stat info;
    if (stat(path, &info) != 0) continue;
    fprintf(out, "    %-16s %10lld bytes\n", entry->d_name, (long long)info.st_size);
  }
  closedir(dir);
#endif
}

int main(int argc, char** argv) {
  /* Under a GUI launcher a console program's output may go nowhere; the demo can ask for a file. */
  const char* report = getenv("SFXRUN_EXAMPLE_REPORT");
  out = report != NULL ? fopen(report, "w") : NULL;
  if (out == NULL) out = stdout;
  char self[4096] = "";
#ifdef _WIN32
  GetModuleFileNameA(NULL, self, sizeof self);
#else
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) self[n] = 0;
#endif
  char cwd[4096] = "";
  if (getcwd(cwd, sizeof cwd) == NULL) strcpy(cwd, "?");
  fprintf(out, "hello from the packed program\n");
  fprintf(out, "  I am        %s\n", self);
  fprintf(out, "  working in  %s\n", cwd);
  fprintf(out, "  arguments   %d\n", argc - 1);
  ListFolderOf(self);
  (void)argv;
  fflush(out);
  if (out != stdout) fclose(out);
  return 0;
}
