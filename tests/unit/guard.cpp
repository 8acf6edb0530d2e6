// Catches SIGSEGV and SIGBUS around one call with sigsetjmp/siglongjmp.
#include "guard.h"

#include <csetjmp>
#include <csignal>

namespace {

sigjmp_buf *activeGuard = nullptr;

void onFault(int) {
    if (activeGuard != nullptr) siglongjmp(*activeGuard, 1);
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
}

}  // namespace

bool runGuarded(const std::function<void()> &body) {
    struct sigaction action = {};
    struct sigaction oldSegv = {};
    struct sigaction oldBus = {};
    action.sa_handler = onFault;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_NODEFER;
    sigaction(SIGSEGV, &action, &oldSegv);
    sigaction(SIGBUS, &action, &oldBus);
    sigjmp_buf jump;
    sigjmp_buf *outer = activeGuard;
    activeGuard = &jump;
    volatile bool finished = false;
    if (sigsetjmp(jump, 1) == 0) {
        body();
        finished = true;
    }
    activeGuard = outer;
    sigaction(SIGSEGV, &oldSegv, nullptr);
    sigaction(SIGBUS, &oldBus, nullptr);
    return finished;
}
