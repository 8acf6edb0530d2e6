// The adapter through its exports, as any NI-488.2 caller sees it, over the
// fake libgpib.so.0 on a simulated bus: the status exports after swapped
// writes whole and broken off, its own byte-swap option, END control kept
// across pieces, and every call failing when libgpib.so.0 cannot be found
// (the "Missing" tests, run in a process whose search path lacks the fake)
// or lacks a function ("Lacking").
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// NI-488.2 as a caller declares it.
enum { kErr = 0x8000, kTimo = 0x4000, kCmpl = 0x0100 };
enum { kEDVR = 0, kEABO = 6 };
enum { kOptionEndOfTransfer = 0x04, kOptionSwapBytes = 20 };
enum { kT10s = 13 };

struct Driver {
    void *handle;
    int (*ibfindA)(const char *);
    int (*ibdev)(int, int, int, int, int, int);
    int (*ibonl)(int, int);
    int (*ibeot)(int, int);
    int (*ibconfig)(int, int, int);
    int (*ibwrt)(int, const void *, long);
    int *ibsta;
    int *iberr;
    long *ibcntl;
};

template <typename Pointer>
Pointer find(void *handle, const char *name) {
    return reinterpret_cast<Pointer>(dlsym(handle, name));
}

Driver &driver() {
    static Driver loaded = [] {
        Driver d = {};
        d.handle = dlopen(ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (d.handle == nullptr) return d;
        d.ibfindA = find<int (*)(const char *)>(d.handle, "ibfindA");
        d.ibdev = find<int (*)(int, int, int, int, int, int)>(d.handle, "ibdev");
        d.ibonl = find<int (*)(int, int)>(d.handle, "ibonl");
        d.ibeot = find<int (*)(int, int)>(d.handle, "ibeot");
        d.ibconfig = find<int (*)(int, int, int)>(d.handle, "ibconfig");
        d.ibwrt = find<int (*)(int, const void *, long)>(d.handle, "ibwrt");
        d.ibsta = find<int *>(d.handle, "user_ibsta");
        d.iberr = find<int *>(d.handle, "user_iberr");
        d.ibcntl = find<long *>(d.handle, "user_ibcntl");
        return d;
    }();
    return loaded;
}

std::string readFile(const fs::path &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<unsigned char> partBytes(long count) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(i * 13 + i / 257);
    return bytes;
}

// A bus of its own for each test: the fake reads the description again at
// ibfind when its text changed.
class Adapter : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::path(WORK_FOLDER) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(folder);
        fs::create_directories(folder);
        ASSERT_NE(driver().handle, nullptr) << dlerror();
    }

    void describe(const std::string &extra) {
        std::ofstream(bus) << "interface gpib0\ndevice gpib0 19 kvr\n" << extra << "store " << (folder / "store").string()
                           << "\ntrace " << (folder / "trace.txt").string() << "\n";
        setenv("VANDREL_SIM_BUS", bus.c_str(), 1);
        int board = driver().ibfindA("gpib0");
        ASSERT_EQ(board, 0);
        driver().ibonl(board, 0);
    }

    // A device at 19 with a memory command for a block of count bytes sent,
    // END on and byte swapping on.
    int deviceReadyForBlock(const char *name, long count) {
        Driver &d = driver();
        int ud = d.ibdev(0, 19, 0, kT10s, 1, 0);
        EXPECT_GE(ud, 0);
        std::string digits = std::to_string(count);
        std::string header = std::string("mmem:data \"arbi:") + name + "\", #" + std::to_string(digits.size()) + digits;
        d.ibeot(ud, 0);
        d.ibwrt(ud, header.data(), static_cast<long>(header.size()));
        d.ibeot(ud, 1);
        EXPECT_EQ(d.ibconfig(ud, kOptionSwapBytes, 1) & kErr, 0);
        return ud;
    }

    std::vector<std::string> trace() {
        std::vector<std::string> lines;
        std::istringstream text(readFile(folder / "trace.txt"));
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }

    fs::path folder;
    std::string bus = (fs::path(WORK_FOLDER) / "bus.txt").string();
};

TEST_F(Adapter, SwappedWriteOverPiecesCountsEveryByteAndStoresTheNiBlock) {
    describe("");
    Driver &d = driver();
    const long count = 140000;
    int ud = deviceReadyForBlock("whole", count);
    std::vector<unsigned char> data = partBytes(count);
    int status = d.ibwrt(ud, data.data(), count);
    EXPECT_EQ(status & kErr, 0);
    EXPECT_EQ(*d.ibsta, status);
    EXPECT_EQ(*d.ibcntl, count) << "the count is every byte of the write, not the last piece's";
    // As NI-488.2 does, ibconfig leaves the previous setting in iberr.
    d.ibconfig(ud, kOptionSwapBytes, 0);
    EXPECT_EQ(*d.iberr, 1);
    EXPECT_EQ(*d.ibsta, kCmpl);
    d.ibonl(ud, 0);

    std::string stored = readFile(folder / "store" / "gpib0-19" / "arbi" / "whole.bin");
    ASSERT_EQ(stored.size(), static_cast<std::size_t>(count));
    for (long i = 0; i < count; ++i)
        ASSERT_EQ(static_cast<unsigned char>(stored[static_cast<std::size_t>(i)]),
                  data[static_cast<std::size_t>(i ^ 1)])
            << "byte " << i;
}

