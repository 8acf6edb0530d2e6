// The two vendors' driver interfaces as the fake drivers model them: calling
// conventions, export and file names, status bits and result numbers, written
// from the vendors' published descriptions and kept apart from the module's
// own declarations, so that a wrong fact on the module's side shows in a test
// instead of being shared by both.
#ifndef VANDREL_TESTS_UNIT_VENDOR_H
#define VANDREL_TESTS_UNIT_VENDOR_H

// NI-488.2 declares its functions __stdcall on 32-bit Windows; SICL declares
// every entry, the variadic iprintf included, __cdecl.
#if defined(_WIN32)
#define VENDOR_NI_API __stdcall
#define VENDOR_SICL_API __cdecl
#else
#define VENDOR_NI_API
#define VENDOR_SICL_API
#endif

namespace vendor {

// ---- NI-488.2 (gpib-32.dll) ----------------------------------------------
const char kNiFile[] = "gpib-32.dll";
const char kNiStatusExport[] = "user_ibsta";
const char kNiErrorExport[] = "user_iberr";
const char kNiCountExport[] = "user_ibcntl";
const char kNiNoticeExport[] = "CopyrightString";

// Status word bits.
const int kErr = 0x8000;
const int kTimo = 0x4000;
const int kEnd = 0x2000;
const int kCmpl = 0x0100;
// Error codes in iberr.
const int kEDVR = 0;  // system error
const int kENOL = 2;  // no listener
const int kEARG = 4;  // invalid argument
const int kEABO = 6;  // I/O aborted (timeout)
// ibconfig option: swap the two bytes of every pair written.
const int kOptionSwapBytes = 20;

// ---- SICL (sicl32.dll) ---------------------------------------------------
const char kSiclFile[] = "sicl32.dll";

// Every entry returns 0 on success and a positive error number otherwise;
// iopen alone returns a session id, 0 when it fails.
const int kSiclNoError = 0;
const int kSiclBadId = 4;
const int kSiclNoConnection = 6;
const int kSiclDataError = 14;
const int kSiclTimeout = 15;
const int kSiclIoError = 17;
// Reason bits of iread.
const int kSiclReasonEnd = 4;

}  // namespace vendor

#endif
