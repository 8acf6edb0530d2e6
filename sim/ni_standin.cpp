// gpib-32.dll: the NI-488.2 driver's exports, a thin layer over the NI-488
// family's calls on the simulated bus; it adds the driver's names, codes,
// data exports and notice.
#include <cstring>
#include <type_traits>

// The module's header is included for one piece of shared data only, the
// text of the driver's 1994 notice (kNi488Notice); everything else the
// stand-in declares itself, from the driver's published interface.
#include "gpib/driver_abi.h"
#include "sim/ni488_family.h"
#include "sim/ni488_interface.h"
#include "sim/sim.h"

using namespace ni;

// The data exports: declared with the export marker, then defined.
SIM_NI_EXPORT int user_ibsta;
SIM_NI_EXPORT int user_iberr;
SIM_NI_EXPORT long user_ibcntl;
// The notice lies in a larger array, so that the notice faults can make it
// run on past its 76 bytes and a reader that looks one byte further still
// reads inside the export.
enum { kNoticeStorage = 128 };
SIM_NI_EXPORT char CopyrightString[kNoticeStorage];
int user_ibsta = 0;
int user_iberr = 0;
long user_ibcntl = 0;
// The notice of a later driver release: only the year differs.
char CopyrightString[kNoticeStorage] =
    "\r\n Copyright 2001 National Instruments Corporation.  All rights reserved. \r\n";

// The notice is 76 characters long.
enum { kNoticeLength = sizeof kNi488Notice - 1 };
static_assert(sizeof CopyrightString > sizeof kNi488Notice, "the notice and a byte beyond it fit");

namespace {

const char *const kErrorNames[] = {"EDVR", "ECIC", "ENOL", "EADR", "EARG", "ESAC", "EABO", "ENEB"};

// The status values live in the data exports.
void storeStatus(int status, const int *error, const long *count) {
    if (error != nullptr) user_iberr = *error;
    user_ibsta = status;
    if (count != nullptr) user_ibcntl = *count;
}

const sim::NiDialect kDialect = {
    SIM_NI_LIBRARY_FILE, "ibfindA",
    kErr, kTimo, kEnd, kCmpl,
    kEdvr, kEarg, kEnol, kEabo, kEneb, kErrorNames,
    kTimeoutMicroseconds, kTimeoutCodeCount,
    storeStatus,
    kOptionSwapBytes, sim::kNiNoOption,  // byte swapping is the one option modelled
    false,
};

sim::NiLibrary driver = {&kDialect, {}, {}};

// The notice faults of the description, applied when the library loads.
const char kShortNotice[] = "\r\n Copyright";  // 12 bytes
const char kNoticeRunOn = '*';

void applyNoticeFault(sim::NoticeFault fault) {
    if (fault == sim::kNoticeShort) {
        std::memset(CopyrightString, 0, sizeof CopyrightString);
        std::memcpy(CopyrightString, kShortNotice, sizeof kShortNotice);
    } else if (fault == sim::kNoticeUnterminated) {
        // The 76 bytes, then more text up to the array's last byte.
        std::memset(CopyrightString + kNoticeLength, kNoticeRunOn, sizeof CopyrightString - kNoticeLength - 1);
        CopyrightString[sizeof CopyrightString - 1] = '\0';
    }
}

// Counts loads and unloads of this library in the status file.
struct Lifetime {
    Lifetime() {
        sim::niLoad(driver);
        applyNoticeFault(driver.bus.noticeFault);
    }
    ~Lifetime() { sim::niUnload(driver); }
};
Lifetime lifetime;

}  // namespace

SIM_NI_EXPORT int SIM_NI_CALL ibfindA(const char *name) { return sim::niFind(driver, name); }

SIM_NI_EXPORT int SIM_NI_CALL ibdev(int board, int pad, int sad, int tmo, int eot, int eos) {
    return sim::niDev(driver, board, pad, sad, tmo, eot, eos);
}

SIM_NI_EXPORT int SIM_NI_CALL ibonl(int ud, int v) { return sim::niOnl(driver, ud, v); }
SIM_NI_EXPORT int SIM_NI_CALL ibclr(int ud) { return sim::niClr(driver, ud); }
SIM_NI_EXPORT int SIM_NI_CALL ibloc(int ud) { return sim::niLoc(driver, ud); }
SIM_NI_EXPORT int SIM_NI_CALL ibtmo(int ud, int v) { return sim::niTmo(driver, ud, v); }
SIM_NI_EXPORT int SIM_NI_CALL ibeot(int ud, int v) { return sim::niEot(driver, ud, v); }
SIM_NI_EXPORT int SIM_NI_CALL ibconfig(int ud, int option, int value) {
    return sim::niConfig(driver, ud, option, value);
}
SIM_NI_EXPORT int SIM_NI_CALL ibwrt(int ud, const void *buf, long count) { return sim::niWrt(driver, ud, buf, count); }
SIM_NI_EXPORT int SIM_NI_CALL ibrd(int ud, void *buf, long count) { return sim::niRd(driver, ud, buf, count); }

// Each entry has the type the driver's interface gives it.
static_assert(std::is_same<decltype(&ibclr), Ibclr *>::value, "ibclr");
static_assert(std::is_same<decltype(&ibconfig), Ibconfig *>::value, "ibconfig");
static_assert(std::is_same<decltype(&ibdev), Ibdev *>::value, "ibdev");
static_assert(std::is_same<decltype(&ibeot), Ibeot *>::value, "ibeot");
static_assert(std::is_same<decltype(&ibfindA), IbfindA *>::value, "ibfindA");
static_assert(std::is_same<decltype(&ibloc), Ibloc *>::value, "ibloc");
static_assert(std::is_same<decltype(&ibonl), Ibonl *>::value, "ibonl");
static_assert(std::is_same<decltype(&ibrd), Ibrd *>::value, "ibrd");
static_assert(std::is_same<decltype(&ibtmo), Ibtmo *>::value, "ibtmo");
static_assert(std::is_same<decltype(&ibwrt), Ibwrt *>::value, "ibwrt");
