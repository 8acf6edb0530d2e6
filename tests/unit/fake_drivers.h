// Fake NI-488.2 and SICL drivers over a small scriptable GPIB bus: boards and
// interfaces by name, devices by address, fault switches, and a trace of calls.
#ifndef VANDREL_TESTS_UNIT_FAKE_DRIVERS_H
#define VANDREL_TESTS_UNIT_FAKE_DRIVERS_H

#include <map>
#include <set>
#include <string>
#include <vector>

namespace fakebus {

struct Device {
    std::string reply;       // what a read returns
    bool answers = true;     // false: reads fail as if nobody were there
    std::string staleTail;   // bytes the read leaves in the buffer past the count it reports
    std::string received;    // every byte written to it, as it went onto the bus
    // Writes to this device are numbered from 1 (iwrite, iprintf and ibwrt
    // alike); those whose numbers are in failWrites fail and reach nothing.
    std::set<int> failWrites;
    int writes = 0;
    std::vector<int> failedWrites;  // the numbers of the writes that failed, for any reason
    // What a SICL write chosen to fail returns: an I/O error unless a test
    // asks for another value.
    int siclFailResult = 17;
    int clears = 0;  // device clears (ibclr, iclear) it received
};

struct Bus {
    std::vector<std::string> trace;  // one line per driver call
    std::vector<std::string> faults; // calls on ids or descriptors that are not open, id 0, ...

    std::set<std::string> siclInterfaces;  // names iopen opens as interface sessions
    std::set<int> niBoards;                // n for each board "gpib<n>" ibfindA finds
    std::map<int, Device> devices;         // by primary address

    std::set<int> siclOpenFailsAt;  // device addresses whose iopen returns 0
    bool niDeviceFails = false;     // ibdev returns -1
    int failSampleWrite = 0;        // 1: the first sample write fails, 2: the second
    bool swapOffFails = false;      // ibconfig(ud, 20, 0) is refused
    int sampleWrites = 0;

    // Open sessions: SICL ids and NI descriptors, with what they reach.
    struct Session {
        bool device = false;
        int address = -1;
        bool swapBytes = false;  // NI option 20
    };
    std::map<int, Session> siclSessions;
    std::map<int, Session> niDescriptors;
    int nextSiclId = 1;
    int nextNiDevice = 16;
};

Bus &bus();
void reset();

// Adds a device at that address answering with reply.
Device &addDevice(int address, const std::string &reply);
// A reply of the family, e.g. "KVR Instruments,KVR-D 2470A,0,1.0".
std::string kvrReply();

// The bytes in the form the trace shows them: quoted, with C escapes.
std::string quoted(const std::string &bytes);

// A driver's notice as the CopyrightString export shows it. The text is put at
// the very end of a page followed by an inaccessible page, so that any read
// past it faults. terminated=false leaves out the terminating zero.
void setNotice(const std::string &text, bool terminated = true, bool readOnly = false);
std::string noticeNow(std::size_t length);  // the bytes at the export now

// Symbol tables of the two drivers, by export name.
std::map<std::string, void *> niSymbols();
std::map<std::string, void *> siclSymbols();

// Puts a driver into the fake kernel's system directory: loadable by its file
// name there and present as a file.
void installNi();
void installSicl();

std::string niLibraryPath();    // <system directory>/gpib-32.dll
std::string siclLibraryPath();  // <system directory>/sicl32.dll

int openSiclSessions();
int onlineNiDescriptors();

}  // namespace fakebus

#endif
