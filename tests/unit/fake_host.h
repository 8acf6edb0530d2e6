// A stand-in for the host (MATLAB or Octave) behind the host:: seam: arrays of
// any class and shape, a record of printed lines and host calls, tracked blocks.
#ifndef VANDREL_TESTS_UNIT_FAKE_HOST_H
#define VANDREL_TESTS_UNIT_FAKE_HOST_H

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "gateway/gateway.h"
#include "host/host.h"

enum class FakeClass { kDouble, kSingle, kInt16, kLogical, kChar, kCell, kStruct };

// The host's array as the fake models it. Values are kept as doubles whatever
// the class; viewSamples hands them out only for double arrays, laid out as
// the host that is modelled keeps them: the real and imaginary parts apart
// (the R11 host), or, when interleaved, a complex array as pairs of real and
// imaginary doubles (Octave).
struct host::Array {
    FakeClass classId = FakeClass::kDouble;
    int rows = 0;
    int columns = 0;
    bool sparse = false;
    bool complex = false;
    bool interleaved = false;
    std::vector<double> real;
    std::vector<double> imaginary;
    std::string chars;  // kChar only, column order
    // When set, the data lies there instead (huge arrays, or arrays never
    // read). Interleaved, realData holds the pairs and imagData is not used.
    const double *realData = nullptr;
    const double *imagData = nullptr;
    // The pairs of an interleaved complex array, made from real and
    // imaginary when the view is taken: exactly two doubles a point, so a
    // read past the last one is seen by the memory checkers.
    mutable std::vector<double> pairs;
};

namespace fakehost {

// Builders for the arrays tests pass to the gateway.
host::Array complexArray(int rows, int columns, double realValue = 1.0, double imagValue = 0.0);
host::Array complexVector(const std::vector<double> &re, const std::vector<double> &im);
host::Array realVector(const std::vector<double> &re);
host::Array charArray(const std::string &text);
host::Array arrayOfClass(FakeClass classId, int rows, int columns, bool complex = false);

struct Block {
    int id;
    std::size_t bytes;
    void *address;
};

// Everything the fake host saw since the last reset.
struct Record {
    std::vector<std::string> printed;  // the full text of each mexPrintf
    std::vector<std::string> calls;    // every host call, e.g. "mxCalloc(5,1)=b1"
    std::vector<std::string> errors;   // texts given to mexErrMsgTxt
    std::vector<Block> live;           // blocks not yet freed
    std::vector<std::string> faults;   // misuse seen: bad frees, overruns
    int allocations = 0;
};

Record &record();
void reset();

// The host calls that allocate or free, in order ("mxCalloc(5,1)=b1", "mxFree(b1)").
std::vector<std::string> memoryCalls();
// All printed text joined.
std::string transcript();

enum class CallResult { kReturned, kRaisedError };

// Calls mexFunction as the host would; an error raised through mexErrMsgTxt
// comes back here as kRaisedError.
CallResult callGateway(std::initializer_list<const host::Array *> inputs, int outputCount = 0);
CallResult callGatewayWith(const std::vector<const host::Array *> &inputs, int outputCount,
                           host::Array **outputs);

}  // namespace fakehost

#endif
