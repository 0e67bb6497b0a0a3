// The language runtime beneath everything: the tracked heap, the one non-local exit type, and
// fatal runtime errors. Nothing here knows about values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kov {

// Throw codes of the control transfers; larger codes pass more guards.
constexpr uint32_t THROW_ERROR = 0x7FFFFFFF;
constexpr uint32_t THROW_BREAK = 0x7FFFFFFE;
constexpr uint32_t THROW_CONTINUE = 0x7FFFFFFD;
constexpr uint32_t THROW_RETURN = 0x7FFFFFFC;
constexpr uint32_t THROW_EXIT = 0x7FFFFFFB;
constexpr uint32_t THROW_CATCH_LEVEL = 0x7FFFFFFA;  // highest code a catch guard admits
constexpr uint32_t THROW_OS_LIMIT = 0x7FFFFFF8;  // top of the band of operating-system failures
constexpr uint32_t THROW_OS_ALLOC = 0x7FFFFFF7;
constexpr uint32_t THROW_OS_FREE = 0x7FFFFFF6;

// The non-local exit. The value it carries travels on the argument stack.
struct Unwind {
    uint32_t code;
};

// What a native or an action front-end answers: normal, or a transfer already delivered to its
// receiving frame and still pending for the C++ code between (break, continue, return, exit, a
// thrown value's code, an error). A status and an Unwind's code share one domain: Status(code)
// of a caught Unwind is the same transfer as the returned status of that code.
enum class [[nodiscard]] Status : uint32_t {
    normal = 0,
    exit = THROW_EXIT,
    ret = THROW_RETURN,
    cont = THROW_CONTINUE,
    brk = THROW_BREAK,
    error = THROW_ERROR,
};

// A native or an action front-end: reads its arguments from the current frame, writes its
// result slot. `refs` holds one entry per refinement of its spec, in spec order: -1 when the
// refinement is absent, else the frame index of its first argument (for a refinement without
// arguments, the number of arguments before it). The arguments of the refinements that were
// used follow the mandatory arguments in the frame, packed in spec order.
using NativeFn = Status (*)(const int32_t* refs);

// Fatal runtime error numbers.
constexpr int FATAL_OUT_OF_MEMORY = 94;
constexpr int FATAL_NO_CATCH = 95;
constexpr int FATAL_ASSERTION = 98;
constexpr int FATAL_UNKNOWN = 99;
constexpr int FATAL_NO_CASE = 100;
constexpr int FATAL_NO_SWITCH = 101;

namespace runtime {

[[noreturn]] void throw_code(uint32_t code);

// A guard admits codes up to its level; a higher code is passed on.
inline bool admits(const Unwind& u, uint32_t level) { return u.code <= level; }

// Tracked heap: every block is recorded and released as a whole at exit.
void* allocate(size_t size);
void* allocate_zeroed(size_t size);
void* resize(void* block, size_t size);  // null when memory runs out
void free(void* block);
size_t tracked_bytes();  // bytes in use, headers included
void free_all();

// The message of a fatal runtime error number.
const char* error_message(int code);

// Prints "*** Runtime Error N: message" and "*** at: XXXXXXXXh", frees the tracked heap and
// ends the process with the number as status. Code 0 exits quietly with status 0.
[[noreturn]] void runtime_error(int code, uintptr_t address);

// The machine stack: deep recursion raises stack-overflow well before the stack runs out.
// The limit is the lowest address that frames may reach (0: no check).
extern uintptr_t stack_limit;
inline bool machine_stack_low() {
    // The stack pointer read directly: asking for the frame address would make every function
    // that marks a frame keep a frame pointer. With no limit (0) nothing is below it.
    uintptr_t sp;
#if defined(__x86_64__)
    asm("mov %%rsp, %0" : "=r"(sp));
#else
    sp = uintptr_t(__builtin_frame_address(0));
#endif
    return sp < stack_limit;
}
// Records the current stack position and the usable size below it.
void set_stack_limit_from_here(size_t usable_bytes);

// Installs the processor-fault handlers on an alternate signal stack.
void install_fault_handlers();

// Called before the process ends and before a fatal report, to flush buffered console output.
extern void (*flush_output)();
// Called on every way out of the process (exit_process, a fatal report, a processor fault) to put
// the terminal back as the user had it; must be async-signal-safe.
extern void (*restore_terminal)();

// Ends the process: flushes console output, frees the tracked heap, exits with the status.
[[noreturn]] void exit_process(int status);

}  // namespace runtime
}  // namespace kov
