// libFuzzer target: arbitrary bytes read by the lexer and evaluated as a program by the full
// runtime with its boot library. A syntax error or an error! result is a normal outcome; a
// crash, a sanitizer report, a fatal runtime error, a hang or a broken runtime invariant is a
// finding.
//
// The runtime is booted once. Before fuzzing, every word that reaches outside the process (files,
// directories, the environment, the terminal, the clipboard, other programs) or that blocks or
// ends the process is set to a function that raises an error, and the file and network services
// are emptied, so that do and load of a file! or url! and every port action raise instead.
// Each input is read value by value (a line with a syntax error is left out) and evaluated
// under a try frame; a timer raises an interrupt request 200 ms after the input starts, which
// the loops and function calls turn into an error. After each input the global words get back
// the values they had before fuzzing, and every few inputs a full collection runs.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "boot/base.hpp"
#include "core/boot.hpp"
#include "core/buffer.hpp"
#include "core/cells.hpp"
#include "core/collector.hpp"
#include "core/context.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "core/stack.hpp"
#include "datatypes/file.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/lexer.hpp"

using namespace kov;

namespace {

// The words replaced by the refusing function, and the console kit's own routines.
constexpr const char* SANDBOX = R"kov(
	; The header of a script evaluates to nothing.
	Kov: func [header [block!]] []
	_fuzz-refuse: func ["Refused while fuzzing" /local e] [
		cause-error 'user 'message ["refused while fuzzing"]
	]
	_fuzz-danger: copy []
	foreach w [
		quit q halt quit-return _terminate-console wait browse debug set-env call
		input ask input-stdin read-stdin _read-input _set-buffer-history _save-cfg
		read-clipboard write-clipboard send-event-os flip-exe-flag
		read write delete rename open create close modify query update save
		do-file load-thru read-thru do-thru exists-thru? path-thru
		make-dir create-dir change-dir cd set-current-dir exists? dir? dir list-dir ls ll
	][
		if value? w [append _fuzz-danger get w  set w :_fuzz-refuse]
	]
	foreach w [init command-line read-text write-text make-dir dir? dir-entries] [
		if in _console-kit w [set in _console-kit w :_fuzz-refuse]
	]
	; Copies of those values kept in objects (aliases, settings) are replaced as well.
	_fuzz-seen: copy []
	_fuzz-walk: func [o depth /local v] [
		if any [depth > 4 find/only/same _fuzz-seen o] [exit]
		append/only _fuzz-seen o
		foreach w words-of o [
			set/any 'v get/any in o w
			case [
				any-function? :v [
					foreach d _fuzz-danger [if same? :d :v [set in o w :_fuzz-refuse]]
				]
				any-object? :v [_fuzz-walk v depth + 1]
			]
		]
	]
	foreach w words-of system/words [
		if all [value? w any-object? get w] [_fuzz-walk get w 0]
	]
	_fuzz-seen: _fuzz-walk: none
)kov";

// The values of the global words once the sandbox is set up, put back after each input.
collector::Root* saved_globals = nullptr;

void save_globals() {
    SeriesBuffer* g = context::values(context::global);
    uint32_t n = g->used() / 16;
    saved_globals = new collector::Root(cells::make_series(T_BLOCK, memory::make_cells(n)));
    for (uint32_t i = 0; i < n; i++) {
        Cell* slot = buffer::alloc_block_tail(saved_globals->get());
        *slot = context::values(context::global)->head_cell()[i];  // read after the allocation
    }
}

void restore_globals() {
    SeriesBuffer* g = context::values(context::global);
    SeriesBuffer* s = memory::buffer_of(saved_globals->get()->data2);
    uint32_t n = g->used() / 16, kept = s->used() / 16;
    for (uint32_t i = 0; i < n; i++) g->head_cell()[i] = i < kept ? s->head_cell()[i] : cells::make_unset();
}

// The evaluation budget: a one-shot timer whose signal asks the loops to stop. libFuzzer keeps
// SIGALRM for its own time-out, so the timer signals a real-time signal instead.
// KOV_FUZZ_BUDGET_US sets another budget (microseconds), to replay a finding at other moments.
long budget_ns = 200L * 1000 * 1000;
timer_t budget_timer;

