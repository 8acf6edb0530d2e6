// The fake kernel: LoadLibraryA finds libraries in a table by full path and,
// like the POSIX layer, retries with the last component in lower case.
#include "fake_kernel.h"

#include <cctype>
#include <cstring>

namespace fakekernel {
namespace {

Kernel theKernel;

std::string baseName(const std::string &path) {
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The handle is the library record itself; its path is found again from it.
const std::string *pathOf(platform::ModuleHandle module) {
    for (auto &entry : theKernel.libraries)
        if (static_cast<void *>(&entry.second) == module) return &entry.first;
    return nullptr;
}

}  // namespace

Kernel &kernel() { return theKernel; }

void reset() { theKernel = Kernel(); }

Library &addLibrary(const std::string &path, const std::map<std::string, void *> &symbols) {
    Library &library = theKernel.libraries[path];
    library.symbols = symbols;
    return library;
}

std::string systemPath(const std::string &file) { return theKernel.systemDirectory + "/" + file; }

int liveHandles() {
    int count = 0;
    for (const auto &entry : theKernel.libraries) count += entry.second.loadCount;
    return count;
}

int liveHandles(const std::string &path) {
    auto found = theKernel.libraries.find(path);
    return found == theKernel.libraries.end() ? 0 : found->second.loadCount;
}

std::vector<std::string> loadedPaths() {
    std::vector<std::string> paths;
    const std::string prefix = "LoadLibraryA(";
    for (const std::string &call : theKernel.calls) {
        if (call.compare(0, prefix.size(), prefix) != 0) continue;
        std::string::size_type end = call.rfind(")=");
        paths.push_back(call.substr(prefix.size(), end - prefix.size()));
    }
    return paths;
}

std::vector<std::string> callsStartingWith(const std::string &prefix) {
    std::vector<std::string> result;
    for (const std::string &call : theKernel.calls)
        if (call.compare(0, prefix.size(), prefix) == 0) result.push_back(call);
    return result;
}

}  // namespace fakekernel

namespace platform {

using fakekernel::theKernel;

ModuleHandle LoadLibraryA(const char *path) {
    std::string asked = path != nullptr ? path : "";
    auto found = theKernel.libraries.find(asked);
    if (found == theKernel.libraries.end()) {
        std::string lowered = asked;
        std::string::size_type slash = lowered.find_last_of('/');
        std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
        for (std::string::size_type i = start; i < lowered.size(); ++i)
            lowered[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowered[i])));
        found = theKernel.libraries.find(lowered);
    }
    if (found == theKernel.libraries.end()) {
        theKernel.lastError = kErrorModuleNotFound;
        theKernel.calls.push_back("LoadLibraryA(" + asked + ")=null");
        return nullptr;
    }
    ++found->second.loadCount;
    theKernel.calls.push_back("LoadLibraryA(" + asked + ")=ok");
    return &found->second;
}

void *GetProcAddress(ModuleHandle module, const char *name) {
    std::string symbol = name != nullptr ? name : "";
    const std::string *path = fakekernel::pathOf(module);
    std::string library = path != nullptr ? fakekernel::baseName(*path) : "?";
    void *address = nullptr;
    if (path == nullptr) {
        theKernel.faults.push_back("GetProcAddress(" + symbol + ") on a handle that is no library");
    } else {
        fakekernel::Library *record = static_cast<fakekernel::Library *>(module);
        if (record->loadCount <= 0)
            theKernel.faults.push_back("GetProcAddress(" + symbol + ") on " + library + " after its release");
        auto found = record->symbols.find(symbol);
        if (found != record->symbols.end()) address = found->second;
    }
    if (address == nullptr) theKernel.lastError = kErrorProcNotFound;
    theKernel.calls.push_back("GetProcAddress(" + library + "," + symbol + ")=" + (address ? "ok" : "null"));
    return address;
}

int FreeLibrary(ModuleHandle module) {
    const std::string *path = fakekernel::pathOf(module);
    if (path == nullptr) {
        theKernel.faults.push_back(module == nullptr ? "FreeLibrary(null)" : "FreeLibrary of an unknown handle");
        theKernel.calls.push_back("FreeLibrary(?)");
        return 0;
    }
    fakekernel::Library *record = static_cast<fakekernel::Library *>(module);
    theKernel.calls.push_back("FreeLibrary(" + fakekernel::baseName(*path) + ")");
    if (record->loadCount <= 0) {
        theKernel.faults.push_back("FreeLibrary of " + *path + " which is not loaded");
        return 0;
    }
    --record->loadCount;
    return 1;
}

unsigned GetSystemDirectoryA(char *buffer, unsigned size) {
    theKernel.calls.push_back("GetSystemDirectoryA(" + std::to_string(size) + ")");
    const std::string &folder = theKernel.systemDirectory;
    if (folder.size() + 1 > size) return static_cast<unsigned>(folder.size() + 1);
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<unsigned>(folder.size());
}

unsigned long GetLastError() { return theKernel.lastError; }

int lstrcmpA(const char *a, const char *b) { return std::strcmp(a, b); }

bool fileIsPresent(const char *path) {
    std::string asked = path != nullptr ? path : "";
    bool present = theKernel.presentFiles.count(asked) != 0;
    theKernel.calls.push_back("fileIsPresent(" + asked + ")=" + (present ? "yes" : "no"));
    return present;
}

}  // namespace platform
