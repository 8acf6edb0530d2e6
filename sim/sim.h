// The simulated GPIB system behind the stand-in driver libraries: the bus as
// its description file sets it up, the devices on it, the trace and the status.
//
// The bus description, one key a line ('#' starts a comment line; paths are
// relative to the description's folder):
//   interface NAME                    a board or interface: gpib0, hpib7, hpib
//   device NAME ADDRESS KIND [ID]     ADDRESS 0..30; KIND kvr (the KVR-D),
//                                     foreign (answers "*IDN?" as someone
//                                     else), silent (listens, never answers);
//                                     ID replaces the identity reply
//   store FOLDER                      where received waveforms are written:
//                                     FOLDER/<interface>-<address>/<arbi|arbq>/<name>.bin
//   trace FILE                        one line appended per driver call
//   status FOLDER                     FOLDER/<library>.status, rewritten after each call
//   wire BYTES_PER_SECOND             transfers take the time a wire of that speed takes
//   fault KIND ...                    a fault to inject (below)
// The faults; INTERFACE ADDRESS name a device described before the fault:
//   fault block-timeout INTERFACE ADDRESS MEMORY BYTES [WAIT_MS]
//                                     the device stops taking the MEMORY (arbi,
//                                     arbq) block after BYTES of its data; the
//                                     write times out after the session's
//                                     timeout, or after WAIT_MS when given
//   fault block-refused INTERFACE ADDRESS MEMORY
//                                     the write that would carry the first data
//                                     byte of the MEMORY block fails at once
//                                     (the device drops off the bus); the bytes
//                                     before it are taken
//   fault header-refused INTERFACE ADDRESS MEMORY
//                                     the write that would carry the digit
//                                     count of the MEMORY block's header (the
//                                     byte after its "#") fails at once; the
//                                     bytes before it are taken
//   fault read-fails INTERFACE ADDRESS
//                                     every read from the device fails at once
//                                     and its waiting reply is lost
//   fault unterminated INTERFACE ADDRESS
//                                     the identity reply goes out without its
//                                     closing newline (END still marks its end)
//   fault also-answers INTERFACE ADDRESS OTHER
//                                     the device answers at the free address
//                                     OTHER as well (files go under ADDRESS)
//   fault notice-short                gpib-32.dll: the notice is 12 bytes long
//   fault notice-unterminated         gpib-32.dll: the notice runs on past its
//                                     76 bytes with no terminator there
// The notice faults are taken when gpib-32.dll loads. The NI-488.2 stand-in,
// which stays loaded for a whole host session, reads the description again
// at every ibfindA when its text has changed, so that a test can switch
// devices and faults between calls; the SICL stand-in is loaded anew for
// every download and reads it then.
// A line the simulator does not understand is listed as a "problem" in the
// status file. An empty address reads time out after the session's timeout,
// in real time.
//
// The trace: `call(arguments) = result` and what the call gave back, e.g.
//   ibdev(0,19,0,8,1,0) = 32
//   ibwrt(32,"*IDN?",5) = 0x0100 count=5
//   ibrd(33,120) = 0xc100 iberr=EABO
//   iopen("hpib7,19") = 1
//   iread(1,120) = 0 reason=4 actual=41 "KVR Instruments,..."
//   iprintf(1,"%*wb\n",1000,<2000 bytes>) = 0
// Payloads up to kTraceQuoteLimit bytes are quoted with C escapes (\xNN for
// other bytes); longer ones are shown as <N bytes>.
//
// The status file: lines "key value": library, bus, loads, unloads,
// left-open-at-unload, calls (these four add up over loads), open (handles
// open now), one "open-handle" line per open descriptor or session, one
// "device" line per device, e.g.
//   device gpib0 19 kvr remote files=2 errors=0 input=idle
// (remote or local; the waveform files stored; the entries in its error
// queue; where its input stands: idle, message (a program message begun and
// not ended), block-header (inside "#" and the byte count of a block) or
// block:N (inside a block, N bytes to come)), after each device line one
// "device-error" line per queued error, oldest first, e.g.
//   device-error gpib0 19 -113,"Undefined header"
// and "problem" lines.
//
// The instrument reads its input as an IEEE 488.2 device does. A program
// message ends with a newline outside a block or with END on any byte; ';'
// separates its units. A unit is a header (e.g. "*IDN?", "SYST:ERR?",
// "*CLS", "*RST") and its parameters, or the memory command
// `mmem:data "arbi:NAME",` (or arbq; one space may follow the comma) with a
// definite-length block "#", digit count, byte count, then that many bytes,
// newlines included. A message broken off before its end leaves the
// instrument waiting for the rest (input message, block-header or block);
// an end inside a block header or its data queues -161; a header of bytes
// that cannot begin one queues -102, an unknown one -113, parameters where
// none belong -108, a malformed block header -104, anything but white space,
// ';' or the end after a block -103; after a command error the rest of the
// message is skipped. A device clear empties the input (an unfinished
// message or block leaves nothing behind) and the output queue; the error
// queue stays. "SYST:ERR?" takes the oldest entry, "*CLS" empties the queue.
#ifndef VANDREL_SIM_SIM_H
#define VANDREL_SIM_SIM_H

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