void on_budget(int) { stack::interrupt_requested = 1; }

void start_budget() {
    stack::interrupt_requested = 0;
    itimerspec t{};
    t.it_value.tv_sec = budget_ns / 1000000000L;
    t.it_value.tv_nsec = budget_ns % 1000000000L;
    timer_settime(budget_timer, 0, &t, nullptr);
}

void stop_budget() {
    itimerspec t{};
    timer_settime(budget_timer, 0, &t, nullptr);
    stack::interrupt_requested = 0;
}

// Every way out of the process runs runtime::restore_terminal first: during an input, ending
// the process (an error that no frame received, a fatal runtime error) is a finding, reported
// as a crash so that libFuzzer keeps the input.
bool in_input = false;
void (*terminal_restorer)() = nullptr;

void on_process_end() {
    if (in_input) __builtin_trap();
    if (terminal_restorer) terminal_restorer();
}

void setup() {
    // Program output goes nowhere (libFuzzer reports on stderr).
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, 1);
        close(null);
    }
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0) {
        dup2(in, 0);
        close(in);
    }
    // Deep recursion ends in stack-overflow well before the machine stack (its soft limit, less
    // what libFuzzer and the sanitizer use above this frame).
    rlimit rl{};
    size_t usable = size_t(6) << 20;
    if (getrlimit(RLIMIT_STACK, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur > (size_t(4) << 20))
        usable = size_t(rl.rlim_cur) - (size_t(2) << 20);
    runtime::set_stack_limit_from_here(usable);

    cycles::init();
    collector::init();
    boot::init_runtime();
    boot::booting = false;
    collector::state.enabled = true;
    base::run();
    io::services = io::Services{};  // every file and url action raises internal not-done
    if (base::do_text(SANDBOX, "sandbox") != Status::normal) __builtin_trap();
    save_globals();
    terminal_restorer = runtime::restore_terminal;
    runtime::restore_terminal = on_process_end;

    if (const char* us = std::getenv("KOV_FUZZ_BUDGET_US"); us && std::atol(us) > 0)
        budget_ns = std::atol(us) * 1000L;
    struct sigaction sa{};
    sa.sa_handler = on_budget;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGRTMIN, &sa, nullptr);
    sigevent ev{};
    ev.sigev_notify = SIGEV_SIGNAL;
    ev.sigev_signo = SIGRTMIN;
    if (timer_create(CLOCK_MONOTONIC, &ev, &budget_timer) != 0) __builtin_trap();
}

// Reads the input one value at a time into the block `code` (rooted): a line with a syntax
// error is left out, so that one bad byte does not leave the whole program unread.
void read_program(Cell* code, const uint8_t* data, size_t size) {
    lexer::ScanOptions o;
    o.one_value = true;
    o.block_result = true;
    o.into = code;
    size_t pos = 0;
    while (pos < size) {
        int32_t consumed = 0;
        bool failed = false;
        {
            stack::Snapshot saved;
            stack::mark_try(nullptr);
            collector::Root one;
            try {
                lexer::scan(one.get(), data + pos, uint32_t(size - pos), o, &consumed);
            } catch (const Unwind&) {
                failed = true;
            }
        }
        if (failed) {
            while (pos < size && data[pos] != '\n') pos++;
            pos++;
        } else if (consumed <= 0) {
            break;
        } else {
            pos += size_t(consumed);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = [] {
        setup();
        return true;
    }();
    (void)started;
    static uint32_t runs = 0;
    in_input = true;
    {
        stack::Snapshot saved;
        stack::mark_try(nullptr);
        collector::Root code(cells::make_series(T_BLOCK, memory::make_cells(16)));
        read_program(code.get(), data, size);
        start_budget();
        try {
            (void)interpreter::eval(code.get(), true);
        } catch (const Unwind&) {
        }
        stop_budget();
    }
    restore_globals();
    collector::state.enabled = true;  // recycle/off may have switched it off
    if (++runs % 8 == 0) collector::collect();
    in_input = false;
    return 0;
}
