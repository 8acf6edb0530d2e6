// What a whole download should put on the bus and in the trace, built from
// the command layout, for comparison with what the fake drivers saw.
#ifndef VANDREL_TESTS_UNIT_WIRE_H
#define VANDREL_TESTS_UNIT_WIRE_H

#include <cstdint>
#include <string>
#include <vector>

#include "fake_drivers.h"

// The samples as the instrument receives them: two bytes each, high byte first.
inline std::string bigEndian(const std::vector<std::int16_t> &samples) {
    std::string bytes;
    for (std::int16_t sample : samples) {
        std::uint16_t word = static_cast<std::uint16_t>(sample);
        bytes += static_cast<char>(word >> 8);
        bytes += static_cast<char>(word & 0xFF);
    }
    return bytes;
}

inline std::string blockHeader(std::size_t points) {
    std::string count = std::to_string(2 * points);
    return "#" + std::to_string(count.size()) + count;
}

// The instrument's view of a good NI-488.2 download after its identity query.
inline std::string niWire(const std::string &name, const std::vector<std::int16_t> &i,
                          const std::vector<std::int16_t> &q) {
    return "*IDN?" + ("mmem:data \"arbi:" + name + "\", " + blockHeader(i.size()) + bigEndian(i)) +
           ("mmem:data \"arbq:" + name + "\", " + blockHeader(q.size()) + bigEndian(q));
}

inline std::string siclWire(const std::string &name, const std::vector<std::int16_t> &i,
                            const std::vector<std::int16_t> &q) {
    return "*IDN?" + ("mmem:data \"arbi:" + name + "\"," + blockHeader(i.size()) + bigEndian(i) + "\n") +
           ("mmem:data \"arbq:" + name + "\"," + blockHeader(q.size()) + bigEndian(q) + "\n");
}

// The driver calls that send one part with NI-488.2.
inline std::vector<std::string> niPartTrace(int ud, const char *prefix, const std::string &name, std::size_t points) {
    std::string d = std::to_string(ud);
    std::string count = std::to_string(2 * points);
    return {"ibeot(" + d + ",0)",
            "ibwrt(" + d + "," + fakebus::quoted(std::string("mmem:data \"") + prefix + name + "\", #") + ")",
            "ibwrt(" + d + ",\"" + std::to_string(count.size()) + "\")",
            "ibwrt(" + d + ",\"" + count + "\")",
            "ibeot(" + d + ",1)",
            "ibconfig(" + d + ",20,1)",
            "ibwrt(" + d + ",<" + count + " bytes>)",
            "ibconfig(" + d + ",20,0)"};
}

inline std::vector<std::string> siclPartTrace(int id, const char *prefix, const std::string &name, std::size_t points) {
    std::string s = std::to_string(id);
    return {"iprintf(" + s + "," + fakebus::quoted(std::string("mmem:data \"") + prefix + "%s\",") + "," +
                fakebus::quoted(name) + ")",
            "iprintf(" + s + ",\"%*wb\\n\"," + std::to_string(points) + ")"};
}

#endif
