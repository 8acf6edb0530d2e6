/* Preloaded into 32-bit Wine where i386 programs run under user-mode emulation
 * (qemu): gives mmap's MAP_FIXED_NOREPLACE its kernel meaning again.
 *
 * The emulator takes that flag as a mere hint and maps elsewhere when the
 * address is taken. Wine then keeps the stray mapping as reserved space and
 * the Windows address space fills up until the shared user data page at
 * 0x7ffe0000 cannot be had. Here a mapping that did not land where it was asked
 * for is undone and reported as EEXIST, which Wine handles as on any kernel.
 * Built freestanding (no 32-bit C library needed): raw system calls through
 * int 0x80, errno through the C library's own __errno_location. Built for
 * x86-64 it is empty: native programs that inherit the preload (the 64-bit
 * Wine server, a shell) then load it quietly and keep their own mmap. */
#if defined(__i386__)

typedef unsigned int size_t;
typedef long long off64_t;

extern int *__errno_location(void);

enum { kMapFixedNoReplace = 0x100000, kErrorExists = 17 };
enum { kSysOldMmap = 90, kSysMunmap = 91 };

static long systemCall2(long number, long first, long second) {
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "0"(number), "b"(first), "c"(second) : "memory");
    return result;
}

/* The old mmap call takes its six arguments in memory, so only two registers
 * are needed; offsets are byte offsets below 4 GiB, enough for what Wine maps. */
static void *mapPages(void *address, size_t length, int protection, int flags, int fd, off64_t offset) {
    unsigned long arguments[6] = {(unsigned long)address, length, (unsigned long)protection,
                                  (unsigned long)flags, (unsigned long)fd, (unsigned long)offset};
    long result = systemCall2(kSysOldMmap, (long)arguments, 0);
    if ((unsigned long)result > (unsigned long)-4096) {
        *__errno_location() = (int)-result;
        return (void *)-1;
    }
    return (void *)result;
}

__attribute__((visibility("default"))) void *mmap64(void *address, size_t length, int protection, int flags,
                                                    int fd, off64_t offset) {
    if (!(flags & kMapFixedNoReplace)) return mapPages(address, length, protection, flags, fd, offset);
    void *mapped = mapPages(address, length, protection, flags & ~kMapFixedNoReplace, fd, offset);
    if (mapped == (void *)-1 || mapped == address) return mapped;
    systemCall2(kSysMunmap, (long)mapped, (long)length);
    *__errno_location() = kErrorExists;
    return (void *)-1;
}

__attribute__((visibility("default"))) void *mmap(void *address, size_t length, int protection, int flags, int fd,
                                                  long offset) {
    return mmap64(address, length, protection, flags, fd, offset);
}

#endif
