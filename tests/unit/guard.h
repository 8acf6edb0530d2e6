// Runs a piece of a test so that a memory fault in it (a read past a driver's
// notice, a write into read-only memory) fails that test instead of the run.
#ifndef VANDREL_TESTS_UNIT_GUARD_H
#define VANDREL_TESTS_UNIT_GUARD_H

#include <functional>

// True when body ran to its end; false when it hit SIGSEGV or SIGBUS.
bool runGuarded(const std::function<void()> &body);

#endif
