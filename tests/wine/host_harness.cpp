// A stand-in for the host executable on 32-bit Windows: exports the R11 services
// (and, unless built with HARNESS_R11_SERVICES_ONLY, the class tests mxIsDouble
// and mxIsSparse) over a small array model, loads vandrel.dll and replays
// recorded calls.
//
// Usage: matlab.exe MODULE CALLS [TIMES]
//   MODULE  the module's file name, loaded with LoadLibraryA
//   CALLS   a file of calls, one after the other:
//             "call" NARGIN "\n", then NARGIN arguments, each
//             CLASS SPARSE COMPLEX ROWS COLUMNS "\n" and its data: for "char"
//             ROWS*COLUMNS bytes, for a numeric class ROWS*COLUMNS
//             little-endian doubles (and as many again for the imaginary part
//             when COMPLEX is 1), for any other class nothing.
//   TIMES   where to write the seconds the calls took together, one number:
//           the module's own time, without the start of this program
// What the module prints goes to stdout byte for byte. An error it raises is
// shown on stderr as "??? TEXT" and ends the replay with exit status 1, as an
// error ends the statement in the host. Harness trouble exits with status 2.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The host's array: a matrix of one class, held in column order.
struct HarnessArray {
    std::string className;  // "double", "char", "single", "cell", ...
    bool sparse;
    int rows;
    int columns;
    std::vector<double> real;
    std::vector<double> imag;  // empty when the array is real
    std::string text;          // the characters of a char array
};

struct Call {
    std::vector<HarnessArray> inputs;
};

// The end of the call under way, for the error service to jump to.
std::jmp_buf callEnd;
bool callRunning = false;
// Blocks handed out by mxCalloc in this call and not yet released.
std::vector<void *> liveBlocks;
int harnessFaults = 0;
// The time the calls take, from the first call's start.
LARGE_INTEGER timerFrequency;
LARGE_INTEGER callsStarted;
const char *timesPath = nullptr;

void harnessFault(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("harness: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    ++harnessFaults;
}

bool readFile(const char *path, std::string *contents) {
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) contents->append(chunk, got);
    std::fclose(file);
    return true;
}

// Reads one "\n"-terminated header line at *position.
bool takeLine(const std::string &data, std::size_t *position, std::string *line) {
    std::size_t end = data.find('\n', *position);
    if (end == std::string::npos) return false;
    *line = data.substr(*position, end - *position);
    *position = end + 1;
    return true;
}

bool takeDoubles(const std::string &data, std::size_t *position, std::size_t count, std::vector<double> *values) {
    if (data.size() - *position < count * sizeof(double)) return false;
    values->resize(count);
    if (count > 0) std::memcpy(values->data(), data.data() + *position, count * sizeof(double));
    *position += count * sizeof(double);
    return true;
}

bool isNumericClass(const std::string &name) {
    static const char *const kNumeric[] = {"double", "single", "logical", "int8",  "uint8",  "int16",
                                           "uint16", "int32",  "uint32",  "int64", "uint64"};
    for (const char *numeric : kNumeric)
        if (name == numeric) return true;
    return false;
}

bool parseCalls(const std::string &data, std::vector<Call> *calls) {
    std::size_t position = 0;
    std::string line;
    while (position < data.size()) {
        int inputCount = 0;
        if (!takeLine(data, &position, &line) || std::sscanf(line.c_str(), "call %d", &inputCount) != 1 ||
            inputCount < 0)
            return false;
        Call call;
        for (int i = 0; i < inputCount; ++i) {
            char className[32];
            int sparse = 0, complex = 0;
            HarnessArray array;
            if (!takeLine(data, &position, &line) ||
                std::sscanf(line.c_str(), "%31s %d %d %d %d", className, &sparse, &complex, &array.rows,
                            &array.columns) != 5 ||
                array.rows < 0 || array.columns < 0)
                return false;
            array.className = className;
            array.sparse = sparse != 0;
            std::size_t count = static_cast<std::size_t>(array.rows) * static_cast<std::size_t>(array.columns);
            if (array.className == "char") {
                if (data.size() - position < count) return false;
                array.text = data.substr(position, count);
                position += count;
            } else if (isNumericClass(array.className)) {
                if (!takeDoubles(data, &position, count, &array.real)) return false;
                if (complex && !takeDoubles(data, &position, count, &array.imag)) return false;
            }
            call.inputs.push_back(array);
        }
        calls->push_back(call);
    }
    return true;
}

