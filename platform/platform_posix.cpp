// Kernel services on Linux and other POSIX systems: driver libraries are
// ELF shared objects carrying their Windows file names, and the "system
// directory" is the folder holding the loaded module.
#include "platform/platform.h"

#include <dlfcn.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace platform {
namespace {

unsigned long lastError = 0;

// Any address inside this module, for dladdr.
void moduleAnchor() {}

}  // namespace

ModuleHandle LoadLibraryA(const char *path) {
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        // Windows finds "GPIB-32.DLL" as gpib-32.dll: retry with the last
        // component in lower case when the name as written is not there.
        std::string lowered(path);
        std::string::size_type start = lowered.find_last_of('/');
        start = start == std::string::npos ? 0 : start + 1;
        for (std::string::size_type i = start; i < lowered.size(); ++i)
            lowered[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowered[i])));
        if (lowered != path) handle = dlopen(lowered.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (handle == nullptr) lastError = kErrorModuleNotFound;
    return handle;
}

void *GetProcAddress(ModuleHandle module, const char *name) {
    void *address = module != nullptr ? dlsym(module, name) : nullptr;
    if (address == nullptr) lastError = kErrorProcNotFound;
    return address;
}

int FreeLibrary(ModuleHandle module) { return module != nullptr && dlclose(module) == 0 ? 1 : 0; }

unsigned GetSystemDirectoryA(char *buffer, unsigned size) {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&moduleAnchor), &info) == 0 || info.dli_fname == nullptr)
        return 0;
    char *resolved = realpath(info.dli_fname, nullptr);
    if (resolved == nullptr) return 0;
    std::string folder(resolved);
    free(resolved);
    std::string::size_type slash = folder.find_last_of('/');
    folder.erase(slash == 0 ? 1 : slash);
    if (folder.size() + 1 > size) return static_cast<unsigned>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<unsigned>(folder.size());
}

unsigned long GetLastError() { return lastError; }

int lstrcmpA(const char *a, const char *b) { return std::strcmp(a, b); }

bool fileIsPresent(const char *path) {
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

}  // namespace platform
