// The SICL library sicl32.dll as its vendor publishes it for 32-bit Windows,
// declared by the simulator for its own stand-in and tests: every entry,
// the fixed-argument ones and the variadic iprintf alike, uses the C
// calling convention (__cdecl: the caller pops its arguments), and each
// leaves the library under its plain name.
//
// Every entry returns an int error number: 0 on success, a positive SICL
// error number on failure. iopen alone returns a session id, 0 when it
// fails. iprintf keeps to the rule too: 0 when all was formatted and sent,
// not printf's count of conversions.
//
// This is written apart from the module's own declarations on purpose: the
// stand-in models the vendor, so a wrong belief in the module about the
// library shows up as a failing test instead of being shared by both sides.
#ifndef VANDREL_SIM_SICL_INTERFACE_H
#define VANDREL_SIM_SICL_INTERFACE_H

#if defined(_WIN32)
#define SIM_SICL_CALL __cdecl
#define SIM_SICL_EXPORT extern "C" __declspec(dllexport)
#else
#define SIM_SICL_CALL
#define SIM_SICL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace sicl {

#define SIM_SICL_LIBRARY_FILE "sicl32.dll"

typedef int(SIM_SICL_CALL Iopen)(const char *addr);
typedef int(SIM_SICL_CALL Iclose)(int id);
typedef int(SIM_SICL_CALL Iwrite)(int id, const char *buf, unsigned long count, int end, unsigned long *actual);
typedef int(SIM_SICL_CALL Iclear)(int id);
typedef int(SIM_SICL_CALL Itimeout)(int id, long ms);
typedef int(SIM_SICL_CALL Iread)(int id, char *buf, unsigned long max, int *reason, unsigned long *actual);
typedef int(SIM_SICL_CALL Ilocal)(int id);
typedef int(SIM_SICL_CALL Iprintf)(int id, const char *format, ...);

// The error numbers the stand-in returns.
enum {
    kErrNoError = 0,      // I_ERR_NOERROR
    kErrBadId = 4,        // not an open session
    kErrParameter = 5,    // a bad argument
    kErrNoConnection = 6, // no device answers at the session's address
    kErrNotSupported = 8, // the operation needs a device session
    kErrBadFormat = 13,   // iprintf: a format the library cannot do
    kErrTimeout = 15,     // the time limit ran out
    kErrIo = 17,          // the transfer failed on the bus
};

// Why iread stopped: bits of its reason.
enum { kReasonRequestCount = 1, kReasonChr = 2, kReasonEnd = 4 };

}  // namespace sicl

#endif