// The environment variable that names the bus description file. It belongs
// to the simulator; the module never reads it.
#define SIM_BUS_VARIABLE "VANDREL_SIM_BUS"

enum { kAddressCount = 31 };          // primary addresses 0..30
enum { kCommandLimit = 65536 };       // longest command text a device collects
enum { kErrorQueueLimit = 10 };       // the instrument's error queue depth
enum { kTraceQuoteLimit = 80 };       // longer payloads are traced as <N bytes>

// What sits at one address.
enum DeviceKind { kNoDevice, kKvrDevice, kForeignDevice, kSilentDevice };

// Where the instrument's input parser stands in the byte stream.
enum ParserState {
    kParseIdle,         // no program message under way
    kParseCommand,      // collecting a program message unit's text
    kParseBlockDigit,   // after '#': the digit count
    kParseBlockCount,   // the byte count digits
    kParseBlockData,    // the block's bytes
    kParseAfterBlock,   // the block is complete: white space, then ';' or the message's end
    kParseDiscard,      // skipping the rest of a message that held a command error
};

// Outcomes of the device operations.
enum DeviceResult { kDeviceOk, kDeviceNoListener, kDeviceTimeout, kDeviceIoError };

// The faults injected into one device (the fault key of the description).
struct SimDeviceFaults {
    std::string stallMemory;         // block-timeout: the memory whose block stalls
    std::size_t stallAfter;          // ... after this many data bytes
    long long stallWaitMicroseconds; // ... waiting this long; < 0: the session's timeout
    std::string refusedMemory;       // block-refused: the memory whose data is refused
    std::string headerRefusedMemory; // header-refused: the memory whose digit count is refused
    bool readFails;
    bool unterminated;
};

struct SimDevice {
    DeviceKind kind;
    std::string identity;
    bool remote;
    ParserState parserState;
    std::string command;        // the unit's text collected so far
    bool inQuote;               // inside a quoted string of that text
    std::string blockMemory;    // "arbi", "arbq" or what else the header named
    std::string blockName;      // waveform name from the header
    int blockDigits;
    std::string blockCountText;
    std::size_t blockSize;
    std::vector<unsigned char> block;
    std::string output;         // reply waiting to be read
    std::vector<std::string> errors;
    long filesStored;
    SimDeviceFaults faults;
};

struct SimInterface {
    std::string name;
    SimDevice devices[kAddressCount];
    std::vector<int> alsoAnswers[kAddressCount];  // further addresses each device answers at
};

// What the NI-488.2 stand-in does to its notice when it loads.
enum NoticeFault { kNoticeAsShipped, kNoticeShort, kNoticeUnterminated };

