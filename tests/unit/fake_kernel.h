// A stand-in for the kernel layer behind the platform:: seam: libraries by
// full path with their exports, present files, a chosen system directory.
#ifndef VANDREL_TESTS_UNIT_FAKE_KERNEL_H
#define VANDREL_TESTS_UNIT_FAKE_KERNEL_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fakekernel {

struct Library {
    std::map<std::string, void *> symbols;
    int loadCount = 0;  // references held, as the real loader counts them
};

struct Kernel {
    std::string systemDirectory = "/fake/system32";
    std::map<std::string, Library> libraries;  // by full path
    std::set<std::string> presentFiles;
    unsigned long lastError = 0;
    // What the module asked for, in order: "LoadLibraryA(/fake/system32/sicl32.dll)=ok",
    // "GetProcAddress(sicl32.dll,iopen)=ok", "FreeLibrary(sicl32.dll)", ...
    std::vector<std::string> calls;
    std::vector<std::string> faults;  // misuse: freeing what is not loaded, looking into a freed one
};

Kernel &kernel();
void reset();

// Adds a loadable library at that full path.
Library &addLibrary(const std::string &path, const std::map<std::string, void *> &symbols);
std::string systemPath(const std::string &file);  // system directory + "/" + file

int liveHandles();                     // all references still held
int liveHandles(const std::string &path);
std::vector<std::string> loadedPaths();  // paths given to LoadLibraryA, in order
std::vector<std::string> callsStartingWith(const std::string &prefix);

}  // namespace fakekernel

#endif
