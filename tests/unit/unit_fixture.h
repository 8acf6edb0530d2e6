// The common fixture of the unit tests: fresh fakes before each case, and the
// checks every case must pass at its end (no host block left, no library left
// loaded but the NI-488.2 driver, no misuse seen by a fake).
#ifndef VANDREL_TESTS_UNIT_UNIT_FIXTURE_H
#define VANDREL_TESTS_UNIT_UNIT_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "download/download.h"
#include "fake_drivers.h"
#include "fake_host.h"
#include "fake_kernel.h"
#include "gpib/ni488.h"
#include "vendor.h"

class UnitTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }

    // Fresh fakes; the language interface first, since it may still hold a
    // driver of the old fake kernel.
    static void resetAll() {
        ni488::resetLanguageInterface();
        fakekernel::reset();
        fakebus::reset();
        fakehost::reset();
    }

    void TearDown() override {
        EXPECT_TRUE(fakehost::record().live.empty()) << "host blocks left allocated: " << fakehost::record().live.size();
        EXPECT_EQ(fakehost::record().faults, std::vector<std::string>());
        EXPECT_EQ(fakekernel::kernel().faults, std::vector<std::string>());
        EXPECT_EQ(fakebus::bus().faults, std::vector<std::string>());
        EXPECT_EQ(fakekernel::liveHandles() - fakekernel::liveHandles(fakebus::niLibraryPath()), 0)
            << "a library other than the NI-488.2 driver is still loaded";
        EXPECT_LE(fakekernel::liveHandles(fakebus::niLibraryPath()), 1);
        ni488::resetLanguageInterface();
        EXPECT_EQ(fakekernel::liveHandles(), 0) << "resetLanguageInterface left the driver loaded";
        fakehost::reset();
    }

    // A state as downloadWaveform starts its stages with.
    static DownloadState freshState() {
        DownloadState state;
        std::memset(&state, 0, sizeof state);
        state.address = -1;
        return state;
    }

    static const std::vector<std::string> &printed() { return fakehost::record().printed; }
    static const std::vector<std::string> &trace() { return fakebus::bus().trace; }

    // Runs a whole download of the given parts under that name.
    static void download(const std::vector<double> &re, const std::vector<double> &im, const std::string &name) {
        std::vector<std::int16_t> samples(re.size() + 1, 0);
        host::SampleView iq = {re.data(), im.empty() ? nullptr : im.data(), 1};
        downloadWaveform(iq, static_cast<int>(re.size()), samples.data(), name.c_str());
    }
};

// The two drivers a download can go through.
enum class Lib { kNi, kSicl };
inline const char *libName(Lib lib) { return lib == Lib::kNi ? "NI-488.2" : "SICL"; }

const char kDone[] = "Done loading the waveform into the KVR dual arb.\n";

// Cases of a whole download: a driver, an interface and the instrument at 19.
class BusTest : public UnitTest {
protected:
    static void setUpBus(Lib lib) {
        if (lib == Lib::kNi) {
            fakebus::installNi();
            fakebus::bus().niBoards = {0};
        } else {
            fakebus::installSicl();
            fakebus::bus().siclInterfaces = {"hpib"};
        }
        fakebus::addDevice(19, fakebus::kvrReply());
    }

    // Every byte the instrument received.
    static const std::string &wire() { return fakebus::bus().devices[19].received; }
};

// The lines every download starts with.
inline std::vector<std::string> bannerLines() {
    return {"\n", "KVR Waveform File Download Program Version 2.0\n"};
}

inline std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

#endif