TEST_F(Adapter, PieceFailingMidwayReportsItsErrorAndTheBytesBeforeIt) {
    describe("fault block-timeout gpib0 19 arbi 70000 10\n");
    Driver &d = driver();
    const long count = 140000;
    int ud = deviceReadyForBlock("broken", count);
    std::vector<unsigned char> data = partBytes(count);
    int status = d.ibwrt(ud, data.data(), count);
    EXPECT_EQ(status, kErr | kTimo | kCmpl);
    EXPECT_EQ(*d.ibsta, status);
    EXPECT_EQ(*d.iberr, kEABO);
    EXPECT_EQ(*d.ibcntl, 65536) << "the first piece went out; the fake counts nothing of the failed one";
    d.ibonl(ud, 0);
    // Nothing after the failed piece; END back on.
    std::vector<std::string> lines = trace();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[lines.size() - 3].find("iberr=EABO"), std::string::npos) << lines[lines.size() - 3];
    EXPECT_EQ(lines[lines.size() - 2].rfind("ibeot(", 0), 0u) << lines[lines.size() - 2];
    EXPECT_NE(lines[lines.size() - 2].find(",1)"), std::string::npos) << lines[lines.size() - 2];
}

TEST_F(Adapter, EndTurnedOffByConfigurationStaysOffAcrossPieces) {
    describe("");
    Driver &d = driver();
    const long count = 140000;
    int ud = deviceReadyForBlock("quiet", count);
    EXPECT_EQ(d.ibconfig(ud, kOptionEndOfTransfer, 0) & kErr, 0);
    std::size_t before = trace().size();
    std::vector<unsigned char> data = partBytes(count);
    EXPECT_EQ(d.ibwrt(ud, data.data(), count) & kErr, 0);
    EXPECT_EQ(*d.ibcntl, count);
    std::vector<std::string> lines = trace();
    int pieces = 0;
    for (std::size_t i = before; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].find(" END"), std::string::npos) << lines[i];
        EXPECT_EQ(lines[i].rfind("ibwrt(", 0), 0u) << "no END control is needed: " << lines[i];
        ++pieces;
    }
    EXPECT_EQ(pieces, 3);
    d.ibonl(ud, 0);
}

TEST_F(Adapter, OnlineAgainTurnsSwappingOff) {
    describe("");
    Driver &d = driver();
    int ud = d.ibdev(0, 19, 0, kT10s, 1, 0);
    d.ibconfig(ud, kOptionSwapBytes, 1);
    EXPECT_EQ(d.ibonl(ud, 1) & kErr, 0);
    d.ibconfig(ud, kOptionSwapBytes, 0);
    EXPECT_EQ(*d.iberr, 0) << "swapping was off again";
    d.ibonl(ud, 0);
    d.ibconfig(ud, kOptionSwapBytes, 1);
    EXPECT_EQ(*d.ibsta & kErr, kErr) << "a descriptor taken offline is gone";
    EXPECT_EQ(*d.iberr, kEDVR);
}

TEST_F(Adapter, UnswappedWriteIsOneWriteOfTheCallersBytes) {
    describe("");
    Driver &d = driver();
    int ud = d.ibdev(0, 19, 0, kT10s, 1, 0);
    std::size_t before = trace().size();
    std::vector<unsigned char> data = partBytes(140000);
    d.ibwrt(ud, data.data(), static_cast<long>(data.size()));
    std::vector<std::string> lines = trace();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_EQ(lines.back().rfind("ibwrt(32,<140000 bytes>,140000) = ", 0), 0u) << lines.back();
    EXPECT_EQ(*d.ibcntl, 140000);
    d.ibonl(ud, 0);
}

void expectEveryCallFails() {
    Driver &d = driver();
    ASSERT_NE(d.handle, nullptr) << dlerror();
    EXPECT_EQ(d.ibfindA("gpib0"), -1);
    EXPECT_EQ(*d.ibsta, kErr);
    EXPECT_EQ(*d.iberr, kEDVR);
    EXPECT_NE(*d.ibcntl, 0) << "the system's error is in the count";
    EXPECT_EQ(d.ibdev(0, 19, 0, kT10s, 1, 0), -1);
    EXPECT_EQ(d.ibconfig(32, kOptionSwapBytes, 1), kErr);
    EXPECT_EQ(d.ibwrt(32, "x", 1), kErr);
    EXPECT_EQ(d.ibonl(0, 0), kErr);
    EXPECT_EQ(*d.iberr, kEDVR);
}

// Run without the fake on the search path.
TEST(Missing, EveryCallFailsWithTheErrorBitAndEdvr) {
    if (void *system = dlopen("libgpib.so.0", RTLD_NOW | RTLD_LOCAL)) {
        dlclose(system);
        GTEST_SKIP() << "this system has its own libgpib.so.0";
    }
    expectEveryCallFails();
}

// Run with a libgpib.so.0 that lacks ibfind: it is not used at all.
TEST(Lacking, ALibraryLackingAFunctionIsNotUsed) { expectEveryCallFails(); }

}  // namespace
