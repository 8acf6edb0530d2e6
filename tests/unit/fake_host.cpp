// The fake host: arrays, printing, tracked host memory and an error call that
// ends the gateway call through longjmp, as a real host's error does.
#include "fake_host.h"

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fakehost {
namespace {

Record theRecord;
std::jmp_buf *activeJump = nullptr;
int nextBlockId = 1;

// Bytes after every block that must still hold their pattern when it is freed.
const std::size_t kGuardBytes = 32;
const unsigned char kGuardPattern = 0xA5;

std::string blockName(int id) { return "b" + std::to_string(id); }

void note(const std::string &call) { theRecord.calls.push_back(call); }

}  // namespace

Record &record() { return theRecord; }

void reset() {
    for (const Block &block : theRecord.live) std::free(block.address);
    theRecord = Record();
    nextBlockId = 1;
    activeJump = nullptr;
}

std::vector<std::string> memoryCalls() {
    std::vector<std::string> result;
    for (const std::string &call : theRecord.calls)
        if (call.compare(0, 8, "mxCalloc") == 0 || call.compare(0, 6, "mxFree") == 0) result.push_back(call);
    return result;
}

std::string transcript() {
    std::string all;
    for (const std::string &line : theRecord.printed) all += line;
    return all;
}

host::Array complexArray(int rows, int columns, double realValue, double imagValue) {
    host::Array array;
    array.rows = rows;
    array.columns = columns;
    array.complex = true;
    std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    array.real.assign(count, realValue);
    array.imaginary.assign(count, imagValue);
    return array;
}

host::Array complexVector(const std::vector<double> &re, const std::vector<double> &im) {
    host::Array array;
    array.rows = 1;
    array.columns = static_cast<int>(re.size());
    array.complex = true;
    array.real = re;
    array.imaginary = im;
    array.imaginary.resize(re.size(), 0.0);
    return array;
}

host::Array realVector(const std::vector<double> &re) {
    host::Array array;
    array.rows = 1;
    array.columns = static_cast<int>(re.size());
    array.real = re;
    return array;
}

host::Array charArray(const std::string &text) {
    host::Array array;
    array.classId = FakeClass::kChar;
    array.rows = text.empty() ? 0 : 1;
    array.columns = static_cast<int>(text.size());
    array.chars = text;
    return array;
}

host::Array arrayOfClass(FakeClass classId, int rows, int columns, bool complex) {
    host::Array array;
    array.classId = classId;
    array.rows = rows;
    array.columns = columns;
    array.complex = complex;
    std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    if (classId == FakeClass::kChar) {
        array.chars.assign(count, 'a');
    } else if (classId != FakeClass::kCell && classId != FakeClass::kStruct) {
        array.real.assign(count, 1.0);
        if (complex) array.imaginary.assign(count, 2.0);
    }
    return array;
}

CallResult callGatewayWith(const std::vector<const host::Array *> &inputs, int outputCount,
                           host::Array **outputs) {
    std::jmp_buf jump;
    std::jmp_buf *outer = activeJump;
    activeJump = &jump;
    CallResult result = CallResult::kReturned;
    if (setjmp(jump) == 0) {
        const host::Array **args = inputs.empty() ? nullptr : const_cast<const host::Array **>(inputs.data());
        ::mexFunction(outputCount, outputs, static_cast<int>(inputs.size()), args);
    } else {
        result = CallResult::kRaisedError;
    }
    activeJump = outer;
    return result;
}

CallResult callGateway(std::initializer_list<const host::Array *> inputs, int outputCount) {
    std::vector<const host::Array *> list(inputs);
    host::Array *outputs[4] = {nullptr, nullptr, nullptr, nullptr};
    return callGatewayWith(list, outputCount, outputs);
}

}  // namespace fakehost