void writeSeconds() {
    if (timesPath == nullptr) return;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::FILE *file = std::fopen(timesPath, "w");
    if (file == nullptr) return;
    std::fprintf(file, "%.6f\n",
                 static_cast<double>(now.QuadPart - callsStarted.QuadPart) / static_cast<double>(timerFrequency.QuadPart));
    std::fclose(file);
}

const HarnessArray *harnessArray(const void *array) { return static_cast<const HarnessArray *>(array); }

// Windows refuses to load a module that imports a name its exporter lacks;
// Wine loads it all the same, with a stub that fails only when it is called.
// The harness stands in for the refusal: every service the module imports
// from the host executable must be one this harness exports.
bool hostImportsResolve(HMODULE module, const char *moduleName) {
    char ownPath[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, ownPath, sizeof ownPath);
    if (length == 0 || length >= sizeof ownPath) {
        harnessFault("cannot tell the harness's own file name");
        return false;
    }
    const char *ownName = ownPath;
    for (const char *c = ownPath; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/') ownName = c + 1;

    const unsigned char *base = reinterpret_cast<const unsigned char *>(module);
    const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const IMAGE_NT_HEADERS32 *nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.Size == 0) return true;
    HMODULE host = GetModuleHandleA(nullptr);
    bool resolved = true;
    for (const IMAGE_IMPORT_DESCRIPTOR *from = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR *>(base + imports.VirtualAddress);
         from->Name != 0; ++from) {
        const char *library = reinterpret_cast<const char *>(base + from->Name);
        if (lstrcmpiA(library, ownName) != 0) continue;
        if (from->OriginalFirstThunk == 0) {
            harnessFault("%s lists no names of what it imports from %s", moduleName, library);
            return false;
        }
        for (const IMAGE_THUNK_DATA32 *entry = reinterpret_cast<const IMAGE_THUNK_DATA32 *>(base + from->OriginalFirstThunk);
             entry->u1.AddressOfData != 0; ++entry) {
            if (IMAGE_SNAP_BY_ORDINAL32(entry->u1.Ordinal)) {
                harnessFault("%s imports ordinal %lu from %s, which exports by name only", moduleName,
                             static_cast<unsigned long>(IMAGE_ORDINAL32(entry->u1.Ordinal)), library);
                resolved = false;
                continue;
            }
            const char *name =
                reinterpret_cast<const char *>(reinterpret_cast<const IMAGE_IMPORT_BY_NAME *>(base + entry->u1.AddressOfData)->Name);
            if (GetProcAddress(host, name) == nullptr) {
                harnessFault("%s imports %s from %s, which does not export it: Windows would not load the module",
                             moduleName, name, library);
                resolved = false;
            }
        }
    }
    return resolved;
}

}  // namespace

// ---- the services the module imports --------------------------------------

struct mxArray_tag;
typedef struct mxArray_tag mxArray;

