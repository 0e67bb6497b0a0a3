// The runtime's own services: the tracked heap (every block on one list, freed as a whole at
// exit), the non-local exit, fatal runtime errors and the processor-fault handlers.
#include "core/runtime.hpp"

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace kov::runtime {

namespace {

// A tracked block: this 32-byte header, then the caller's bytes.
struct TrackedBlock {
    TrackedBlock* prev;
    TrackedBlock* next;
    size_t size;
    size_t pad;
};
static_assert(sizeof(TrackedBlock) % 16 == 0);

TrackedBlock* blocks = nullptr;
size_t bytes_in_use = 0;

void link(TrackedBlock* b) {
    b->prev = nullptr;
    b->next = blocks;
    if (blocks) blocks->prev = b;
    blocks = b;
    bytes_in_use += b->size + sizeof(TrackedBlock);
}

void unlink(TrackedBlock* b) {
    if (b->prev) b->prev->next = b->next; else blocks = b->next;
    if (b->next) b->next->prev = b->prev;
    bytes_in_use -= b->size + sizeof(TrackedBlock);
}

void write_all(int fd, const char* s, size_t n) {
    while (n) {
        ssize_t w = ::write(fd, s, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        s += w;
        n -= size_t(w);
    }
}

}  // namespace

uintptr_t stack_limit = 0;

void set_stack_limit_from_here(size_t usable_bytes) {
    uintptr_t here = uintptr_t(__builtin_frame_address(0));
    stack_limit = here > usable_bytes ? here - usable_bytes : 0;
}

void throw_code(uint32_t code) { throw Unwind{code}; }

void* allocate(size_t size) {
    auto* b = static_cast<TrackedBlock*>(std::malloc(sizeof(TrackedBlock) + size));
    if (!b) runtime_error(FATAL_OUT_OF_MEMORY, 0);
    b->size = size;
    link(b);
    return b + 1;
}

void* allocate_zeroed(size_t size) {
    void* p = allocate(size);
    std::memset(p, 0, size);
    return p;
}

void* resize(void* block, size_t size) {
    if (!block) {
        auto* b = static_cast<TrackedBlock*>(std::malloc(sizeof(TrackedBlock) + size));
        if (!b) return nullptr;
        b->size = size;
        link(b);
        return b + 1;
    }
    TrackedBlock* old = static_cast<TrackedBlock*>(block) - 1;
    unlink(old);
    auto* b = static_cast<TrackedBlock*>(std::realloc(old, sizeof(TrackedBlock) + size));
    if (!b) {
        link(old);
        return nullptr;
    }
    b->size = size;
    link(b);
    return b + 1;
}

void free(void* block) {
    if (!block) return;
    TrackedBlock* b = static_cast<TrackedBlock*>(block) - 1;
    unlink(b);
    std::free(b);
}

size_t tracked_bytes() { return bytes_in_use; }

void free_all() {
    while (blocks) {
        TrackedBlock* b = blocks;
        blocks = b->next;
        std::free(b);
    }
    bytes_in_use = 0;
}

const char* error_message(int code) {
    switch (code) {
    case 1: return "access violation";
    case 2: return "datatype misalignment";
    case 3: return "breakpoint";
    case 4: return "single step";
    case 5: return "array bounds exceeded";
    case 6: return "float denormal operand";
    case 7: return "float divide by zero";
    case 8: return "float inexact result";
    case 9: return "float invalid operation";
    case 10: return "float overflow";
    case 11: return "float stack check";
    case 12: return "float underflow";
    case 13: return "integer divide by zero";
    case 14: return "integer overflow";
    case 15: return "privileged instruction";
    case 16: return "in page error";
    case 17: return "illegal instruction";
    case 18: return "noncontinuable exception";
    case 19: return "stack overflow";
    case 20: return "invalid disposition";
    case 21: return "guard page";
    case 22: return "invalid handle";
    case FATAL_OUT_OF_MEMORY: return "out of memory";
    case FATAL_NO_CATCH: return "no CATCH for THROW";
    case FATAL_ASSERTION: return "assertion failed";
    case FATAL_UNKNOWN: return "unknown error";
    case FATAL_NO_CASE: return "no value matched in CASE";
    case FATAL_NO_SWITCH: return "no value matched in SWITCH";
    default: return code >= 1 && code <= 34 ? "processor exception" : "unknown error";
    }
}

// Formats the report into a fixed buffer: usable from a signal handler.
static size_t format_report(char* out, size_t cap, int code, uintptr_t address) {
    size_t n = 0;
    auto put = [&](const char* s) {
        while (*s && n + 1 < cap) out[n++] = *s++;
    };
    auto put_dec = [&](int v) {
        char tmp[16];
        int k = 0;
        unsigned u = v < 0 ? 0u - unsigned(v) : unsigned(v);
        do { tmp[k++] = char('0' + u % 10); u /= 10; } while (u);
        if (v < 0) tmp[k++] = '-';
        while (k && n + 1 < cap) out[n++] = tmp[--k];
    };
    put("*** Runtime Error ");
    put_dec(code);
    put(": ");
    put(error_message(code));
    put("\n*** at: ");
    char hex[17];
    int digits = 0;
    for (uintptr_t a = address; a || digits < 8; a >>= 4) hex[digits++] = "0123456789ABCDEF"[a & 15];
    while (digits && n + 1 < cap) out[n++] = hex[--digits];
    put("h\n");
    return n;
}

void (*flush_output)() = nullptr;
void (*restore_terminal)() = nullptr;

void exit_process(int status) {
    if (restore_terminal) restore_terminal();
    if (flush_output) flush_output();
    std::fflush(nullptr);
    free_all();
    std::_Exit(status & 0xFF);
}

void runtime_error(int code, uintptr_t address) {
    if (code == 0) exit_process(0);
    if (restore_terminal) restore_terminal();
    char msg[160];
    size_t n = format_report(msg, sizeof msg, code, address);
    if (flush_output) flush_output();
    std::fflush(nullptr);
    write_all(1, msg, n);
    exit_process(code);
}

#if !defined(__SANITIZE_ADDRESS__)
namespace {

int fault_code(int sig, int si_code) {
    switch (sig) {
    case SIGSEGV: return 1;
    case SIGBUS: return 2;
    case SIGILL: return 17;
    case SIGFPE:
        switch (si_code) {
        case FPE_INTDIV: return 13;
        case FPE_INTOVF: return 14;
        case FPE_FLTDIV: return 7;
        case FPE_FLTOVF: return 10;
        case FPE_FLTUND: return 12;
        case FPE_FLTRES: return 8;
        default: return 9;
        }
    default: return 99;
    }
}

void on_fault(int sig, siginfo_t* info, void*) {
    char msg[160];
    size_t n = format_report(msg, sizeof msg, fault_code(sig, info->si_code),
                             uintptr_t(info->si_addr));
    if (restore_terminal) restore_terminal();
    write_all(1, msg, n);
    _exit(fault_code(sig, info->si_code) & 0xFF);
}

}  // namespace
#endif

void install_fault_handlers() {
#if defined(__SANITIZE_ADDRESS__)
    return;  // the sanitizer reports faults itself
#else
    static char* alt = nullptr;
    if (!alt) {
        size_t size = 64 * 1024;
        alt = static_cast<char*>(std::malloc(size));
        stack_t ss{};
        ss.ss_sp = alt;
        ss.ss_size = size;
        sigaltstack(&ss, nullptr);
    }
    struct sigaction sa{};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(sig, &sa, nullptr);
#endif
}

}  // namespace kov::runtime
