// The NI-488.2 driver GPIB-32.DLL as National Instruments publishes it for
// 32-bit Windows, declared by the simulator for its own stand-in and tests:
// the ten functions are __stdcall (the callee pops its arguments) and leave
// the library under their plain names ("ibdev", not "_ibdev@24"); the status
// word, the error code and the count are data exports, and so is the
// driver's notice, CopyrightString.
//
// This is written apart from the module's own declarations on purpose: the
// stand-in models the vendor, so a wrong belief in the module about the
// driver shows up as a failing test instead of being shared by both sides.
#ifndef VANDREL_SIM_NI488_INTERFACE_H
#define VANDREL_SIM_NI488_INTERFACE_H

#if defined(_WIN32)
#define SIM_NI_CALL __stdcall
#define SIM_NI_EXPORT extern "C" __declspec(dllexport)
#else
#define SIM_NI_CALL
#define SIM_NI_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace ni {

// The driver's file as it lies in the Windows system directory.
#define SIM_NI_LIBRARY_FILE "gpib-32.dll"

// The ten functions; each returns the status word, ibdev and ibfindA a
// descriptor (-1 when none could be had).
typedef int(SIM_NI_CALL Ibclr)(int ud);
typedef int(SIM_NI_CALL Ibconfig)(int ud, int option, int value);
typedef int(SIM_NI_CALL Ibdev)(int board, int pad, int sad, int tmo, int eot, int eos);
typedef int(SIM_NI_CALL Ibeot)(int ud, int v);
typedef int(SIM_NI_CALL IbfindA)(const char *name);
typedef int(SIM_NI_CALL Ibloc)(int ud);
typedef int(SIM_NI_CALL Ibonl)(int ud, int v);
typedef int(SIM_NI_CALL Ibrd)(int ud, void *buf, long count);
typedef int(SIM_NI_CALL Ibtmo)(int ud, int v);
typedef int(SIM_NI_CALL Ibwrt)(int ud, const void *buf, long count);

// The data exports, by name, with their types: int user_ibsta, int
// user_iberr, long user_ibcntl, and the notice as an array of char.
#define SIM_NI_STATUS_EXPORT "user_ibsta"
#define SIM_NI_ERROR_EXPORT "user_iberr"
#define SIM_NI_COUNT_EXPORT "user_ibcntl"
#define SIM_NI_NOTICE_EXPORT "CopyrightString"

// Status word bits.
enum {
    kErr = 0x8000,   // the call failed; iberr says why
    kTimo = 0x4000,  // the time limit ran out
    kEnd = 0x2000,   // END (or the end-of-string byte) came with the last byte read
    kCmpl = 0x0100,  // the I/O is complete
};

// iberr values.
enum {
    kEdvr = 0,  // system error (a bad descriptor, say)
    kEcic = 1,  // the board is not controller-in-charge
    kEnol = 2,  // no listener on the bus
    kEadr = 3,  // the board is not addressed
    kEarg = 4,  // a bad argument
    kEsac = 5,  // the board is not system controller
    kEabo = 6,  // the I/O was aborted (a time limit ran out)
    kEneb = 7,  // no such board
};

// ibconfig's option that makes the driver swap the two bytes of every byte
// pair it writes.
enum { kOptionSwapBytes = 20 };

// The notice holds the year of the release at characters 13 to 16.
enum { kNoticeYearOffset = 13, kNoticeYearLength = 4 };

// The timeout codes: kTimeoutMicroseconds[code] is how long a call waits;
// code 0 waits without limit, 17 is 1000 s.
static const long long kTimeoutMicroseconds[] = {
    0,          10,         30,          100,         300,         1000,
    3000,       10000,      30000,       100000,      300000,      1000000,
    3000000,    10000000,   30000000,    100000000,   300000000,   1000000000,
};
enum { kTimeoutCodeCount = sizeof kTimeoutMicroseconds / sizeof kTimeoutMicroseconds[0] };

}  // namespace ni

#endif