extern "C" {

__declspec(dllexport) int mxGetM(const mxArray *array) { return harnessArray(array)->rows; }

__declspec(dllexport) int mxGetN(const mxArray *array) { return harnessArray(array)->columns; }

__declspec(dllexport) double *mxGetPr(const mxArray *array) {
    const HarnessArray *a = harnessArray(array);
    return a->real.empty() ? nullptr : const_cast<double *>(a->real.data());
}

__declspec(dllexport) double *mxGetPi(const mxArray *array) {
    const HarnessArray *a = harnessArray(array);
    return a->imag.empty() ? nullptr : const_cast<double *>(a->imag.data());
}

#ifndef HARNESS_R11_SERVICES_ONLY
// Class tests beyond the nine R11 services. The harness built with
// HARNESS_R11_SERVICES_ONLY leaves them out of its export table, as a host
// that offers only the nine would.
__declspec(dllexport) bool mxIsDouble(const mxArray *array) { return harnessArray(array)->className == "double"; }

__declspec(dllexport) bool mxIsSparse(const mxArray *array) { return harnessArray(array)->sparse; }
#endif

__declspec(dllexport) void *mxCalloc(size_t count, size_t size) {
    // One byte at least, so that an empty block is still a block to release.
    void *block = std::calloc(count == 0 || size == 0 ? 1 : count, size == 0 ? 1 : size);
    if (block == nullptr) {
        harnessFault("mxCalloc(%u, %u) found no memory", static_cast<unsigned>(count), static_cast<unsigned>(size));
        std::exit(2);
    }
    liveBlocks.push_back(block);
    return block;
}

__declspec(dllexport) void mxFree(void *block) {
    if (block == nullptr) return;
    for (std::size_t i = 0; i < liveBlocks.size(); ++i) {
        if (liveBlocks[i] == block) {
            liveBlocks.erase(liveBlocks.begin() + static_cast<std::ptrdiff_t>(i));
            std::free(block);
            return;
        }
    }
    harnessFault("mxFree of a block that mxCalloc did not give out");
}

__declspec(dllexport) int mxGetString(const mxArray *array, char *buffer, int size) {
    const HarnessArray *a = harnessArray(array);
    if (a->className != "char" || size <= 0) return 1;
    std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t length = a->text.size() < room ? a->text.size() : room;
    std::memcpy(buffer, a->text.data(), length);
    buffer[length] = '\0';
    return length < a->text.size() ? 1 : 0;
}

__declspec(dllexport) int mexPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    int result = std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
    return result;
}

__declspec(dllexport) void mexErrMsgTxt(const char *text) {
    std::fflush(stdout);
    std::fprintf(stderr, "??? %s\n", text);
    std::fflush(stderr);
    if (!callRunning) std::exit(1);
    std::longjmp(callEnd, 1);
}

}  // extern "C"

typedef void (*MexFunction)(int outputCount, mxArray *outputs[], int inputCount, const mxArray *inputs[]);

int main(int argc, char **argv) {
    // The module's text reaches the runner unchanged: no CR is added before LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s MODULE CALLS [TIMES]\n", argv[0]);
        return 2;
    }
    std::string data;
    std::vector<Call> calls;
    if (!readFile(argv[2], &data) || !parseCalls(data, &calls)) {
        harnessFault("cannot read the calls in %s", argv[2]);
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        harnessFault("LoadLibraryA(\"%s\") failed with error %lu", argv[1], GetLastError());
        return 2;
    }
    if (!hostImportsResolve(module, argv[1])) return 2;
    MexFunction gateway = reinterpret_cast<MexFunction>(reinterpret_cast<void *>(GetProcAddress(module, "mexFunction")));
    if (gateway == nullptr) {
        harnessFault("%s has no mexFunction", argv[1]);
        return 2;
    }

    timesPath = argc == 4 ? argv[3] : nullptr;
    QueryPerformanceFrequency(&timerFrequency);
    QueryPerformanceCounter(&callsStarted);
    for (Call &call : calls) {
        std::vector<const mxArray *> inputs;
        for (const HarnessArray &array : call.inputs) inputs.push_back(reinterpret_cast<const mxArray *>(&array));
        // Room for one output, which the module must leave alone.
        mxArray *outputs[1] = {nullptr};
        callRunning = true;
        if (setjmp(callEnd) != 0) {
            // The host releases what the call had allocated when an error ends it.
            callRunning = false;
            for (void *block : liveBlocks) std::free(block);
            liveBlocks.clear();
            writeSeconds();
            return 1;
        }
        gateway(0, outputs, static_cast<int>(inputs.size()), inputs.empty() ? nullptr : inputs.data());
        callRunning = false;
        if (outputs[0] != nullptr) harnessFault("the module set an output it was not asked for");
        if (!liveBlocks.empty()) {
            harnessFault("%u blocks from mxCalloc were not released by the end of the call",
                         static_cast<unsigned>(liveBlocks.size()));
            for (void *block : liveBlocks) std::free(block);
            liveBlocks.clear();
        }
    }
    writeSeconds();
    // The host keeps the module loaded to its end; releasing it here runs the
    // module's own teardown as the host's exit would.
    FreeLibrary(module);
    return harnessFaults == 0 ? 0 : 2;
}
