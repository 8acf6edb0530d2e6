// The binary interface of the two GPIB driver libraries, written once for the
// module, the stand-in drivers of the simulator and the unit-test fakes.
#ifndef VANDREL_GPIB_DRIVER_ABI_H
#define VANDREL_GPIB_DRIVER_ABI_H

// The calling conventions on 32-bit Windows, one macro per vendor so that
// the two can never be swapped: NI-488.2's functions are __stdcall (the
// callee pops its arguments), while SICL declares every entry, the variadic
// iprintf and the fixed-argument ones alike, __cdecl (the caller pops).
// Elsewhere there is one convention and both macros are empty.
#if defined(_WIN32)
#define NI488_CALL __stdcall
#define SICL_CALL __cdecl
#else
#define NI488_CALL
#define SICL_CALL
#endif

// Marks an entry that a stand-in library exports by its plain name.
#if defined(_WIN32)
#define GPIB_EXPORT extern "C" __declspec(dllexport)
#else
#define GPIB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// ---- NI-488.2 ----------------------------------------------------------
//
// X(result, name, parameter list, argument list) for each of the ten
// function entries, in the driver's alphabetical order.
#define NI488_FUNCTION_ENTRIES(X)                                                          \
    X(int, ibclr, (int ud), (ud))                                                          \
    X(int, ibconfig, (int ud, int option, int value), (ud, option, value))                 \
    X(int, ibdev, (int board, int pad, int sad, int tmo, int eot, int eos),                \
      (board, pad, sad, tmo, eot, eos))                                                    \
    X(int, ibeot, (int ud, int v), (ud, v))                                                \
    X(int, ibfindA, (const char *name), (name))                                            \
    X(int, ibloc, (int ud), (ud))                                                          \
    X(int, ibonl, (int ud, int v), (ud, v))                                                \
    X(int, ibrd, (int ud, void *buf, long count), (ud, buf, count))                        \
    X(int, ibtmo, (int ud, int v), (ud, v))                                                \
    X(int, ibwrt, (int ud, const void *buf, long count), (ud, buf, count))

// Function types: Ni488_ibclr and so on.
#define NI488_DECLARE_TYPE(result, name, params, args) typedef result(NI488_CALL Ni488_##name) params;
NI488_FUNCTION_ENTRIES(NI488_DECLARE_TYPE)
#undef NI488_DECLARE_TYPE

// Data exports of the NI-488.2 driver and their types.
#define NI488_STATUS_EXPORT "user_ibsta"
#define NI488_ERROR_EXPORT "user_iberr"
#define NI488_COUNT_EXPORT "user_ibcntl"
#define NI488_NOTICE_EXPORT "CopyrightString"
typedef int Ni488StatusWord;   // user_ibsta
typedef int Ni488ErrorCode;    // user_iberr
typedef long Ni488Count;       // user_ibcntl

// The driver's file name as the system asks for it.
#define NI488_LIBRARY_NAME "GPIB-32.DLL"

// The driver identifies itself by a notice of exactly this length; the year
// (four digits at kNi488NoticeYearOffset) changes between driver releases.
static const char kNi488Notice[] =
    "\r\n Copyright 1994 National Instruments Corporation.  All rights reserved. \r\n";
enum { kNi488NoticeLength = sizeof kNi488Notice - 1 };  // 76
enum { kNi488NoticeYearOffset = 13, kNi488NoticeYearLength = 4 };

// Status word bits the system relies on.
enum { kNi488Err = 0x8000, kNi488Timo = 0x4000, kNi488End = 0x2000, kNi488Cmpl = 0x0100 };
// iberr values.
enum { kNi488EDVR = 0, kNi488ECIC = 1, kNi488ENOL = 2, kNi488EADR = 3, kNi488EARG = 4,
       kNi488EABO = 6, kNi488ENEB = 7 };
// ibconfig option that swaps the two bytes of every byte pair written.
enum { kNi488OptionSwapBytes = 20 };

// Standard NI-488.2 timeout codes: kNi488TimeoutMicroseconds[code] is the
// time the driver waits; code 0 waits for ever.
static const long long kNi488TimeoutMicroseconds[] = {
    0,          10,         30,          100,         300,         1000,
    3000,       10000,      30000,       100000,      300000,      1000000,
    3000000,    10000000,   30000000,    100000000,   300000000,   1000000000,
};
enum { kNi488TimeoutCodeCount = sizeof kNi488TimeoutMicroseconds / sizeof kNi488TimeoutMicroseconds[0] };

// ---- SICL ---------------------------------------------------------------
//
// X(name) for the eight entries the system binds, in the order of its table.
#define SICL_ENTRIES(X) X(iopen) X(iclose) X(iwrite) X(iclear) X(itimeout) X(iread) X(ilocal) X(iprintf)

typedef int(SICL_CALL Sicl_iopen)(const char *addr);
typedef int(SICL_CALL Sicl_iclose)(int id);
typedef int(SICL_CALL Sicl_iwrite)(int id, const char *buf, unsigned long count, int end,
                                   unsigned long *actual);
typedef int(SICL_CALL Sicl_iclear)(int id);
typedef int(SICL_CALL Sicl_itimeout)(int id, long ms);
typedef int(SICL_CALL Sicl_iread)(int id, char *buf, unsigned long max, int *reason,
                                  unsigned long *actual);
typedef int(SICL_CALL Sicl_ilocal)(int id);
typedef int(SICL_CALL Sicl_iprintf)(int id, const char *format, ...);

#define SICL_LIBRARY_NAME "sicl32.dll"
// The NI-488.2 driver's file as it lies in the system directory.
#define NI488_LIBRARY_FILE "gpib-32.dll"

#endif
