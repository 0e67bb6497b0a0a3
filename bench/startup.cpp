// Start-up time: the runtime start-up sequence alone, and the whole program (`kov --version`)
// as a process, against starting and ending an empty process.
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/boot.hpp"
#include "core/collector.hpp"
#include "core/cycles.hpp"
#include "core/memory.hpp"

using Clock = std::chrono::steady_clock;

static double run_ms(const char* path, const char* arg) {
    auto t = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", 1);
        dup2(devnull, 1);
        execl(path, path, arg, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
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
    std::string kov = argc > 1 ? argv[1] : "build/kov";
    double kov_best = 1e9, true_best = 1e9;
    for (int i = 0; i < 20; i++) {
        kov_best = std::min(kov_best, run_ms(kov.c_str(), "--version"));
        true_best = std::min(true_best, run_ms("/bin/true", "--version"));
    }
    std::printf("kov --version as a process: %.3f ms; /bin/true: %.3f ms (best of 20)\n", kov_best,
                true_best);
    return 0;
}