struct SimBus {
    std::string library;          // the stand-in's file name, e.g. "gpib-32.dll"
    std::string descriptionPath;  // empty when the variable is not set
    std::vector<SimInterface> interfaces;
    std::string storeFolder;      // empty: received files are not written
    std::string traceFile;        // empty: no trace
    std::string statusFolder;     // empty: no status file
    long long wireBytesPerSecond; // 0: transfers take no time
    long long callStartMicroseconds;  // steady clock at the entry of the data call under way
    std::vector<std::string> problems;  // description lines not understood
    NoticeFault noticeFault;
    std::string descriptionText;  // the description as last read
    long loads;
    long unloads;
    long leftOpenAtUnload;        // handles still open when the library was unloaded
    long calls;
};

// ---- bus (bus.cpp) --------------------------------------------------------

// Reads the bus description named by the environment and the counters of an
// earlier status file, and counts this load. Called when the library loads.
void loadBus(SimBus &bus, const char *library);
// Counts the unload and the handles left open; writes the status a last time.
void unloadBus(SimBus &bus, const std::vector<std::string> &openHandles);
// Parses description text into the bus; paths are relative to baseFolder.
void parseBusDescription(SimBus &bus, const std::string &text, const std::string &baseFolder);
// Reads the description again when its text changed since it was last read:
// interfaces, devices, faults and paths start afresh, the counters go on.
void refreshBus(SimBus &bus);

SimInterface *findInterface(SimBus &bus, const std::string &name);
// The device that answers at address (the one described there, or one that
// also answers there), or null when the address is out of range.
SimDevice *deviceAt(SimInterface &interface, int address);
// The address the device answering at address was described at.
int homeAddress(const SimInterface &interface, int address);
const char *deviceKindName(DeviceKind kind);

// Appends one line to the trace, when there is one.
void traceLine(SimBus &bus, const std::string &line);
// Payload text for the trace: a quoted C-escaped string, or "<N bytes>".
std::string tracePayload(const void *data, std::size_t count);
std::string quoteText(const char *text);

// Counts one driver call and rewrites the status file with the given open
// handles (one text each, e.g. "32 device gpib0 19").
void finishCall(SimBus &bus, const std::vector<std::string> &openHandles);

void sleepMicroseconds(long long microseconds);
// Notes the entry of a driver call that moves data: the wire time of its
// bytes counts from there, so the driver's own work on them (formatting,
// byte swapping) runs while they go out, as on a card that sends by DMA.
void startDataCall(SimBus &bus);
// Waits until the wire model has carried count bytes since the data call began.
void waitForWire(const SimBus &bus, std::size_t count);

// ---- devices (device.cpp) -------------------------------------------------

void resetDevice(SimDevice &device);
// Device clear: empties the input parser and the output queue.
DeviceResult clearDevice(SimBus &bus, SimDevice &device);
// Delivers bytes to the device; end marks the last one with END. A write the
// device stops taking times out after timeoutMicroseconds, the session's.
DeviceResult writeDevice(SimBus &bus, SimInterface &interface, int address, const void *data,
                         std::size_t count, bool end, long long timeoutMicroseconds = 0);
// Takes at most max bytes of the waiting reply, or waits timeoutMicroseconds
// in real time and times out when there is none. *end tells whether the
// reply's last byte was taken.
DeviceResult readDevice(SimBus &bus, SimDevice &device, void *buffer, std::size_t max,
                        long long timeoutMicroseconds, std::size_t *count, bool *end);
DeviceResult localDevice(SimDevice &device);
// Where the device's input stands, as the status file shows it: "idle",
// "message", "block-header" or "block:N" (N bytes of the block to come).
std::string inputState(const SimDevice &device);

// The file name a waveform name is stored under: letters, digits, '-' and
// '_' stay, every other byte becomes %XX, the empty name becomes "%", and
// long names are cut and carry a hash of the whole name after a '~'.
std::string storedFileName(const std::string &name);
// <store>/<interface>-<address>/<memory>/<storedFileName>.bin
std::string storedFilePath(const SimBus &bus, const std::string &interface, int address,
                           const std::string &memory, const std::string &name);

}  // namespace sim

#endif
