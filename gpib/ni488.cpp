// The NI-488.2 language interface: the ten driver functions, each loading and
// identifying GPIB-32.DLL on first use, binding its entry by name once, and
// refreshing the driver's status values after every call.
#include "gpib/ni488.h"

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace ni488 {

int ibsta = 0;
int iberr = 0;
int ibcnt = 0;
long ibcntl = 0;

namespace {

// One slot per wrapper, in the order of NI488_FUNCTION_ENTRIES.
enum EntrySlot {
#define NI488_SLOT(result, name, params, args) kSlot_##name,
    NI488_FUNCTION_ENTRIES(NI488_SLOT)
#undef NI488_SLOT
    kSlotCount
};

const char *const kEntryNames[kSlotCount] = {
#define NI488_SLOT_NAME(result, name, params, args) #name,
    NI488_FUNCTION_ENTRIES(NI488_SLOT_NAME)
#undef NI488_SLOT_NAME
};

platform::ModuleHandle driver = nullptr;
const Ni488StatusWord *driverStatus = nullptr;
const Ni488ErrorCode *driverError = nullptr;
const Ni488Count *driverCount = nullptr;
void *entryCache[kSlotCount] = {};

void *fail() {
    ibsta = kNi488Err;
    iberr = kNi488EDVR;
    ibcnt = static_cast<int>(platform::GetLastError());
    ibcntl = static_cast<long>(ibcnt);
    return nullptr;
}

// The driver proves itself by its notice: the expected text with any year.
// The notice is only read, never written (it may lie in read-only memory),
// and never read past one byte beyond the expected length.
bool noticeMatches(const char *notice) {
    char copy[kNi488NoticeLength + 2] = {};
    std::size_t length = 0;
    while (length <= kNi488NoticeLength && notice[length] != '\0') {
        copy[length] = notice[length];
        ++length;
    }
    if (length != kNi488NoticeLength) return false;
    std::memcpy(copy + kNi488NoticeYearOffset, kNi488Notice + kNi488NoticeYearOffset,
                kNi488NoticeYearLength);
    return platform::lstrcmpA(copy, kNi488Notice) == 0;
}

// The driver is loaded from the system directory by full path, so that a
// copy planted in the host's working folder is never run.
platform::ModuleHandle loadDriver() {
    unsigned needed = platform::GetSystemDirectoryA(nullptr, 0);
    if (needed == 0) return nullptr;
    std::string path(needed, '\0');
    unsigned length = platform::GetSystemDirectoryA(&path[0], needed);
    if (length == 0 || length >= needed) return nullptr;
    path.resize(length);
    path += platform::kPathSeparator;
    path += NI488_LIBRARY_NAME;
    return platform::LoadLibraryA(path.c_str());
}

bool loadAndIdentifyDriver() {
    platform::ModuleHandle library = loadDriver();
    if (library == nullptr) return false;
    void *status = platform::GetProcAddress(library, NI488_STATUS_EXPORT);
    void *error = status ? platform::GetProcAddress(library, NI488_ERROR_EXPORT) : nullptr;
    void *count = error ? platform::GetProcAddress(library, NI488_COUNT_EXPORT) : nullptr;
    void *notice = count ? platform::GetProcAddress(library, NI488_NOTICE_EXPORT) : nullptr;
    if (notice == nullptr || !noticeMatches(static_cast<const char *>(notice))) {
        platform::FreeLibrary(library);
        return false;
    }
    driver = library;
    driverStatus = static_cast<const Ni488StatusWord *>(status);
    driverError = static_cast<const Ni488ErrorCode *>(error);
    driverCount = static_cast<const Ni488Count *>(count);
    return true;
}

void refreshStatus() {
    ibsta = *driverStatus;
    iberr = *driverError;
    ibcntl = *driverCount;
    ibcnt = static_cast<int>(ibcntl);
}

// The one shape of every wrapper: bind the entry once, call it, refresh the
// status. `unavailable` is what the wrapper returns when the entry cannot be
// had: -1 for the descriptor calls, the failed status word for the others.
enum Unavailable { kReturnStatus, kReturnNoDescriptor };

template <typename Entry, typename... Args>
int forward(EntrySlot slot, Unavailable unavailable, Args... args) {
    if (entryCache[slot] == nullptr) entryCache[slot] = resolveGpibEntry(kEntryNames[slot]);
    if (entryCache[slot] == nullptr) return unavailable == kReturnNoDescriptor ? -1 : ibsta;
    int result = reinterpret_cast<Entry *>(entryCache[slot])(args...);
    refreshStatus();
    return result;
}

}  // namespace

void *resolveGpibEntry(const char *name) {
    if (driver == nullptr && !loadAndIdentifyDriver()) return fail();
    void *entry = platform::GetProcAddress(driver, name);
    return entry != nullptr ? entry : fail();
}

bool driverIsLoaded() { return driver != nullptr; }

bool driverHasEntry(const char *name) { return driver != nullptr && platform::GetProcAddress(driver, name) != nullptr; }

int ibclr(int ud) { return forward<Ni488_ibclr>(kSlot_ibclr, kReturnStatus, ud); }
int ibconfig(int ud, int option, int value) {
    return forward<Ni488_ibconfig>(kSlot_ibconfig, kReturnStatus, ud, option, value);
}
int ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    return forward<Ni488_ibdev>(kSlot_ibdev, kReturnNoDescriptor, board, pad, sad, tmo, eot, eos);
}
int ibeot(int ud, int v) { return forward<Ni488_ibeot>(kSlot_ibeot, kReturnStatus, ud, v); }
int ibfindA(const char *name) { return forward<Ni488_ibfindA>(kSlot_ibfindA, kReturnNoDescriptor, name); }
int ibloc(int ud) { return forward<Ni488_ibloc>(kSlot_ibloc, kReturnStatus, ud); }
int ibonl(int ud, int v) { return forward<Ni488_ibonl>(kSlot_ibonl, kReturnStatus, ud, v); }
int ibrd(int ud, void *buf, long count) { return forward<Ni488_ibrd>(kSlot_ibrd, kReturnStatus, ud, buf, count); }
int ibtmo(int ud, int v) { return forward<Ni488_ibtmo>(kSlot_ibtmo, kReturnStatus, ud, v); }
int ibwrt(int ud, const void *buf, long count) {
    return forward<Ni488_ibwrt>(kSlot_ibwrt, kReturnStatus, ud, buf, count);
}

void resetLanguageInterface() {
    if (driver != nullptr) platform::FreeLibrary(driver);
    driver = nullptr;
    driverStatus = nullptr;
    driverError = nullptr;
    driverCount = nullptr;
    for (void *&entry : entryCache) entry = nullptr;
    ibsta = iberr = ibcnt = 0;
    ibcntl = 0;
}

}  // namespace ni488
