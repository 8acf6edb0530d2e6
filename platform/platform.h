// The kernel services the module relies on: loading a library and finding its
// exports by name, the system directory, the last error and text comparison.
// One implementation per OS (platform_posix.cpp, platform_win32.cpp); unit
// tests link a fake in their place.
#ifndef VANDREL_PLATFORM_PLATFORM_H
#define VANDREL_PLATFORM_PLATFORM_H

namespace platform {

typedef void *ModuleHandle;  // a loaded library; null when none

// Windows error codes this layer reports through GetLastError.
enum { kErrorModuleNotFound = 126, kErrorProcNotFound = 127 };

// Separator between the system directory and a file name.
#if defined(_WIN32)
static const char kPathSeparator = '\\';
#else
static const char kPathSeparator = '/';
#endif

ModuleHandle LoadLibraryA(const char *path);
void *GetProcAddress(ModuleHandle module, const char *name);
int FreeLibrary(ModuleHandle module);
// Copies the system directory (no trailing separator) into buffer and returns
// its length; when size is too small, returns the size needed including the
// terminator and leaves buffer alone. Returns 0 on failure.
unsigned GetSystemDirectoryA(char *buffer, unsigned size);
unsigned long GetLastError();
int lstrcmpA(const char *a, const char *b);
// Whether a file of that path can be opened for binary reading.
bool fileIsPresent(const char *path);

}  // namespace platform

#endif
