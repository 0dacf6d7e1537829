// Processor faults become the fatal path: the signal handlers name the fault and give the
// faulting instruction's address. They run on an alternate stack so that a stack overflow
// can still be reported.
#include "platform/log.h"

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <pthread.h>
#include <ucontext.h>

namespace {

constexpr size_t kAltStackSize = 1 << 20;
uintptr_t mainStackLow = 0;
uintptr_t mainStackHigh = 0;

void rememberMainStack() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* address = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &address, &size) == 0) {
        mainStackLow = uintptr_t(address);
        mainStackHigh = mainStackLow + size;
    }
    pthread_attr_destroy(&attr);
}

// A fault just below the stack's lowest address (the guard area) or in its lowest page
// is the stack running out.
bool isStackOverflow(const void* faultAddress) {
    uintptr_t address = uintptr_t(faultAddress);
    if (!mainStackLow) return false;
    return address + (1u << 20) >= mainStackLow && address < mainStackLow + 65536;
}

const char* faultName(int signal, const siginfo_t* info) {
    switch (signal) {
    case SIGSEGV:
        return isStackOverflow(info->si_addr) ? "Stack Overflow" : "Access Violation";
    case SIGBUS:
        return "Access Violation";
    case SIGILL:
        return "Invalid Opcode";
    case SIGFPE:
        if (info->si_code == FPE_INTDIV) return "Integer Division by Zero";
        if (info->si_code == FPE_INTOVF) return "Integer Overflow";
        return nullptr;
    }
    return nullptr;
}

void onFault(int signal, siginfo_t* info, void* context) {
    const char* name = faultName(signal, info);
    if (!name) {
        // Not one of ours: hand it to the system's default action.
        ::signal(signal, SIG_DFL);
        raise(signal);
        return;
    }
    unsigned segment = 0;
    unsigned long long instruction = 0;
#if defined(__x86_64__)
    const mcontext_t& machine = static_cast<ucontext_t*>(context)->uc_mcontext;
    segment = unsigned(machine.gregs[REG_CSGSFS] & 0xffff);
    instruction = (unsigned long long)machine.gregs[REG_RIP];
#elif defined(__i386__)
    const mcontext_t& machine = static_cast<ucontext_t*>(context)->uc_mcontext;
    segment = unsigned(machine.gregs[REG_CS] & 0xffff);
    instruction = (unsigned long long)machine.gregs[REG_EIP];
#elif defined(__aarch64__)
    instruction = (unsigned long long)static_cast<ucontext_t*>(context)->uc_mcontext.pc;
#else
    (void)context;
#endif
    fatal("An exception occured: %s at %04x:%08llx\n", name, segment, instruction);
}

} // namespace

void installCrashHandlers() {
    rememberMainStack();
    static stack_t altStack;
    altStack.ss_sp = malloc(kAltStackSize);
    altStack.ss_size = kAltStackSize;
    altStack.ss_flags = 0;
    if (altStack.ss_sp) sigaltstack(&altStack, nullptr);

    struct sigaction action = {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE})
        sigaction(signal, &action, nullptr);
    // A breakpoint without a debugger attached lets execution continue.
    ::signal(SIGTRAP, SIG_IGN);
}
