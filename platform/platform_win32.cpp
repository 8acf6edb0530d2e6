// Kernel services on 32-bit Windows: Windows' own, behind the module's names.
#include "platform/platform.h"

#include <windows.h>

#include <cstdio>

namespace platform {

ModuleHandle LoadLibraryA(const char *path) { return reinterpret_cast<ModuleHandle>(::LoadLibraryA(path)); }

void *GetProcAddress(ModuleHandle module, const char *name) {
    return reinterpret_cast<void *>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

int FreeLibrary(ModuleHandle module) { return ::FreeLibrary(static_cast<HMODULE>(module)) ? 1 : 0; }

unsigned GetSystemDirectoryA(char *buffer, unsigned size) { return ::GetSystemDirectoryA(buffer, size); }

unsigned long GetLastError() { return ::GetLastError(); }

int lstrcmpA(const char *a, const char *b) { return ::lstrcmpA(a, b); }

bool fileIsPresent(const char *path) {
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace platform