namespace host {

using fakehost::theRecord;

int mexPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line;
    if (length > 0) {
        line.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(&line[0], line.size(), format, again);
        line.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    fakehost::note("mexPrintf");
    theRecord.printed.push_back(line);
    return length;
}

void mexErrMsgTxt(const char *text) {
    fakehost::note("mexErrMsgTxt");
    theRecord.errors.push_back(text != nullptr ? text : "(null)");
    if (fakehost::activeJump == nullptr) {
        std::fprintf(stderr, "fake host: mexErrMsgTxt outside a gateway call: %s\n", text);
        std::abort();
    }
    std::longjmp(*fakehost::activeJump, 1);
}

int mxGetM(const Array *array) {
    fakehost::note("mxGetM");
    return array->rows;
}

int mxGetN(const Array *array) {
    fakehost::note("mxGetN");
    return array->columns;
}

SampleView viewSamples(const Array *array) {
    bool numeric = array->classId != FakeClass::kChar && array->classId != FakeClass::kCell &&
                   array->classId != FakeClass::kStruct;
    if (array->interleaved && array->complex) {
        fakehost::note("mxGetComplexDoubles");
        if (array->realData != nullptr) return SampleView{array->realData, array->realData + 1, 2};
        if (!numeric || array->real.empty()) return SampleView{nullptr, nullptr, 2};
        array->pairs.clear();
        for (std::size_t k = 0; k < array->real.size(); ++k) {
            array->pairs.push_back(array->real[k]);
            array->pairs.push_back(k < array->imaginary.size() ? array->imaginary[k] : 0.0);
        }
        return SampleView{array->pairs.data(), array->pairs.data() + 1, 2};
    }
    if (array->interleaved) {
        fakehost::note("mxGetDoubles");
        if (array->realData != nullptr) return SampleView{array->realData, nullptr, 1};
        return SampleView{!numeric || array->real.empty() ? nullptr : array->real.data(), nullptr, 1};
    }
    // The R11 host layer asks for the two parts one after the other.
    fakehost::note("mxGetPr");
    const double *re = array->realData;
    if (re == nullptr && numeric && !array->real.empty()) re = array->real.data();
    fakehost::note("mxGetPi");
    const double *im = array->imagData;
    if (im == nullptr && array->complex && !array->imaginary.empty()) im = array->imaginary.data();
    return SampleView{re, im, 1};
}

void *mxCalloc(std::size_t count, std::size_t size) {
    std::size_t bytes = count * size;
    unsigned char *block = static_cast<unsigned char *>(std::calloc(bytes + fakehost::kGuardBytes, 1));
    std::memset(block + bytes, fakehost::kGuardPattern, fakehost::kGuardBytes);
    int id = fakehost::nextBlockId++;
    theRecord.live.push_back(fakehost::Block{id, bytes, block});
    ++theRecord.allocations;
    fakehost::note("mxCalloc(" + std::to_string(count) + "," + std::to_string(size) + ")=" +
                   fakehost::blockName(id));
    return block;
}

int mxGetString(const Array *array, char *buffer, int size) {
    fakehost::note("mxGetString(" + std::to_string(size) + ")");
    if (array->classId != FakeClass::kChar || size <= 0) return 1;
    std::size_t room = static_cast<std::size_t>(size) - 1;
    std::size_t copied = array->chars.size() < room ? array->chars.size() : room;
    std::memcpy(buffer, array->chars.data(), copied);
    buffer[copied] = '\0';
    return copied < array->chars.size() ? 1 : 0;
}

void mxFree(void *block) {
    for (std::size_t i = 0; i < theRecord.live.size(); ++i) {
        fakehost::Block found = theRecord.live[i];
        if (found.address != block) continue;
        const unsigned char *guard = static_cast<const unsigned char *>(block) + found.bytes;
        for (std::size_t k = 0; k < fakehost::kGuardBytes; ++k) {
            if (guard[k] != fakehost::kGuardPattern) {
                theRecord.faults.push_back("written past the end of " + fakehost::blockName(found.id));
                break;
            }
        }
        fakehost::note("mxFree(" + fakehost::blockName(found.id) + ")");
        theRecord.live.erase(theRecord.live.begin() + static_cast<std::ptrdiff_t>(i));
        std::free(block);
        return;
    }
    fakehost::note("mxFree(?)");
    theRecord.faults.push_back(block == nullptr ? "mxFree of a null block" : "mxFree of an unknown block");
}

bool mxIsDouble(const Array *array) {
    fakehost::note("mxIsDouble");
    return array->classId == FakeClass::kDouble;
}

bool mxIsSparse(const Array *array) {
    fakehost::note("mxIsSparse");
    return array->sparse;
}

}  // namespace host
