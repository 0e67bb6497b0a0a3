// The program entry: sets up the runtime on a thread with a large stack, runs the start-up
// sequence and hands over to the console, which runs scripts and the read-eval-print loop.
#include <pthread.h>
#include <csignal>

#include <cstdio>
#include <cstring>

#include "boot/base.hpp"
#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/output.hpp"
#include "core/runtime.hpp"

namespace {

constexpr size_t MACHINE_STACK = size_t(512) << 20;

struct Args {
    int argc;
    char** argv;
    int status;
};

void* run(void* p) {
    auto* a = static_cast<Args*>(p);
    using namespace kov;
    runtime::install_fault_handlers();
    std::signal(SIGPIPE, SIG_IGN);  // a closed output pipe is a write error, not the end
    output::read_console_attributes();
    runtime::set_stack_limit_from_here(MACHINE_STACK - (size_t(16) << 20));
    cycles::init();
    collector::init();
    boot::init_runtime();
    boot::booting = false;
    collector::state.enabled = true;
    for (int i = 1; i < a->argc; i++) {
        if (std::strcmp(a->argv[i], "--version") == 0) {
            output::write_c_string("Kov 0.1.0\n");
            a->status = 0;
            return nullptr;
        }
    }
    base::run();
    // The console takes over: it runs a script named on the command line and the
    // read-eval-print loop; it ends the process itself through quit, or returns after a script.
    a->status = base::do_text("cli-console-ctx/launch", "console") == Status::normal ? 0 : 1;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    Args args{argc, argv, 0};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, MACHINE_STACK);
    pthread_t thread;
    if (pthread_create(&thread, &attr, run, &args) != 0) {
        run(&args);
    } else {
        pthread_join(thread, nullptr);
    }
    std::fflush(nullptr);
    kov::runtime::exit_process(args.status);
}
