// Start-up time: the runtime start-up sequence alone, the boot library (decoding and evaluating
// the boot payload), and the whole program (`kov --version`, and `kov` running an empty script)
// as a process, against starting and ending an empty process; and the peak resident memory of
// those processes (the child's maximum resident set size as the system reports it).
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "boot/base.hpp"
#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"

using Clock = std::chrono::steady_clock;

// The wall time of one run of the program; `peak_kib` receives the child's peak resident set.
static double run_ms(const char* path, const char* arg, long* peak_kib = nullptr) {
    auto t = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", 1);
        dup2(devnull, 1);
        execl(path, path, arg, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (peak_kib) *peak_kib = usage.ru_maxrss;
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

int main(int argc, char** argv) {
    using namespace kov;
    cycles::init();
    collector::init();
    double best = 1e9;
    for (int i = 0; i < 20; i++) {
        auto t = Clock::now();
        if (i == 0) boot::init_runtime(); else boot::restart_for_tests();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    }
    std::printf("runtime start-up sequence: %.3f ms (best of 20)\n", best);
    double base_best = 1e9;
    for (int i = 0; i < 20; i++) {
        boot::restart_for_tests();
        boot::booting = false;
        collector::state.enabled = true;
        auto t = Clock::now();
        base::run();
        base_best = std::min(base_best, std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    }
    std::printf("boot library from its payload: %.3f ms (best of 20)\n", base_best);
    char empty[] = "/tmp/kov-bench-empty-XXXXXX";
    int fd = mkstemp(empty);
    if (fd >= 0) close(fd);
    std::string kov = argc > 1 ? argv[1] : "build/kov";
    double kov_best = 1e9, script_best = 1e9, true_best = 1e9;
    long version_peak = 0, script_peak = 0, true_peak = 0, peak = 0;
    for (int i = 0; i < 20; i++) {
        kov_best = std::min(kov_best, run_ms(kov.c_str(), "--version", &peak));
        version_peak = std::max(version_peak, peak);
        if (fd >= 0) {
            script_best = std::min(script_best, run_ms(kov.c_str(), empty, &peak));
            script_peak = std::max(script_peak, peak);
        }
        true_best = std::min(true_best, run_ms("/bin/true", "--version", &peak));
        true_peak = std::max(true_peak, peak);
    }
    if (fd >= 0) unlink(empty);
    std::printf("kov --version as a process: %.3f ms; kov with an empty script: %.3f ms; "
                "/bin/true: %.3f ms (best of 20)\n",
                kov_best, script_best, true_best);
    std::printf("peak resident memory: kov --version %ld KiB; kov with an empty script %ld KiB; "
                "/bin/true %ld KiB\n",
                version_peak, script_peak, true_peak);
    return 0;
}
